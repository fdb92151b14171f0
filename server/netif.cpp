#include "netif.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>
#include <sys/ioctl.h>
#include <sys/socket.h>

#include "log.h"
#include "unique_fd.h"

namespace {

// The interface records read at once: 40 of them, more than the device has.
constexpr size_t IFCONF_BYTES = 1600;

}  // namespace

int get_if_exists(const char *name)
{
    ifaddrs *list;
    if (getifaddrs(&list) != 0) {
        log_error("get_if_exists/getifaddrs: %s\n", strerror(errno));
        return 0;
    }
    int found = 0;
    for (ifaddrs *i = list; i != nullptr && !found; i = i->ifa_next)
        found = i->ifa_name != nullptr && strcmp(i->ifa_name, name) == 0;
    freeifaddrs(list);
    return found;
}

uint32_t get_if_addr()
{
    unique_fd fd(socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
    if (fd.get() < 0) {
        log_error("get_if_addr/socket: %s\n", strerror(errno));
        return 0;
    }
    // ifreq records, aligned for the kernel to fill.
    ifreq records[IFCONF_BYTES / sizeof(ifreq)];
    ifconf conf{};
    conf.ifc_len = sizeof records;
    conf.ifc_req = records;
    if (ioctl(fd.get(), SIOCGIFCONF, &conf) != 0) {
        log_error("get_if_addr/ioctl: %s\n", strerror(errno));
        return 0;
    }
    // Only interfaces with an IPv4 address are listed.
    size_t count = (size_t)conf.ifc_len / sizeof(ifreq);
    for (size_t i = 0; i < count; i++) {
        if (strncmp(records[i].ifr_name, NETIF_BRIDGE, IFNAMSIZ) != 0 || records[i].ifr_addr.sa_family != AF_INET)
            continue;
        sockaddr_in a;
        memcpy(&a, &records[i].ifr_addr, sizeof a);
        return ntohl(a.sin_addr.s_addr);
    }
    return 0;
}
