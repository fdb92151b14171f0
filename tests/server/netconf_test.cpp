// The network manager inside the test process: the configuration files, the
// commands and daemons of each network mode as the tool shims of a fresh
// simulation root record them, and the daemon keeping (restart pause, stop,
// no zombies). The bridge, "wlan0", automatic mode and the whole round run
// against the real server in network namespaces (netconf_netns_test.cpp).
#include <cerrno>
#include <csignal>
#include <sys/stat.h>

#include "netconf.h"
#include "netconf_daemon.h"
#include "netconf_files.h"
#include "netlink_packet.h"
#include "server_state.h"
#include "support/process.h"

namespace {

std::string conf_text(const std::string &dir, bool dns)
{
    std::string t = "start 192.168.5.100\nend 192.168.5.199\nmax_leases 100\nlease_file " + dir +
                    "/mnt/userdata/udhcpd.leases\npidfile " + dir + "/tmp/udhcpd.pid\ninterface br0\n";
    if (dns)
        t += "option domain karu\noption dns 192.168.5.1\n";
    return t + "option subnet 255.255.255.0\noption router 192.168.5.1\n";
}

std::string hostapd_text(const std::string &ssid, const std::string &pass)
{
    return "interface=wlan0\nbridge=br0\nssid=" + ssid + "\nchannel=1\nwpa_passphrase=" + pass +
           "\n\n\nwpa=2\nctrl_interface=/var/run/hostapd\ndriver=rtl871xdrv\nbeacon_int=100\nhw_mode=g\n"
           "ieee80211n=1\nwme_enabled=1\nht_capab=[SHORT-GI-20][SHORT-GI-40][HT40+]\nwpa_key_mgmt=WPA-PSK\n"
           "wpa_pairwise=CCMP\nmax_num_sta=8\nwpa_group_rekey=86400\nlogger_syslog=0\nlogger_stdout=-1\n"
           "logger_stdout_level=3\n";
}

netlink_settings settings(int mode, std::array<int, 4> ip = {10, 213, 12, 5}, int bits = 24,
                          std::array<int, 4> gw = {0, 0, 0, 0}, bool changed = true)
{
    netlink_settings s{};
    s.net_flags = mode;
    for (int i = 0; i < 4; i++) {
        s.ip[i] = ip[(size_t)i];
        s.gateway[i] = gw[(size_t)i];
    }
    s.netmask_bits = bits;
    s.changed = changed;
    return s;
}

// Reaped (not a zombie) and gone.
bool process_gone(pid_t pid)
{
    return kill(pid, 0) != 0 && errno == ESRCH;
}

class Netconf : public ServerState {
protected:
    void SetUp() override
    {
        ServerState::SetUp();
        netconf_reset();
        clear_log();
    }
    void TearDown() override
    {
        netconf_reset();
        ServerState::TearDown();
    }

