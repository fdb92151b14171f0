// Hellos and link packets as bytes: what is accepted, what a packet makes
// this device run, where they are sent.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "netlink_packet.h"
#include "server_state.h"

namespace {

// The received bytes on the heap and exactly as long as given, so the
// address sanitizer sees any read past them.
struct Datagram {
    std::vector<char> bytes;
    explicit Datagram(const std::string &s) : bytes(s.begin(), s.end()) {}
    const char *data() const { return bytes.data(); }
    size_t size() const { return bytes.size(); }
};

bool parse(const std::string &text, netlink_hello *h)
{
    Datagram d(text);
    return netlink_parse_hello(d.data(), d.size(), h);
}

std::string addr_of(const netlink_hello &h)
{
    return std::to_string(h.addr[0]) + "." + std::to_string(h.addr[1]) + "." + std::to_string(h.addr[2]) + "." +
           std::to_string(h.addr[3]);
}

TEST(NetlinkHello, WrittenAndReadBack)
{
    char buf[NETLINK_PACKET_MAX];
    size_t n = netlink_format_hello(buf, sizeof buf, 0x0ad50801, "KARU8-4660");
    EXPECT_EQ(std::string(buf, n), "28,0,10,213,8,1,KARU8-4660\n");
    netlink_hello h;
    ASSERT_TRUE(parse(std::string(buf, n), &h));
    EXPECT_EQ(addr_of(h), "10.213.8.1");
    EXPECT_STREQ(h.name, "KARU8-4660");
    EXPECT_EQ(netlink_format_hello(buf, 20, 0x0ad50801, "KARU8-4660"), 0u);  // does not fit
}

TEST(NetlinkHello, NameIsReadUpTo64CharactersWithRoomForItsEnd)
{
    netlink_hello h;
    std::string name64(64, 'n');
    ASSERT_TRUE(parse("28,0,10,0,0,7," + name64 + "\n", &h));
    EXPECT_EQ(std::string(h.name), name64);
    ASSERT_TRUE(parse("28,0,10,0,0,7," + name64 + "TAIL\n", &h));
    EXPECT_EQ(std::string(h.name), name64);
    // Without a name, or with one that begins with a comma, it is empty.
    ASSERT_TRUE(parse("28,0,1,2,3,4\n", &h));
    EXPECT_STREQ(h.name, "");
    ASSERT_TRUE(parse("28,0,1,2,3,4,,x\n", &h));
    EXPECT_STREQ(h.name, "");
    // Missing fields stay 0.
    ASSERT_TRUE(parse("28,0,10,20,garbage\n", &h));
    EXPECT_EQ(addr_of(h), "10.20.0.0");
}

TEST(NetlinkHello, ShapeAndOctetsDecideWhatIsAHello)
{
    netlink_hello h;
    EXPECT_FALSE(parse("28,0,1,2,3,4", &h));  // 12 bytes
    EXPECT_TRUE(parse("28,0,1,2,3,4,", &h));  // 13
    EXPECT_FALSE(parse("28" + std::string(510, 'x'), &h));
    EXPECT_TRUE(parse("28,0,1,2,3,4," + std::string(498, 'x'), &h));  // 511
    EXPECT_FALSE(parse("29,0,1,2,3,4,name\n", &h));
    EXPECT_FALSE(parse("28,0,10,0,0,300,name\n", &h));
    EXPECT_FALSE(parse("28,0,-1,0,0,3,name\n", &h));
    // The 12-byte datagram is no link packet either.
    Datagram twelve("28,0,1,2,3,4");
    EXPECT_FALSE(netlink_is_link_packet(twelve.data(), twelve.size()));
}

TEST(NetlinkPacket, LinkTestAndFieldReplacement)
{
    Datagram ok(std::string("||1|2,5,2,-3.0\n") + '\0');
    EXPECT_TRUE(netlink_is_link_packet(ok.data(), ok.size()));
    Datagram short8("||1|2,5,");
    EXPECT_FALSE(netlink_is_link_packet(short8.data(), short8.size()));
    Datagram wrong("||1#2,5,2,-3.0\n");
    EXPECT_FALSE(netlink_is_link_packet(wrong.data(), wrong.size()));

    char out[64];
    ASSERT_TRUE(netlink_replace_fields("2,5,2,-3.0", 0, out, sizeof out));
    EXPECT_STREQ(out, "2,0,0,-3.0");
    ASSERT_TRUE(netlink_replace_fields("16,-127,2,1,250,0.7,-4.0,0", 5, out, sizeof out));
    EXPECT_STREQ(out, "16,0,5,1,250,0.7,-4.0,0");
    EXPECT_FALSE(netlink_replace_fields("15,5,2", 0, out, sizeof out));
    EXPECT_FALSE(netlink_replace_fields("2,5,2,-3.0", 0, out, 8));
}

struct Collected {
    std::vector<std::string> lines;
};

void collect(const char *line, void *ctx)
{
    static_cast<Collected *>(ctx)->lines.emplace_back(line);
}

std::vector<std::string> lines_for(const std::string &packet, const netlink_groups &g)
{
    Collected c;
    Datagram d(packet);
    int n = netlink_link_lines(d.data(), d.size(), g, collect, &c);
    EXPECT_EQ((size_t)n, c.lines.size());
    return c.lines;
}

netlink_groups no_groups()
{
    netlink_groups g;
    for (int i = 0; i < 8; i++) {
        g.bus_net[i] = -1;
        g.out_net[i] = -1;
        g.out_group[i] = i;
    }
    return g;
}

TEST(NetlinkPacket, BusCommandRunsOncePerLocalBusOfTheGroup)
{
    // Device A: buses 2 and 5 in link group 1; device B: bus 0.
    netlink_groups a = no_groups(), b = no_groups();
    a.bus_net[2] = a.bus_net[5] = 1;
    b.bus_net[0] = 1;
    std::string packet = std::string("||1|2,3,2,-3.5\n") + '\0';
    EXPECT_EQ(lines_for(packet, a), (std::vector<std::string>{"2,0,2,-3.5", "2,0,5,-3.5"}));
    EXPECT_EQ(lines_for(packet, b), (std::vector<std::string>{"2,0,0,-3.5"}));
    // Other groups, group "/" (-1) and commands that are not bus or group commands match nothing.
    EXPECT_TRUE(lines_for("||2|2,3,2,-3.5\n", b).empty());
    EXPECT_TRUE(lines_for("||/|2,3,2,-3.5\n", no_groups()).empty());
    EXPECT_TRUE(lines_for("||1|22,3,New%20name\n", b).empty());
    EXPECT_TRUE(lines_for("||1|25,3,0,hello\n", b).empty());
    // Delay (60) is a bus command too; the text ends at the NUL.
    EXPECT_EQ(lines_for(std::string("||1|60,3,4,1.50\n") + '\0' + "junk", b),
              (std::vector<std::string>{"60,0,0,1.50"}));
}

TEST(NetlinkPacket, GroupCommandRunsOncePerOutputGroup)
{
    netlink_groups g = no_groups();
    // Outputs 0 and 1 form group 0, output 3 is group 3, output 4 is group 4 but not linked.
    g.out_group[1] = 0;
    g.out_net[0] = g.out_net[1] = g.out_net[3] = 2;
    EXPECT_EQ(lines_for("||2|38,1,6,-4.0\n", g), (std::vector<std::string>{"38,0,0,-4.0", "38,0,3,-4.0"}));
}

TEST(NetlinkPacket, LineTooShortToCarryAnIndexIsLogged)
{
    netlink_groups g = no_groups();
    g.bus_net[0] = 1;
    g.out_net[0] = 1;
    std::string log = errors_of([&] {
        EXPECT_TRUE(lines_for("||1|15,3,2\n", g).empty());
        EXPECT_TRUE(lines_for("||1|37,3,2\n", g).empty());
    });
    EXPECT_EQ(log, "netlink listener_thread: could not replace bus_id!\n"
                   "netlink listener_thread: could not replace group_lsp!\n");
}

TEST(NetlinkPacket, BroadcastAddressFollowsTheModeAndTheNetmask)
{
    constexpr uint32_t own = 0x0ad50801;  // 10.213.8.1
    EXPECT_EQ(netlink_broadcast_address(own, 0, 16), 0x0ad508ffu);     // automatic: always /24
    EXPECT_EQ(netlink_broadcast_address(own, 0x12, 8), 0x0ad508ffu);  // DHCP client
    EXPECT_EQ(netlink_broadcast_address(own, 3, 16), 0x0ad5ffffu);     // static: its own length
    EXPECT_EQ(netlink_broadcast_address(own, 0x13, 20), 0x0ad50fffu);
    EXPECT_EQ(netlink_broadcast_address(own, 3, 0), 0xffffffffu);
    EXPECT_EQ(netlink_broadcast_address(0, 3, 24), 0u);  // no address, nowhere to send
}

}  // namespace
