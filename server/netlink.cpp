#include "netlink.h"

#include <cerrno>
#include <cstring>
#include <netinet/in.h>
#include <sys/socket.h>

#include "log.h"
#include "platform.h"

int netlink_socket = -1;
uint32_t netlink_broadcast_addr = 0;

void netlink_broadcast(const char *data, size_t length)
{
    if (netlink_socket < 0)
        return;
    if (length >= 1024) {
        log_error("netlink_broadcast: %zu might be to long\n", length);
        return;
    }
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons((uint16_t)platform_port());
    to.sin_addr.s_addr = netlink_broadcast_addr;
    if (sendto(netlink_socket, data, length, 0, (sockaddr *)&to, sizeof to) < 0)
        log_error("sendto: %s\n", strerror(errno));
}
