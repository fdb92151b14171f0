// Real servers on real networks: each mirelserver runs in a network
// namespace of its own whose "br0" is one end of a veth pair (or a bridge),
// with its own simulation root. The tests talk to them as clients inside
// those namespaces, ask their DNS responders with dig, and send them
// datagrams of their own making.
#include <gtest/gtest.h>

#include <cstdio>
#include <netinet/in.h>

#include "dnsd.h"
#include "netns_client.h"
#include "support/process.h"
#include "support/sim_root.h"

namespace {

constexpr int DEVICE_PORT = 24871;
// 10.213.8.1 and 10.213.9.1 as report 21 carries them.
constexpr uint32_t ADDR_A = 0x0ad50801, ADDR_B = 0x0ad50802, ADDR_DNS = 0x0ad50901;

std::string hex(uint32_t v)
{
    char buf[16];
    snprintf(buf, sizeof buf, "%x", v);
    return buf;
}

// Asks the responder for name's address over fd; "none" when no answer.
std::string ask(int fd, uint32_t server, int port, const std::string &name, uint16_t id = 1)
{
    dns_bytes q = dns_query(id, name, DNSD_TYPE_A);
    send_to(fd, std::string(q.begin(), q.end()), server, port);
    dns_answer a;
    return dns_parse(receive(fd, 1000ms), &a) && a.id == id ? dns_a_text(a.data) : "none";
}

long rss_kib(pid_t pid)
{
    std::string status = read_file("/proc/" + std::to_string(pid) + "/status");
    size_t at = status.find("VmRSS:");
    return at == std::string::npos ? -1 : atol(status.c_str() + at + 6);
}

class NetlinkNetns : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::string why = netns_unavailable();
        if (!why.empty())
            GTEST_SKIP() << "network namespaces cannot be made here (" << why << "): linking is not tested";
        netns_sweep_stale();
    }
};

TEST_F(NetlinkNetns, TwoDevicesLearnEachOtherAndFollowTheirLinkGroups)
{
    Netns na("a"), nb("b");
    ASSERT_TRUE(na.ok() && nb.ok());
    ASSERT_TRUE(netns_join_br0(na, "10.213.8.1/24", nb, "10.213.8.2/24"));
    SimRoot ra("02:00:00:00:12:34"), rb("02:00:00:00:56:78");
    ServerProcess a, b;
    // The device's own ports: 24871 for clients and links, 53 for DNS.
    a.start(ra.dir(), DEVICE_PORT, {"MIREL_DNS_PORT="}, na.name());
    b.start(rb.dir(), DEVICE_PORT, {"MIREL_DNS_PORT="}, nb.name());
    ASSERT_TRUE(a.wait_out("ip: " + hex(ADDR_A) + "\n", 10s)) << a.err();
    ASSERT_TRUE(b.wait_out("ip: " + hex(ADDR_B) + "\n", 10s)) << b.err();

    // Each learns the other from its hellos; both resolve through their own responder.
    EXPECT_TRUE(wait_until([&] { return dig_short(na, "@10.213.8.1 karu8-22136.KARU") == "10.213.8.2"; }, 20s));
    EXPECT_TRUE(wait_until([&] { return dig_short(nb, "@10.213.8.2 KARU8-4660") == "10.213.8.1"; }, 20s));

    NsClient ca(na, DEVICE_PORT), cb(nb, DEVICE_PORT);
    ASSERT_GT(ca.id, 0);
    ASSERT_GT(cb.id, 0);
    // Report 21 carries the bridge's own address.
    ASSERT_TRUE(ca.expect_line("21,0," + std::to_string(ADDR_A) + ","));

    // Buses 2 and 5 in link group 1 on A, bus 0 in link group 1 on B. The
    // group changes travel the link too.
    cb.command(11, "0,1");
    ASSERT_TRUE(cb.expect_set(11, "0,1"));
    ca.command(11, "2,1");
    ca.command(11, "5,1");
    ASSERT_TRUE(ca.expect_set(11, "2,1"));
    ASSERT_TRUE(ca.expect_set(11, "5,1"));
    ca.all();
    ca.seen.clear();
    ca.command(2, "2,-7.5");
    EXPECT_TRUE(ca.expect_line("2," + ca.me() + ",2,-7.5\n"));
    EXPECT_TRUE(cb.expect_line("2,-127,0,-7.5\n"));
    // A second change overtakes anything the first could have caused:
    // B does not send a change from the link back, so A's bus 5 never moves.
    ca.command(2, "2,-8.0");
    EXPECT_TRUE(cb.expect_line("2,-127,0,-8.0\n"));
    EXPECT_EQ(ca.all().find(",-127,"), std::string::npos) << ca.seen;

    // Output groups: A's group 0 and B's group 3 in link group 2.
    cb.command(41, "3,2");
    ASSERT_TRUE(cb.expect_set(41, "3,2"));
    ca.command(41, "0,2");
    ASSERT_TRUE(ca.expect_set(41, "0,2"));
    ca.command(38, "0,-4.0");
    EXPECT_TRUE(cb.expect_line("38,-127,3,-4.0\n"));
    ca.command(45, "0,1,250,0.7,-3.0,0");
    EXPECT_TRUE(cb.expect_line("45,-127,3,1,250,0.7,-3.0,0\n"));

    // A renamed device is known by its new name after its next hello; its
    // old name falls to the wildcard (B's own address).
    ca.command(22, "FOH-A");
    EXPECT_TRUE(wait_until([&] { return dig_short(nb, "@10.213.8.2 foh-a.karu") == "10.213.8.1"; }, 20s));
    EXPECT_EQ(dig_short(nb, "@10.213.8.2 karu8-4660"), "10.213.8.2");
    EXPECT_EQ(dig_short(nb, "@10.213.8.2 -x 10.213.8.1"), "FOH-A.");
    EXPECT_TRUE(a.running() && b.running());
}

