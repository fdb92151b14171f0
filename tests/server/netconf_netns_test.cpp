// The network manager of the real server, inside a network namespace whose
// "br0" is a bridge the test made. The tool shims of the server's simulation
// root record what the manager runs and stay running where the real daemons
// do; the test plays the network's part (a DHCP server answering, a WLAN
// adapter plugged in) by changing br0's address and adding "wlan0".
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <cstdio>
#include <cstring>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include "netns_client.h"
#include "support/process.h"
#include "support/sim_root.h"

namespace {

constexpr int PORT = 24900, DNS_PORT = 5300;

// An address as report 21 carries it: one unsigned number.
std::string reported(uint32_t addr)
{
    return std::to_string(addr);
}

std::vector<std::string> lines_of(const std::string &text)
{
    std::vector<std::string> lines;
    size_t at = 0;
    for (size_t end; (end = text.find('\n', at)) != std::string::npos; at = end + 1)
        lines.push_back(text.substr(at, end - at));
    return lines;
}

class Device {
public:
    Device(const std::string &tag, const std::string &br0_cidr) : ns(tag)
    {
        ok = ns.ok() && ns.add_bridge(br0_cidr);
    }
    void start() { server.start(root.dir(), PORT, {"MIREL_DNS_PORT=" + std::to_string(DNS_PORT)}, ns.name()); }

    std::vector<std::string> log() const { return lines_of(read_file(root.path("/tmp/shim.log"))); }
    int count(const std::string &line) const
    {
        int n = 0;
        for (const std::string &l : log())
            n += l == line;
        return n;
    }
    // Waits until the shim log holds the line n times.
    bool wait_line(const std::string &line, int n = 1, std::chrono::milliseconds timeout = 10s) const
    {
        return wait_until([&] { return count(line) >= n; }, timeout);
    }
    // Whether the lines stand in the log in this order, each after the one before.
    bool in_order(const std::vector<std::string> &lines) const
    {
        std::vector<std::string> all = log();
        size_t i = 0;
        for (const std::string &l : all)
            if (i < lines.size() && l == lines[i])
                i++;
        return i == lines.size();
    }
    // How many simulated daemons of this tool run in the namespace.
    int running(const std::string &tool) const
    {
        int n = 0;
        for (const std::string &cmd : ns.processes())
            n += cmd.find(root.dir() + "/bin/" + tool + " ") != std::string::npos;
        return n;
    }
    std::string file(const std::string &device_path) const { return read_file(root.path(device_path)); }
    // Replaces br0's address, as a DHCP server's lease or an administrator would.
    bool set_address(const std::string &cidr) const
    {
        return ns.run("ip addr flush dev br0 && ip addr add " + cidr + " brd + dev br0") == 0;
    }

    // Torn down from the last: the server, then the namespace with the
    // daemons left in it, then the root they wrote to.
    SimRoot root;
    Netns ns;
    bool ok = false;
    ServerProcess server;
};

// A socket inside the namespace that hears the hellos on the link port,
// with the address each was sent to.
struct HelloEar {
    unique_fd fd;