    std::string log_path() const { return root_.path("/tmp/shim.log"); }
    void clear_log() const { write_file(log_path(), ""); }
    std::vector<std::string> log() const { return lines_of(read_file(log_path())); }
    // Waits until the shim log holds the line (daemons log once they run).
    bool wait_line(const std::string &line) const
    {
        return wait_until([&] {
            for (const std::string &l : log())
                if (l == line)
                    return true;
            return false;
        });
    }
    // Applies the mode; its diagnostics are returned.
    std::string apply(const netlink_settings &s, bool changed)
    {
        return errors_of([&] { netconf_apply_mode(s, changed); });
    }
    const std::string &dir() const { return root_.dir(); }
};

using V = std::vector<std::string>;

TEST(NetconfAddress, NetmaskOfEachLength)
{
    EXPECT_EQ(netlink_netmask(24), 0xffffff00u);
    EXPECT_EQ(netlink_netmask(20), 0xfffff000u);
    EXPECT_EQ(netlink_netmask(8), 0xff000000u);
    EXPECT_EQ(netlink_netmask(0), 0u);
    EXPECT_EQ(netlink_netmask(-3), 0u);
    EXPECT_EQ(netlink_netmask(32), 0xffffffffu);
    EXPECT_EQ(netlink_netmask(99), 0xffffffffu);
}

TEST_F(Netconf, UdhcpdConfigOffersDomainAndDnsUnlessBit4)
{
    make_udhcpd_config(0x01);
    EXPECT_EQ(read_file(root_.path("/tmp/udhcpd.conf")), conf_text(dir(), true));
    make_udhcpd_config(0x11);
    EXPECT_EQ(read_file(root_.path("/tmp/udhcpd.conf")), conf_text(dir(), false));

    // No /tmp to write to: logged, nothing else happens.
    ASSERT_EQ(system(("rm -rf '" + root_.path("/tmp") + "'").c_str()), 0);
    EXPECT_EQ(errors_of([] { make_udhcpd_config(1); }), "make_udhcpd_config/fopen\n");
}

TEST_F(Netconf, HostapdConfigKeepsNameAndPassphraseOnTheirOwnLines)
{
    std::string path = root_.path("/tmp/hostapd.conf");
    ASSERT_EQ(make_hostapd_config("Stage%20Left", "garlington"), 0);
    EXPECT_EQ(read_file(path), hostapd_text("Stage Left", "garlington"));
    struct stat st;
    ASSERT_EQ(stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u) << "the file holds the passphrase";

    // A line feed (or any control character) in the stored texts adds no line.
    ASSERT_EQ(make_hostapd_config("Evil%0Achannel=13", "pass%0D%0Aword%09x%7F"), 0);
    EXPECT_EQ(read_file(path), hostapd_text("Evilchannel=13", "passwordx"));

    // A network name has at most 32 bytes, cut before a character that would not fit.
    std::string a31(31, 'a');
    ASSERT_EQ(make_hostapd_config((a31 + "%E9z").c_str(), "garlington"), 0);
    EXPECT_EQ(read_file(path), hostapd_text(a31, "garlington"));
    // A name of control characters only: the device's default name.
    ASSERT_EQ(make_hostapd_config("%0A%0D", "garlington"), 0);
    EXPECT_EQ(read_file(path), hostapd_text("KARU8-4660", "garlington"));

    std::string err = errors_of([] { EXPECT_EQ(make_hostapd_config(nullptr, "garlington"), -1); });
    EXPECT_EQ(err, "make_hostapd_config: no device name\n");
}

TEST_F(Netconf, StaticModeUsesTheNetworkAndBroadcastOfItsLength)
{
    // 10.213.12.5/20: network 10.213.0.0, broadcast 10.213.15.255.
    EXPECT_EQ(apply(settings(3, {10, 213, 12, 5}, 20, {10, 213, 0, 1}), true), "");
    EXPECT_EQ(log(), (V{"route del default", "route del -net 192.168.5.0 netmask 255.255.255.0 br0",
                        "route add -net 10.213.0.0 netmask 255.255.240.0 br0", "route add default gw 10.213.0.1 br0",
                        "ifconfig br0 10.213.12.5 netmask 255.255.240.0 broadcast 10.213.15.255"}));

    // Nothing changed, nothing reported: nothing runs.
    clear_log();
    apply(settings(3, {10, 213, 12, 5}, 20, {10, 213, 0, 1}, false), false);
    EXPECT_EQ(log(), V{});

    // Reported settings (the mode byte unchanged) are applied again; no gateway, no default route.
    apply(settings(3, {172, 20, 7, 9}, 8), false);
    EXPECT_EQ(log(), (V{"route del default", "route del -net 192.168.5.0 netmask 255.255.255.0 br0",
                        "route add -net 172.0.0.0 netmask 255.0.0.0 br0",
                        "ifconfig br0 172.20.7.9 netmask 255.0.0.0 broadcast 172.255.255.255"}));
    clear_log();
    apply(settings(3, {192, 168, 0, 64}, 24), false);
    EXPECT_EQ(log().back(), "ifconfig br0 192.168.0.64 netmask 255.255.255.0 broadcast 192.168.0.255");
}

TEST_F(Netconf, DhcpServerRunsOnceAndRestartsWhenTheModeByteChanges)
{
    apply(settings(1), true);
    std::string udhcpd = "udhcpd -f " + dir() + "/tmp/udhcpd.conf";
    ASSERT_TRUE(wait_line(udhcpd));
    EXPECT_EQ(log(), (V{"ifconfig br0 192.168.5.1", "touch " + dir() + "/mnt/userdata/udhcpd.leases", udhcpd}));
    EXPECT_TRUE(file_exists(root_.path("/mnt/userdata/udhcpd.leases")));
    EXPECT_EQ(read_file(root_.path("/tmp/udhcpd.conf")), conf_text(dir(), true));
    pid_t first = netconf_pid(NETCONF_DHCPD);
    ASSERT_GT(first, 0);

    // Further rounds leave the running server alone.
    clear_log();
    apply(settings(1, {10, 213, 12, 5}, 24, {0, 0, 0, 0}, false), false);
    EXPECT_EQ(netconf_pid(NETCONF_DHCPD), first);
    EXPECT_EQ(log(), V{});

    // Bit 4 set: the server is replaced by one that offers no DNS.
    apply(settings(0x11), true);
    ASSERT_TRUE(wait_line(udhcpd));
    EXPECT_EQ(log(), (V{"udhcpd: SIGTERM", "ifconfig br0 192.168.5.1",
                        "touch " + dir() + "/mnt/userdata/udhcpd.leases", udhcpd}));
    EXPECT_TRUE(process_gone(first));
    EXPECT_NE(netconf_pid(NETCONF_DHCPD), first);
    EXPECT_EQ(read_file(root_.path("/tmp/udhcpd.conf")), conf_text(dir(), false));
}

TEST_F(Netconf, ClientAndServerReplaceEachOther)
{
    apply(settings(2), true);
    std::string udhcpc = "udhcpc -f -R -A 3 -i br0";
    ASSERT_TRUE(wait_line(udhcpc));
    EXPECT_EQ(log(), (V{"ifconfig br0 0.0.0.0", udhcpc}));
    pid_t client = netconf_pid(NETCONF_DHCPC);
    ASSERT_GT(client, 0);

    clear_log();
    apply(settings(1), true);
    ASSERT_TRUE(wait_line("udhcpd -f " + dir() + "/tmp/udhcpd.conf"));
    EXPECT_EQ(log().front(), "udhcpc: SIGTERM");
    EXPECT_TRUE(process_gone(client));
    EXPECT_EQ(netconf_pid(NETCONF_DHCPC), 0);
    pid_t server = netconf_pid(NETCONF_DHCPD);

    // Static stops both.
    clear_log();
    apply(settings(3), true);
    EXPECT_EQ(log().front(), "udhcpd: SIGTERM");
    EXPECT_TRUE(process_gone(server));
    EXPECT_EQ(netconf_pid(NETCONF_DHCPD), 0);
}

TEST_F(Netconf, ADaemonThatEndsIsRestartedAfterAGrowingPause)
{
    write_file(root_.path("/bin/shortlived"), "#!/bin/sh\nexit 3\n");
    chmod(root_.path("/bin/shortlived").c_str(), 0755);
    netconf_daemon d = netconf_daemon_make("shortlived", "shortlived");
    const char *argv[] = {"shortlived", nullptr};
    int64_t now = netconf_now_ns();
    ASSERT_TRUE(netconf_daemon_due(&d, now));
    ASSERT_TRUE(netconf_daemon_start(&d, argv, now));
    pid_t pid = d.pid;

    std::string err;
    ASSERT_TRUE(wait_until([&] {
        err += errors_of([&] { netconf_daemon_reap(&d, now); });
        return d.pid == 0;
    }));
    EXPECT_EQ(err, "netconf_daemon_reap: shortlived ended (status 3), started again in 2 s at the earliest\n");
    EXPECT_TRUE(process_gone(pid));
    EXPECT_FALSE(netconf_daemon_due(&d, now + NETCONF_RESTART_PAUSE_MIN_NS - 1));
    EXPECT_TRUE(netconf_daemon_due(&d, now + NETCONF_RESTART_PAUSE_MIN_NS));

    // Each quick end doubles the pause, up to its bound.
    for (int64_t expect = 4; expect <= 64; expect *= 2) {
        now = d.retry_ns;
        ASSERT_TRUE(netconf_daemon_start(&d, argv, now));
        ASSERT_TRUE(wait_until([&] { return errors_of([&] { netconf_daemon_reap(&d, now); }), d.pid == 0; }));
        EXPECT_EQ(d.retry_ns - now, expect * 1000000000) << expect;
    }
    now = d.retry_ns;
    ASSERT_TRUE(netconf_daemon_start(&d, argv, now));
    ASSERT_TRUE(wait_until([&] { return errors_of([&] { netconf_daemon_reap(&d, now); }), d.pid == 0; }));
    EXPECT_EQ(d.retry_ns - now, NETCONF_RESTART_PAUSE_MAX_NS);

    // One that ran a while gets the short pause again; a stop clears it.
    now = d.retry_ns;
    ASSERT_TRUE(netconf_daemon_start(&d, argv, now));
    int64_t later = now + NETCONF_RUN_STABLE_NS;
    ASSERT_TRUE(wait_until([&] { return errors_of([&] { netconf_daemon_reap(&d, later); }), d.pid == 0; }));
    EXPECT_EQ(d.retry_ns - later, NETCONF_RESTART_PAUSE_MIN_NS);
    netconf_daemon_stop(&d);
    EXPECT_TRUE(netconf_daemon_due(&d, later));
}

TEST_F(Netconf, DaemonsThatCannotRunOrIgnoreSigtermAreCollected)
{
    // No such program: the child ends with 127 and is collected.
    netconf_daemon missing = netconf_daemon_make("no-such-daemon", "missing");
    const char *none[] = {"no-such-daemon", nullptr};
    ASSERT_TRUE(netconf_daemon_start(&missing, none, 0));
    std::string err;
    ASSERT_TRUE(wait_until([&] {
        err += errors_of([&] { netconf_daemon_reap(&missing, 0); });
        return missing.pid == 0;
    }));
    EXPECT_NE(err.find("no-such-daemon ended (status 127)"), std::string::npos) << err;

    // One that ignores SIGTERM is killed after the wait.
    std::string ready = root_.path("/tmp/stubborn.ready");
    write_file(root_.path("/bin/stubborn"),
               "#!/bin/sh\ntrap '' TERM\n: > '" + ready + "'\nwhile :; do sleep 0.1; done\n");
    chmod(root_.path("/bin/stubborn").c_str(), 0755);
    netconf_daemon d = netconf_daemon_make("stubborn", "stubborn");
    const char *argv[] = {"stubborn", nullptr};
    ASSERT_TRUE(netconf_daemon_start(&d, argv, 0));
    pid_t pid = d.pid;
    ASSERT_TRUE(wait_until([&] { return file_exists(ready); }));
    err = errors_of([&] { netconf_daemon_stop(&d); });
    EXPECT_EQ(err, "netconf_daemon_stop: stubborn did not end on SIGTERM, killed\n");
    EXPECT_EQ(d.pid, 0);
    EXPECT_TRUE(process_gone(pid));
}

}  // namespace