TEST_F(NetlinkNetns, DnsResponderAnswersDigAndSurvivesBadDatagrams)
{
    constexpr int port = 24900, dns = 5300;
    Netns ns("dns");
    ASSERT_TRUE(ns.ok());
    SimRoot root;
    ServerProcess s;
    s.start(root.dir(), port, {"MIREL_DNS_PORT=" + std::to_string(dns)}, ns.name());
    const std::string at = "@127.0.0.1 -p " + std::to_string(dns) + " ";

    // No "br0" yet: the wildcard answers, with 0.0.0.0.
    EXPECT_TRUE(wait_until([&] { return dig_short(ns, at + "www.example.com") == "0.0.0.0"; }, 10s));
    NsClient c(ns, port);
    ASSERT_TRUE(c.expect_line("21,0,0,"));

    // The bridge gets its address: printed, reported, and the wildcard's answer.
    ASSERT_TRUE(ns.add_bridge("10.213.9.1/24"));
    ASSERT_TRUE(s.wait_out("ip: " + hex(ADDR_DNS) + "\n", 10s));
    EXPECT_TRUE(c.expect_line("21,0," + std::to_string(ADDR_DNS) + ",0,"));
    EXPECT_TRUE(wait_until([&] { return dig_short(ns, at + "www.example.com") == "10.213.9.1"; }, 5s));

    // A device announces itself.
    unique_fd udp = ns_udp(ns);
    send_to(udp.get(), "28,0,10,213,9,7,Sidefill-L\n", ADDR_DNS, port);
    EXPECT_TRUE(wait_until([&] { return dig_short(ns, at + "SIDEFILL-l") == "10.213.9.7"; }, 5s));
    std::string full = dig(ns, at + "sidefill-l.KARU");
    EXPECT_NE(full.find("flags: qr aa"), std::string::npos) << full;
    EXPECT_NE(full.find("sidefill-l.KARU.\t120\tIN\tA\t10.213.9.7"), std::string::npos) << full;
    EXPECT_EQ(dig_short(ns, at + "-x 10.213.9.7"), "Sidefill-L.");
    EXPECT_NE(dig(ns, at + "-x 10.213.9.77").find("timed out"), std::string::npos);
    EXPECT_NE(dig(ns, at + "AAAA sidefill-l").find("timed out"), std::string::npos);
    // Its own hellos make the device known under its own name.
    EXPECT_TRUE(wait_until([&] { return dig_short(ns, at + "karu8-4660.karu") == "10.213.9.1"; }, 10s));

    // Bad datagrams: the logged ones, then the silent ones, each followed by a
    // good query whose answer must be the first to come back.
    unique_fd q = ns_udp(ns);
    dns_bytes good = dns_query(0x4242, "x", DNSD_TYPE_A);
    std::string g(good.begin(), good.end());
    send_to(q.get(), g.substr(0, 11), INADDR_LOOPBACK, dns);
    send_to(q.get(), g + std::string(513 - g.size(), '\0'), INADDR_LOOPBACK, dns);
    std::string response = g;
    response[2] = (char)0x81;
    send_to(q.get(), response, INADDR_LOOPBACK, dns);
    EXPECT_TRUE(s.wait_err("packet size 11, ignored\n"));
    EXPECT_TRUE(s.wait_err("packet size 513, ignored\n"));
    EXPECT_TRUE(s.wait_err("response packet, ignored\n"));
    std::string unterminated = g.substr(0, 12) + "\x05" "abcdefgh";
    std::string pointer = g.substr(0, 12) + "\xc0\x0c" + std::string("\0\1\0\1", 4);
    for (const std::string &bad : {unterminated, pointer}) {
        send_to(q.get(), bad, INADDR_LOOPBACK, dns);
        EXPECT_EQ(ask(q.get(), INADDR_LOOPBACK, dns, "after-bad", 0x77), "10.213.9.1");
    }
    EXPECT_EQ(dig_short(ns, at + "still.there"), "10.213.9.1");

    // Bit 4 of the network mode switches the responder off, and on again.
    c.command(21, "0,16,10,213,9,1,24,0,0,0,0");
    ASSERT_TRUE(c.expect_line("21," + c.me() + ","));
    EXPECT_TRUE(wait_until([&] { return ask(q.get(), INADDR_LOOPBACK, dns, "x", 3) == "none"; }, 10s));
    c.command(21, "0,0,10,213,9,1,24,0,0,0,0");
    EXPECT_TRUE(wait_until([&] { return ask(q.get(), INADDR_LOOPBACK, dns, "x", 4) == "10.213.9.1"; }, 10s));
    EXPECT_TRUE(s.running());
}

