#include "netconf.h"

#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>

#include "dsp/rt_thread.h"
#include "log.h"
#include "netconf_daemon.h"
#include "netconf_files.h"
#include "netif.h"
#include "netlink_packet.h"
#include "platform.h"
#include "report.h"
#include "system.h"
#include "wlan.h"

namespace {

constexpr int REPORT_NETWORK = 21;
constexpr int AUTO_AS_SERVER = 1;
constexpr int AUTO_AS_CLIENT = 2;

netconf_daemon g_daemons[NETCONF_DAEMONS] = {
    netconf_daemon_make("udhcpd", "dhcpd"),
    netconf_daemon_make("udhcpc", "dhcpc"),
    netconf_daemon_make("hostapd", "hostapd"),
};
netconf_daemon &g_dhcpd = g_daemons[NETCONF_DHCPD];
netconf_daemon &g_dhcpc = g_daemons[NETCONF_DHCPC];
netconf_daemon &g_hostapd = g_daemons[NETCONF_HOSTAPD];

// The access point is started and stopped by the hello thread and reloaded
// by a passphrase command: its process id and configuration file change
// only under this lock, and a signal only ever goes to an unreaped child.
// Order: command lock before this one (a command reloads holding it).
std::mutex g_ap_lock;
std::atomic<bool> g_wlan_active{false};

// Manager only: what automatic mode decided when it last changed.
int g_auto_decision = AUTO_AS_SERVER;

void queue_network_report()
{
    pthread_mutex_lock(&command_lock);
    report_device(REPORT_NETWORK, REPORT_CONN_SERVER);
    pthread_mutex_unlock(&command_lock);
}

void start_dhcp_server(int mode, int64_t now)
{
    platform_exec({"ifconfig", NETIF_BRIDGE, NETCONF_SERVER_ADDR});
    platform_exec({platform_path("/bin/touch"), platform_path(NETCONF_UDHCPD_LEASES)});
    make_udhcpd_config(mode);
    std::string conf = platform_path(NETCONF_UDHCPD_CONF);
    const char *argv[] = {"udhcpd", "-f", conf.c_str(), nullptr};
    netconf_daemon_start(&g_dhcpd, argv, now);
}

void start_dhcp_client(int64_t now)
{
    platform_exec({"ifconfig", NETIF_BRIDGE, "0.0.0.0"});
    const char *argv[] = {"udhcpc", "-f", "-R", "-A", "3", "-i", NETIF_BRIDGE, nullptr};
    netconf_daemon_start(&g_dhcpc, argv, now);
}

// Asks once whether a DHCP server answers on the bridge (up to six tries).
int decide_automatic()
{
    netconf_daemon_stop(&g_dhcpc);
    netconf_daemon_stop(&g_dhcpd);
    platform_exec({"route", "add", "-net", NETCONF_SERVER_NET, "netmask", NETCONF_SERVER_MASK, NETIF_BRIDGE});
    int status = platform_exec({"udhcpc", "-qnR", "-t", "6", "-i", NETIF_BRIDGE});
    return status == 0 ? AUTO_AS_CLIENT : AUTO_AS_SERVER;
}

uint32_t pack(const int32_t octets[4])
{
    return (uint32_t)(octets[0] & 0xff) << 24 | (uint32_t)(octets[1] & 0xff) << 16 |
           (uint32_t)(octets[2] & 0xff) << 8 | (uint32_t)(octets[3] & 0xff);
}

// "a.b.c.d" of a host-order address.
struct dotted {
    char text[16];
    explicit dotted(uint32_t a)
    {
        snprintf(text, sizeof text, "%u.%u.%u.%u", a >> 24, a >> 16 & 0xff, a >> 8 & 0xff, a & 0xff);
    }
};

// Network and broadcast address of the configured length, so a netmask
// other than 24 bits gets routes and a broadcast address that fit it.
void apply_static(const netlink_settings &s)
{
    uint32_t addr = pack(s.ip);
    uint32_t gateway = pack(s.gateway);
    uint32_t mask = netlink_netmask(s.netmask_bits);
    dotted a(addr), m(mask), net(addr & mask), bc(addr | ~mask), gw(gateway);
    platform_exec({"route", "del", "default"});
    platform_exec({"route", "del", "-net", NETCONF_SERVER_NET, "netmask", NETCONF_SERVER_MASK, NETIF_BRIDGE});
    platform_exec({"route", "add", "-net", net.text, "netmask", m.text, NETIF_BRIDGE});
    if (gateway != 0)
        platform_exec({"route", "add", "default", "gw", gw.text, NETIF_BRIDGE});
    platform_exec({"ifconfig", NETIF_BRIDGE, a.text, "netmask", m.text, "broadcast", bc.text});
}

}  // namespace

