#include "netlink.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <netinet/in.h>
#include <pthread.h>
#include <sys/socket.h>

#include "command.h"
#include "dnsd.h"
#include "dsp/rt_thread.h"
#include "log.h"
#include "netconf.h"
#include "netconf_daemon.h"
#include "netif.h"
#include "netlink_devices.h"
#include "netlink_packet.h"
#include "platform.h"
#include "report.h"
#include "system.h"

int netlink_socket = -1;
std::atomic<uint32_t> netlink_broadcast_addr{0};

namespace {

constexpr int64_t SECOND_US = 1000000;
constexpr int LINGER_S = 30;
constexpr int REPORT_NETWORK = 21;

// Guards the settings copy; the manager holds it while it prepares a hello.
pthread_mutex_t g_netconf_lock = PTHREAD_MUTEX_INITIALIZER;
netlink_settings g_settings;
// Written by the manager only, read by the link threads and the reports.
std::atomic<uint32_t> g_own_addr{0};
// Manager only: the mode byte of the last round, -1 before the first.
int g_last_mode = -1;

void sleep_us(int64_t us)
{
    timespec t = {(time_t)(us / SECOND_US), (long)(us % SECOND_US) * 1000};
    while (nanosleep(&t, &t) != 0 && errno == EINTR) {
    }
}

// 0 to 2.1 s, so devices that start together do not send together.
int64_t jitter_us()
{
    return random() >> 10;
}

sockaddr_in link_address(uint32_t addr_net)
{
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons((uint16_t)platform_port());
    to.sin_addr.s_addr = addr_net;
    return to;
}

// Caller holds the network-configuration lock.
void update_broadcast_address()
{
    uint32_t bc = netlink_broadcast_address(g_own_addr.load(), g_settings.net_flags, g_settings.netmask_bits);
    netlink_broadcast_addr.store(htonl(bc));
}

void send_hello()
{
    char name[SYS_LABEL_SIZE];
    pthread_mutex_lock(&command_lock);
    memcpy(name, my_sys->device_name, sizeof name);
    pthread_mutex_unlock(&command_lock);
    name[sizeof name - 1] = 0;

    char buf[NETLINK_PACKET_MAX];
    pthread_mutex_lock(&g_netconf_lock);
    update_broadcast_address();
    uint32_t to = netlink_broadcast_addr.load();
    size_t n = netlink_format_hello(buf, sizeof buf, g_own_addr.load(), name);
    if (to != 0 && n > 0) {
        sockaddr_in a = link_address(to);
        if (sendto(netlink_socket, buf, n, 0, (sockaddr *)&a, sizeof a) < 0)
            log_error("sendto: %s\n", strerror(errno));
    }
    pthread_mutex_unlock(&g_netconf_lock);
}

// Step 3 of a round: the bridge's address as the system has it now. A new
// address is reported (report 21) and becomes the DNS wildcard's answer.
void track_own_address()
{
    uint32_t addr = get_if_addr();
    if (addr == g_own_addr.load())
        return;
    g_own_addr.store(addr);
    log_output("ip: %x\n", addr);
    pthread_mutex_lock(&command_lock);
    report_device(REPORT_NETWORK, REPORT_CONN_SERVER);
    pthread_mutex_unlock(&command_lock);
    pthread_mutex_lock(&g_netconf_lock);
    update_broadcast_address();
    pthread_mutex_unlock(&g_netconf_lock);
    netlink_devices_publish(addr);
}

void *helloworld_thread(void *)
{
    // The last four bytes of the MAC address tell devices' jitter apart. Read
    // here, off the start-up path: only this thread draws random numbers.
    uint8_t mac[6] = {0, 0, 0, 0, 0, 0};
    device_mac(mac);
    srandom((unsigned)mac[2] << 24 | (unsigned)mac[3] << 16 | (unsigned)mac[4] << 8 | mac[5]);
    while (!get_if_exists(NETIF_BRIDGE))
        sleep_us(SECOND_US + jitter_us());
    for (;;) {
        send_hello();
        sleep_us(SECOND_US + jitter_us());
        netlink_manage_round();
    }
    return nullptr;
}

void *listener_thread(void *)
{
    char buf[NETLINK_PACKET_MAX];
    for (;;) {
        if (g_own_addr.load() == 0) {
            sleep_us(SECOND_US);
            continue;
        }
        sockaddr_in from{};
        socklen_t from_len = sizeof from;
        ssize_t n = recvfrom(netlink_socket, buf, sizeof buf, 0, (sockaddr *)&from, &from_len);
        if (n < 0) {
            log_error("recvfrom: %s\n", strerror(errno));
            continue;
        }
        netlink_receive(buf, (size_t)n, ntohl(from.sin_addr.s_addr));
    }
    return nullptr;
}

void run_link_line(const char *line, void *)
{
    command_work(line, 1);
}

void start_thread(void *(*fn)(void *))
{
    pthread_t thread;
    int rc = pthread_create(&thread, nullptr, fn, nullptr);
    log_assert(rc == 0);
    pthread_detach(thread);
}

}  // namespace