TEST_F(NetlinkNetns, ForgedHellosFromTenThousandAddressesLeaveMemoryFlat)
{
    constexpr int port = 24900, dns = 5300;
    Netns ns("flood");
    ASSERT_TRUE(ns.ok());
    ASSERT_TRUE(ns.add_bridge("10.213.10.1/24"));
    SimRoot root;
    ServerProcess s;
    // Under the address sanitizer freed memory is held back for a while; the
    // resident size is only a measure of what the server keeps without that.
    const char *asan = getenv("ASAN_OPTIONS");
    std::string no_quarantine = "ASAN_OPTIONS=" + std::string(asan != nullptr ? asan : "") +
                                ":quarantine_size_mb=0:thread_local_quarantine_size_kb=0";
    s.start(root.dir(), port, {"MIREL_DNS_PORT=" + std::to_string(dns), no_quarantine}, ns.name());
    ASSERT_TRUE(s.wait_out("ip: ad50a01\n", 10s));
    unique_fd udp = ns_udp(ns);
    unique_fd q = ns_udp(ns);
    constexpr uint32_t own = 0x0ad50a01;

    auto forged_addr = [](int i) { return "10.50." + std::to_string(i / 256) + "." + std::to_string(i % 256); };
    // Every 100 hellos the last one must answer, so none is lost to a full socket buffer.
    auto flood = [&](int from, int to) {
        for (int i = from; i < to; i++) {
            std::string addr = forged_addr(i);
            for (char &ch : addr)
                ch = ch == '.' ? ',' : ch;
            send_to(udp.get(), "28,0," + addr + ",forged-" + std::to_string(i) + "\n", own, port);
            if (i % 100 == 99 || i == to - 1) {
                std::string name = "forged-" + std::to_string(i);
                ASSERT_TRUE(wait_until([&] { return ask(q.get(), own, dns, name) == forged_addr(i); }, 5s)) << name;
            }
        }
    };
    flood(0, 200);
    long before = rss_kib(s.pid());
    flood(200, 10000);
    long after = rss_kib(s.pid());
    ASSERT_GT(before, 0);
    EXPECT_LT(after - before, 256) << before << " KiB before, " << after << " KiB after";
    // The list holds the devices heard last; older ones fell to the wildcard.
    EXPECT_EQ(ask(q.get(), own, dns, "forged-9950.karu"), "10.50.38.222");
    EXPECT_EQ(ask(q.get(), own, dns, "forged-9000"), "10.213.10.1");
    EXPECT_TRUE(s.running());
}

}  // namespace