void netconf_reap()
{
    int64_t now = netconf_now_ns();
    netconf_daemon_reap(&g_dhcpd, now);
    netconf_daemon_reap(&g_dhcpc, now);
    bool ap_ended;
    {
        std::lock_guard<std::mutex> lock(g_ap_lock);
        ap_ended = netconf_daemon_reap(&g_hostapd, now) && g_wlan_active.exchange(false);
    }
    if (ap_ended)
        queue_network_report();
}

void netconf_apply_mode(const netlink_settings &s, bool changed)
{
    int mode = s.net_flags & 0xff;
    int kind = mode & NET_MODE_MASK;
    int64_t now = netconf_now_ns();
    if (kind == NET_MODE_AUTO) {
        if (changed)
            g_auto_decision = decide_automatic();
        kind = g_auto_decision == AUTO_AS_CLIENT ? NET_MODE_DHCP_CLIENT : NET_MODE_DHCP_SERVER;
    }
    switch (kind) {
    case NET_MODE_DHCP_SERVER:
        // A new mode byte may change what the server offers: restart it.
        if (changed)
            netconf_daemon_stop(&g_dhcpd);
        netconf_daemon_stop(&g_dhcpc);
        if (netconf_daemon_due(&g_dhcpd, now))
            start_dhcp_server(mode, now);
        break;
    case NET_MODE_DHCP_CLIENT:
        netconf_daemon_stop(&g_dhcpd);
        if (netconf_daemon_due(&g_dhcpc, now))
            start_dhcp_client(now);
        break;
    default:
        netconf_daemon_stop(&g_dhcpc);
        netconf_daemon_stop(&g_dhcpd);
        if (changed || s.changed)
            apply_static(s);
        break;
    }
}

void netconf_wlan_round()
{
    bool present = get_if_exists(NETIF_WLAN);
    bool start, stop;
    {
        std::lock_guard<std::mutex> lock(g_ap_lock);
        start = present && netconf_daemon_due(&g_hostapd, netconf_now_ns());
        stop = !present && g_hostapd.pid != 0;
    }
    bool report = false;
    if (start) {
        platform_exec({"brctl", "addif", NETIF_BRIDGE, NETIF_WLAN});
        // Gathered before the access-point lock: the command lock comes first.
        char name[SYS_LABEL_SIZE];
        pthread_mutex_lock(&command_lock);
        memcpy(name, my_sys->device_name, sizeof name);
        pthread_mutex_unlock(&command_lock);
        name[sizeof name - 1] = 0;
        std::string pass = wlan_passphrase();
        std::string conf = platform_path(NETCONF_HOSTAPD_CONF);
        const char *argv[] = {"hostapd", conf.c_str(), nullptr};
        std::lock_guard<std::mutex> lock(g_ap_lock);
        if (make_hostapd_config(name, pass.c_str()) == 0 && netconf_daemon_start(&g_hostapd, argv, netconf_now_ns()))
            report = !g_wlan_active.exchange(true);
    } else if (stop) {
        std::lock_guard<std::mutex> lock(g_ap_lock);
        netconf_daemon_stop(&g_hostapd);
        report = g_wlan_active.exchange(false);
    }
    if (report)
        queue_network_report();
}

bool netconf_ap_running()
{
    return g_wlan_active.load();
}

void netconf_ap_reload()
{
    std::string pass = wlan_passphrase();
    std::lock_guard<std::mutex> lock(g_ap_lock);
    if (g_hostapd.pid == 0)
        return;
    char name[SYS_LABEL_SIZE];
    memcpy(name, my_sys->device_name, sizeof name);
    name[sizeof name - 1] = 0;
    make_hostapd_config(name, pass.c_str());
    kill(g_hostapd.pid, SIGHUP);
}

pid_t netconf_pid(netconf_daemon_id which)
{
    if ((unsigned)which >= NETCONF_DAEMONS)
        return 0;
    std::lock_guard<std::mutex> lock(g_ap_lock);
    return g_daemons[which].pid;
}

void netconf_reset()
{
    std::lock_guard<std::mutex> lock(g_ap_lock);
    for (netconf_daemon &d : g_daemons)
        netconf_daemon_stop(&d);
    g_wlan_active.store(false);
    g_auto_decision = AUTO_AS_SERVER;
}