void netlink_broadcast(const char *data, size_t length)
{
    if (netlink_socket < 0)
        return;
    if (length >= NETLINK_PACKET_MAX) {
        log_error("netlink_broadcast: %zu might be to long\n", length);
        return;
    }
    uint32_t to = netlink_broadcast_addr.load();
    if (to == 0)
        return;
    sockaddr_in a = link_address(to);
    if (sendto(netlink_socket, data, length, 0, (sockaddr *)&a, sizeof a) < 0)
        log_error("sendto: %s\n", strerror(errno));
}

void netlink_settings_refresh()
{
    pthread_mutex_lock(&g_netconf_lock);
    g_settings.net_flags = my_sys->net_flags;
    memcpy(g_settings.ip, my_sys->ip, sizeof g_settings.ip);
    g_settings.netmask_bits = my_sys->netmask_bits;
    memcpy(g_settings.gateway, my_sys->gateway, sizeof g_settings.gateway);
    g_settings.changed = true;
    pthread_mutex_unlock(&g_netconf_lock);
}

uint32_t netlink_own_address()
{
    return g_own_addr.load();
}

void netlink_manage_round()
{
    // The static branch applies reported settings once: the flag is taken
    // with the copy, so a report during the round is applied next round.
    pthread_mutex_lock(&g_netconf_lock);
    netlink_settings s = g_settings;
    g_settings.changed = false;
    pthread_mutex_unlock(&g_netconf_lock);
    int mode = s.net_flags & 0xff;
    bool changed = mode != g_last_mode;

    netconf_reap();
    // 1. The bridge's addressing and its daemons.
    netconf_apply_mode(s, changed);
    // 2. The DNS service follows the mode byte.
    if (changed)
        dnsd_set_enabled(!(mode & NET_FLAG_DNS_OFF));
    // 3. The bridge's own address.
    track_own_address();
    // 4.
    g_last_mode = mode;
    // 5. The WLAN access point.
    netconf_wlan_round();
}

void netlink_receive(const char *data, size_t len, uint32_t sender)
{
    if (netlink_is_hello(data, len)) {
        netlink_hello h;
        if (netlink_parse_hello(data, len, &h) && netlink_devices_hello(h, netconf_now_ns()))
            netlink_devices_publish(g_own_addr.load());
        return;
    }
    // Our own link packets come back with the broadcast.
    if (sender == g_own_addr.load() || !netlink_is_link_packet(data, len))
        return;
    pthread_mutex_lock(&command_lock);
    netlink_groups groups;
    for (int b = 0; b < SYS_BUSES; b++)
        groups.bus_net[b] = my_sys->bus[b].group_net;
    for (int o = 0; o < SYS_OUTPUTS; o++) {
        groups.out_net[o] = my_sys->out[o].group_net;
        groups.out_group[o] = my_sys->out[o].group_lsp;
    }
    netlink_link_lines(data, len, groups, run_link_line, nullptr);
    pthread_mutex_unlock(&command_lock);
}

int netlink_init()
{
    int udp_socket = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    log_assert(udp_socket >= 0);
    int one = 1;
    int status = setsockopt(udp_socket, SOL_SOCKET, SO_BROADCAST, &one, sizeof one);
    log_assert(status >= 0);
    status = setsockopt(udp_socket, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    log_assert(status >= 0);
    linger l = {1, LINGER_S};
    status = setsockopt(udp_socket, SOL_SOCKET, SO_LINGER, &l, sizeof l);
    log_assert(status >= 0);
    sockaddr_in any = link_address(htonl(INADDR_ANY));
    status = bind(udp_socket, (sockaddr *)&any, sizeof any);
    log_assert(status != -1);
    netlink_socket = udp_socket;

    // Every thread started from here on inherits the mask.
    sigset_t blocked;
    sigemptyset(&blocked);
    sigaddset(&blocked, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &blocked, nullptr);

    pthread_mutex_lock(&command_lock);
    netlink_settings_refresh();
    pthread_mutex_unlock(&command_lock);

    dnsd_init();
    // The wildcard answers from the start, with 0.0.0.0 until the address is known.
    netlink_devices_publish(0);
    start_thread(helloworld_thread);
    start_thread(listener_thread);
    return 0;
}
