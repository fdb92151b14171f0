// The known-device list and what the listener does with a datagram, inside
// the test process: the names the DNS responder then answers, and the
// commands a link packet runs on the live state.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <cstdio>
#include <netinet/in.h>
#include <string>
#include <sys/socket.h>

#include "dns_query.h"
#include "dnsd.h"
#include "netlink.h"
#include "netlink_devices.h"
#include "report.h"
#include "server_state.h"
#include "support/process.h"
#include "unique_fd.h"

namespace {

netlink_hello hello(uint32_t addr, const char *name)
{
    netlink_hello h;
    h.addr[0] = (uint8_t)(addr >> 24);
    h.addr[1] = (uint8_t)(addr >> 16);
    h.addr[2] = (uint8_t)(addr >> 8);
    h.addr[3] = (uint8_t)addr;
    snprintf(h.name, sizeof h.name, "%s", name);
    return h;
}

// The responder's A answer for name, "none" when it gives none.
std::string resolve(const std::string &name)
{
    dns_bytes q = dns_query(1, name, DNSD_TYPE_A);
    uint8_t out[DNSD_PACKET_MAX];
    size_t n = dnsd_reply(q.data(), q.size(), out);
    dns_answer a;
    return dns_parse(dns_bytes(out, out + n), &a) ? dns_a_text(a.data) : "none";
}

std::string name_at(size_t i)
{
    netlink_device d;
    return netlink_devices_get(i, &d) ? d.name : "-";
}

class NetlinkDevices : public ::testing::Test {
protected:
    void SetUp() override
    {
        netlink_devices_clear();
        dnsd_set_enabled(1);
    }
    void TearDown() override { netlink_devices_clear(); }
};

TEST_F(NetlinkDevices, NamesAreLearntRenamedAndPublishedWithTheDomain)
{
    EXPECT_TRUE(netlink_devices_hello(hello(0x0a000002, "Stage%20Left"), 1));
    EXPECT_TRUE(netlink_devices_hello(hello(0x0a000003, "FOH"), 2));
    // The same device again changes nothing but its time.
    EXPECT_FALSE(netlink_devices_hello(hello(0x0a000002, "Stage%20Left"), 3));
    netlink_device d;
    ASSERT_TRUE(netlink_devices_get(0, &d));
    EXPECT_EQ(d.heard, 3);
    EXPECT_STREQ(d.addr_text, "10.0.0.2");
    EXPECT_STREQ(d.name_decoded, "Stage Left");
    EXPECT_STREQ(d.name_domain, "Stage Left.karu");

    netlink_devices_publish(0x0a000001);
    EXPECT_EQ(resolve("stage left"), "10.0.0.2");
    EXPECT_EQ(resolve("STAGE LEFT.karu"), "10.0.0.2");
    EXPECT_EQ(resolve("foh.karu"), "10.0.0.3");
    EXPECT_EQ(resolve("elsewhere"), "10.0.0.1");

    // Renamed: listed under the new name only, in its old place.
    EXPECT_TRUE(netlink_devices_hello(hello(0x0a000002, "Monitors"), 4));
    netlink_devices_publish(0x0a000001);
    EXPECT_EQ(name_at(0), "Monitors");
    EXPECT_EQ(resolve("monitors.karu"), "10.0.0.2");
    EXPECT_EQ(resolve("stage left"), "10.0.0.1");
}

TEST_F(NetlinkDevices, ReverseAnswerIsThePlainName)
{
    netlink_devices_hello(hello(0x0a000002, "FOH"), 1);
    netlink_devices_publish(0x0a000001);
    dns_bytes q = dns_query(1, "2.0.0.10.in-addr.arpa", DNSD_TYPE_PTR);
    uint8_t out[DNSD_PACKET_MAX];
    dns_answer a;
    ASSERT_TRUE(dns_parse(dns_bytes(out, out + dnsd_reply(q.data(), q.size(), out)), &a));
    EXPECT_EQ(a.data, dns_wire("FOH"));
}

TEST_F(NetlinkDevices, AFloodOfForgedHellosStaysAtTheBound)
{
    char name[32];
    for (uint32_t i = 0; i < 10000; i++) {
        snprintf(name, sizeof name, "forged-%u", i);
        EXPECT_TRUE(netlink_devices_hello(hello(0x0a100000 + i, name), i + 1));
    }
    EXPECT_EQ(netlink_devices_count(), NETLINK_DEVICES_MAX);
    // The 64 heard last, in arrival order.
    EXPECT_EQ(name_at(0), "forged-9936");
    EXPECT_EQ(name_at(63), "forged-9999");
    netlink_devices_publish(0x0a000001);
    EXPECT_EQ(resolve("forged-9999.karu"), "10.16.39.15");
    EXPECT_EQ(resolve("forged-9936"), "10.16.38.208");
    EXPECT_EQ(resolve("forged-9935"), "10.0.0.1");
}

TEST_F(NetlinkDevices, TheDeviceHeardLeastRecentlyMakesRoom)
{
    char name[32];
    for (uint32_t i = 0; i < NETLINK_DEVICES_MAX; i++) {
        snprintf(name, sizeof name, "dev-%u", i);
        netlink_devices_hello(hello(0x0a000100 + i, name), 10 + i);
    }
    // Device 0 speaks again; device 1 is now the quietest.
    netlink_devices_hello(hello(0x0a000100, "dev-0"), 1000);
    netlink_devices_hello(hello(0x0a000200, "newcomer"), 1001);
    EXPECT_EQ(netlink_devices_count(), NETLINK_DEVICES_MAX);
    EXPECT_EQ(name_at(0), "dev-0");
    EXPECT_EQ(name_at(1), "dev-2");
    EXPECT_EQ(name_at(NETLINK_DEVICES_MAX - 1), "newcomer");
}

TEST_F(NetlinkDevices, ListStartsAfreshEvery86400Hellos)
{
    netlink_devices_hello(hello(0x0a000002, "A"), 1);
    for (uint32_t i = 1; i < NETLINK_HELLO_RESET - 1; i++)
        netlink_devices_hello(hello(0x0a000003, "B"), 1 + i);
    EXPECT_EQ(netlink_devices_count(), 2u);
    EXPECT_TRUE(netlink_devices_hello(hello(0x0a000003, "B"), 100000));
    EXPECT_EQ(netlink_devices_count(), 1u);
    EXPECT_EQ(name_at(0), "B");
}

TEST(NetlinkBroadcast, SendsUpTo1023BytesAndOnlyWithAnAddress)
{
    // A socket on loopback stands in for the other devices.
    unique_fd rx(socket(AF_INET, SOCK_DGRAM, 0));
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    ASSERT_EQ(bind(rx.get(), (sockaddr *)&a, sizeof a), 0);
    getsockname(rx.get(), (sockaddr *)&a, &len);
    setenv("MIREL_PORT", std::to_string(ntohs(a.sin_port)).c_str(), 1);
    platform_init();
    unique_fd tx(socket(AF_INET, SOCK_DGRAM, 0));
    netlink_socket = tx.get();
    auto received = [&] {
        std::vector<size_t> sizes;
        char buf[2048];
        ssize_t n;
        while ((n = recv(rx.get(), buf, sizeof buf, MSG_DONTWAIT)) > 0)
            sizes.push_back((size_t)n);
        return sizes;
    };
    std::string packet(1024, '|');
    netlink_broadcast_addr = 0;  // the own address is not known yet
    netlink_broadcast(packet.data(), 100);
    netlink_broadcast_addr = htonl(INADDR_LOOPBACK);
    std::string log = errors_of([&] {
        netlink_broadcast(packet.data(), 1024);
        netlink_broadcast(packet.data(), 1023);
    });
    EXPECT_EQ(log, "netlink_broadcast: 1024 might be to long\n");
    std::vector<size_t> got;
    EXPECT_TRUE(wait_until(
        [&] {
            for (size_t n : received())
                got.push_back(n);
            return !got.empty();
        },
        2s));
    EXPECT_EQ(got, std::vector<size_t>{1023});
    netlink_socket = -1;
    netlink_broadcast_addr = 0;
    unsetenv("MIREL_PORT");
    platform_init();
}

class NetlinkReceive : public ServerState {
protected:
    void SetUp() override
    {
        ServerState::SetUp();
        netlink_devices_clear();
    }
    void TearDown() override
    {
        netlink_devices_clear();
        ServerState::TearDown();
    }
    static void receive(const std::string &bytes, uint32_t sender = 0x0a000002)
    {
        std::vector<char> d(bytes.begin(), bytes.end());
        netlink_receive(d.data(), d.size(), sender);
    }
};

TEST_F(NetlinkReceive, LinkPacketRunsOnTheLocalBusWithTheLinksConnection)
{
    my_sys->bus[0].group_net = 1;
    my_sys->bus[3].group_net = 1;
    my_sys->bus[4].group_net = 2;
    const float before = -1.0f;
    for (int b = 0; b < SYS_BUSES; b++)
        my_sys->bus[b].gain = before;
    receive(std::string("||1|2,5,2,-7.5\n") + '\0');
    EXPECT_EQ(my_sys->bus[0].gain, -7.5f);
    EXPECT_EQ(my_sys->bus[3].gain, -7.5f);
    EXPECT_EQ(my_sys->bus[2].gain, before);
    EXPECT_EQ(my_sys->bus[4].gain, before);
    EXPECT_EQ(report_pending.requester[2], REPORT_CONN_LINK);
    EXPECT_TRUE(report_pending.bus[0] && report_pending.bus[3] && !report_pending.bus[4]);

    // A value out of range is rejected as from any client.
    EXPECT_EQ(errors_of([] { receive(std::string("||2|2,5,0,99\n") + '\0'); }),
              "system_bus_set_gain: gain out of range\n");
    EXPECT_EQ(my_sys->bus[4].gain, before);
}

TEST_F(NetlinkReceive, OutputGroupPacketRunsOncePerGroup)
{
    for (int o = 0; o < SYS_OUTPUTS; o++)
        my_sys->out[o].group_net = -1;
    my_sys->out[3].group_net = 2;
    receive(std::string("||2|38,4,0,-4.0\n") + '\0');
    EXPECT_EQ(my_sys->out[3].gain, -4.0f);
    EXPECT_EQ(report_pending.requester[38], REPORT_CONN_LINK);
}

TEST_F(NetlinkReceive, OwnPacketsAndHellosDoNotRunCommands)
{
    my_sys->bus[0].group_net = 1;
    sys_file before = *my_sys;
    // The listener's own address is still 0 here: a packet from it is ours.
    receive(std::string("||1|2,5,2,-7.5\n") + '\0', 0);
    receive("28,0,10,0,0,9,Sidefill\n");
    EXPECT_TRUE(record_equals(before));
    EXPECT_TRUE(nothing_marked());
    EXPECT_EQ(name_at(0), "Sidefill");
    EXPECT_EQ(resolve("sidefill.karu"), "10.0.0.9");
    EXPECT_EQ(resolve("other"), "0.0.0.0");
}

}  // namespace