    explicit HelloEar(const Netns &ns)
    {
        ns.enter([&] {
            fd.reset(socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
            int one = 1;
            setsockopt(fd.get(), SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
            setsockopt(fd.get(), IPPROTO_IP, IP_PKTINFO, &one, sizeof one);
            sockaddr_in a{};
            a.sin_family = AF_INET;
            a.sin_port = htons(PORT);
            bind(fd.get(), (sockaddr *)&a, sizeof a);
        });
    }
    // Waits for a hello that begins with text; gives its destination address.
    bool hear(const std::string &text, std::string *to, std::chrono::milliseconds timeout = 10s)
    {
        return wait_until(
            [&] {
                pollfd p = {fd.get(), POLLIN, 0};
                if (poll(&p, 1, 100) != 1)
                    return false;
                char buf[1024], control[256];
                iovec iov = {buf, sizeof buf};
                msghdr m{};
                m.msg_iov = &iov;
                m.msg_iovlen = 1;
                m.msg_control = control;
                m.msg_controllen = sizeof control;
                ssize_t n = recvmsg(fd.get(), &m, 0);
                if (n <= 0 || std::string(buf, (size_t)n).rfind(text, 0) != 0)
                    return false;
                for (cmsghdr *c = CMSG_FIRSTHDR(&m); c != nullptr; c = CMSG_NXTHDR(&m, c)) {
                    if (c->cmsg_level != IPPROTO_IP || c->cmsg_type != IP_PKTINFO)
                        continue;
                    in_pktinfo info;
                    memcpy(&info, CMSG_DATA(c), sizeof info);
                    char t[INET_ADDRSTRLEN];
                    *to = inet_ntop(AF_INET, &info.ipi_addr, t, sizeof t);
                }
                return true;
            },
            timeout);
    }
};

class NetconfNetns : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::string why = netns_unavailable();
        if (!why.empty())
            GTEST_SKIP() << "network namespaces cannot be made here (" << why << "): the network manager is not tested";
        netns_sweep_stale();
    }
};

TEST_F(NetconfNetns, StaticAndDhcpServerModesReachEveryClientAndTheHello)
{
    Device d("conf-modes", "10.213.12.1/24");
    ASSERT_TRUE(d.ok);
    HelloEar ear(d.ns);
    d.start();
    // The default mode is automatic; the one-shot client's shim succeeds.
    const std::string udhcpc = "udhcpc -f -R -A 3 -i br0";
    ASSERT_TRUE(d.wait_line(udhcpc)) << d.server.err();
    NsClient c1(d.ns, PORT), c2(d.ns, PORT);
    ASSERT_GT(c1.id, 0);
    ASSERT_GT(c2.id, 0);

    // Static, 20 bits: the client is stopped, routes and broadcast fit the length.
    c1.command(21, "0,3,10,213,12,5,20,10,213,0,1");
    ASSERT_TRUE(d.wait_line("ifconfig br0 10.213.12.5 netmask 255.255.240.0 broadcast 10.213.15.255"));
    EXPECT_TRUE(d.in_order({udhcpc, "udhcpc: SIGTERM", "route del default",
                            "route del -net 192.168.5.0 netmask 255.255.255.0 br0",
                            "route add -net 10.213.0.0 netmask 255.255.240.0 br0", "route add default gw 10.213.0.1 br0",
                            "ifconfig br0 10.213.12.5 netmask 255.255.240.0 broadcast 10.213.15.255"}));
    EXPECT_EQ(d.running("udhcpc"), 0);

    // The bridge takes the address: every client gets report 21, and the
    // hello goes out from it to the broadcast address of 20 bits.
    ASSERT_TRUE(d.set_address("10.213.12.5/20"));
    const std::string static_tail = ",3,10,213,12,5,20,10,213,0,1\n";
    EXPECT_TRUE(c1.expect_line("21,0," + reported(0x0ad50c05) + static_tail, 10s));
    EXPECT_TRUE(c2.expect_line("21,0," + reported(0x0ad50c05) + static_tail, 10s));
    EXPECT_TRUE(d.server.wait_out("ip: ad50c05\n", 10s));
    std::string to;
    EXPECT_TRUE(ear.hear("28,0,10,213,12,5,KARU8-4660\n", &to));
    EXPECT_EQ(to, "10.213.15.255");

    // DHCP server: 192.168.5.1 and one server with the whole configuration.
    const std::string udhcpd = "udhcpd -f " + d.root.dir() + "/tmp/udhcpd.conf";
    const std::string leases = d.root.dir() + "/mnt/userdata/udhcpd.leases";
    c1.command(21, "0,1,10,213,12,5,20,10,213,0,1");
    ASSERT_TRUE(d.wait_line(udhcpd));
    EXPECT_TRUE(d.in_order({"ifconfig br0 192.168.5.1", "touch " + leases, udhcpd}));
    const std::string head = "start 192.168.5.100\nend 192.168.5.199\nmax_leases 100\nlease_file " + leases +
                             "\npidfile " + d.root.dir() + "/tmp/udhcpd.pid\ninterface br0\n";
    const std::string dns = "option domain karu\noption dns 192.168.5.1\n";
    const std::string tail = "option subnet 255.255.255.0\noption router 192.168.5.1\n";
    EXPECT_EQ(d.file("/tmp/udhcpd.conf"), head + dns + tail);
    EXPECT_EQ(d.running("udhcpd"), 1);
    EXPECT_EQ(d.running("udhcpc"), 0);
    ASSERT_TRUE(d.set_address("192.168.5.1/24"));
    EXPECT_TRUE(c2.expect_line("21,0," + reported(0xc0a80501) + ",1,", 10s));
    const std::string at = "@192.168.5.1 -p " + std::to_string(DNS_PORT) + " ";
    EXPECT_TRUE(wait_until([&] { return dig_short(d.ns, at + "show.example") == "192.168.5.1"; }, 10s));

    // Bit 4: a new server that offers no DNS, and the responder is silent.
    c1.command(21, "0,17,10,213,12,5,20,10,213,0,1");
    ASSERT_TRUE(d.wait_line(udhcpd, 2));
    EXPECT_EQ(d.count("udhcpd: SIGTERM"), 1);
    EXPECT_EQ(d.file("/tmp/udhcpd.conf"), head + tail);
    EXPECT_TRUE(wait_until([&] { return dig(d.ns, at + "show.example").find("timed out") != std::string::npos; }, 10s));
    c1.command(21, "0,1,10,213,12,5,20,10,213,0,1");
    ASSERT_TRUE(d.wait_line(udhcpd, 3));
    EXPECT_EQ(d.file("/tmp/udhcpd.conf"), head + dns + tail);
    EXPECT_TRUE(wait_until([&] { return dig_short(d.ns, at + "show.example") == "192.168.5.1"; }, 10s));
    EXPECT_EQ(d.running("udhcpd"), 1);
    EXPECT_TRUE(d.server.running());
}

TEST_F(NetconfNetns, AutomaticModeFollowsTheOneShotClient)
{
    Device d("conf-auto", "10.213.13.1/24");
    ASSERT_TRUE(d.ok);
    // No DHCP server answers: the device serves.
    ASSERT_EQ(mkdir(d.root.path("/etc/fail").c_str(), 0755), 0);
    write_file(d.root.path("/etc/fail/udhcpc"), "1\n");
    d.start();
    const std::string udhcpd = "udhcpd -f " + d.root.dir() + "/tmp/udhcpd.conf";
    ASSERT_TRUE(d.wait_line(udhcpd)) << d.server.err();
    EXPECT_TRUE(d.in_order({"route add -net 192.168.5.0 netmask 255.255.255.0 br0", "udhcpc -qnR -t 6 -i br0",
                            "ifconfig br0 192.168.5.1", udhcpd}));
    EXPECT_EQ(d.running("udhcpd"), 1);

    // A server answers the next question (a new mode byte asks again): the device is its client.
    unlink(d.root.path("/etc/fail/udhcpc").c_str());
    NsClient c(d.ns, PORT);
    c.command(21, "0,16,192,168,0,64,24,0,0,0,0");
    const std::string udhcpc = "udhcpc -f -R -A 3 -i br0";
    ASSERT_TRUE(d.wait_line(udhcpc));
    EXPECT_EQ(d.count("udhcpc -qnR -t 6 -i br0"), 2);
    EXPECT_TRUE(d.in_order({udhcpd, "udhcpd: SIGTERM", "udhcpc -qnR -t 6 -i br0", "ifconfig br0 0.0.0.0", udhcpc}));
    EXPECT_EQ(d.running("udhcpd"), 0);
    EXPECT_EQ(d.running("udhcpc"), 1);

    // The lease arrives: the new address is reported.
    ASSERT_TRUE(d.set_address("10.213.13.77/24"));
    EXPECT_TRUE(c.expect_line("21,0," + reported(0x0ad50d4d) + ",16,192,168,0,64,24,0,0,0,0\n", 10s));
    EXPECT_EQ(d.running("udhcpc"), 1);
}

TEST_F(NetconfNetns, AccessPointRunsWhileTheWlanAdapterIsPlugged)
{
    Device d("conf-wlan", "10.213.14.1/24");
    ASSERT_TRUE(d.ok);
    d.start();
    ASSERT_TRUE(d.server.wait_out("ip: ad50e01\n", 10s)) << d.server.err();
    NsClient c(d.ns, PORT);
    ASSERT_GT(c.id, 0);
    const std::string own = reported(0x0ad50e01);
    // A name that tries to smuggle a line into the access point's configuration.
    c.command(22, "Evil%0Achannel=13");
    ASSERT_TRUE(c.expect_line("22," + c.me() + ",Evil%0Achannel=13\n"));

    // Plugged in (a veth end stands in for the adapter): it joins the bridge
    // and the access point starts.
    ASSERT_EQ(d.ns.run("ip link add wlan0 type veth peer name wlan0-peer"), 0);
    const std::string conf = d.root.dir() + "/tmp/hostapd.conf";
    ASSERT_TRUE(d.wait_line("hostapd " + conf));
    EXPECT_TRUE(d.in_order({"brctl addif br0 wlan0", "hostapd " + conf}));
    EXPECT_TRUE(c.expect_line("21,0," + own + ",256,", 10s));
    EXPECT_EQ(d.running("hostapd"), 1);
    std::vector<std::string> ssid, channel;
    for (const std::string &l : lines_of(d.file("/tmp/hostapd.conf"))) {
        if (l.rfind("ssid=", 0) == 0)
            ssid.push_back(l);
        if (l.rfind("channel=", 0) == 0)
            channel.push_back(l);
    }
    EXPECT_EQ(ssid, std::vector<std::string>{"ssid=Evilchannel=13"});
    EXPECT_EQ(channel, std::vector<std::string>{"channel=1"});

    // An empty passphrase: a new word, written and reloaded.
    c.command(112, "");
    std::string line;
    ASSERT_TRUE(c.sock->take_until("\n112," + c.me() + ",", &line));
    ASSERT_TRUE(c.sock->take_until("\n", &line));
    std::string word = line.substr(0, line.size() - 1);
    EXPECT_EQ(word.size(), 10u) << word;
    ASSERT_TRUE(d.wait_line("hostapd: SIGHUP"));
    EXPECT_NE(d.file("/tmp/hostapd.conf").find("\nwpa_passphrase=" + word + "\n"), std::string::npos);

    // The same passphrase again: stored, but the access point is left alone
    // (a reload would have written the configuration again).
    ASSERT_EQ(unlink(conf.c_str()), 0);
    c.command(112, word);
    ASSERT_TRUE(c.expect_line("112," + c.me() + "," + word + "\n"));
    EXPECT_FALSE(file_exists(conf));
    c.command(112, "another%20one");
    ASSERT_TRUE(c.expect_line("112," + c.me() + ",another%20one\n"));
    EXPECT_NE(d.file("/tmp/hostapd.conf").find("\nwpa_passphrase=another one\n"), std::string::npos);
    EXPECT_TRUE(d.wait_line("hostapd: SIGHUP", 2));

    // Unplugged: the access point stops and the bit goes.
    ASSERT_EQ(d.ns.run("ip link del wlan0"), 0);
    ASSERT_TRUE(d.wait_line("hostapd: SIGTERM"));
    EXPECT_TRUE(c.expect_line("21,0," + own + ",0,", 10s));
    EXPECT_EQ(d.running("hostapd"), 0);
    EXPECT_TRUE(d.server.running());
}

}  // namespace
