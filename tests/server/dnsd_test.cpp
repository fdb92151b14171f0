// The responder's answers, worked out on datagrams in memory: the table,
// the header and answer bytes, and every way a datagram can be wrong.
#include <gtest/gtest.h>

#include "dns_query.h"
#include "dnsd.h"
#include "server_state.h"

namespace {

// Byte by byte: gcc 12 sees a false overflow in vector::insert here.
template <class Bytes>
void append(dns_bytes *b, const Bytes &bytes)
{
    for (uint8_t x : bytes)
        b->push_back(x);
}

void append(dns_bytes *b, std::initializer_list<uint8_t> bytes)
{
    append<std::initializer_list<uint8_t>>(b, bytes);
}

class Dnsd : public ::testing::Test {
protected:
    void SetUp() override
    {
        dnsd_set_enabled(1);
        const dnsd_pair pairs[] = {
            {"FOH-Rack", "10.1.2.3"}, {"FOH-Rack.karu", "10.1.2.3"}, {"Delay Tower", "10.1.2.4"},
            {"Delay Tower.karu", "10.1.2.4"}, {"*", "10.1.2.1"}};
        dnsd_set_table(pairs, std::size(pairs));
    }
    void TearDown() override
    {
        dnsd_set_table(nullptr, 0);
        dnsd_set_enabled(1);
    }

    // The reply to a datagram; empty when none is sent.
    static dns_bytes reply(const dns_bytes &q)
    {
        uint8_t out[DNSD_PACKET_MAX];
        size_t n = dnsd_reply(q.data(), q.size(), out);
        EXPECT_LE(n, DNSD_PACKET_MAX);
        return dns_bytes(out, out + n);
    }
    static std::string a_of(const std::string &name)
    {
        dns_answer a;
        return dns_parse(reply(dns_query(7, name, DNSD_TYPE_A)), &a) ? dns_a_text(a.data) : "none";
    }
};

TEST_F(Dnsd, AnswersAKnownNameInAnyLetterCaseWithTheWholeReply)
{
    dns_bytes q = dns_query(0xbeef, "foh-RACK.KaRu", DNSD_TYPE_A);
    q[3] = 0x20;  // AD, as dig asks: the second flag byte comes back as it was
    dns_answer a;
    ASSERT_TRUE(dns_parse(reply(q), &a));
    EXPECT_EQ(a.id, 0xbeef);
    EXPECT_EQ(a.flags1, 0x85);  // QR, AA, and the query's RD
    EXPECT_EQ(a.flags2, 0x20);
    EXPECT_EQ(a.qd, 1);
    EXPECT_EQ(a.an, 1);
    EXPECT_EQ(a.ns, 0);
    EXPECT_EQ(a.ar, 0);
    EXPECT_EQ(a.question, dns_bytes(q.begin() + 12, q.end()));
    EXPECT_EQ(a.name, dns_wire("foh-RACK.KaRu"));  // the name as asked
    EXPECT_EQ(a.type, DNSD_TYPE_A);
    EXPECT_EQ(a.klass, DNSD_CLASS_IN);
    EXPECT_EQ(a.ttl, 120u);
    EXPECT_EQ(dns_a_text(a.data), "10.1.2.3");

    EXPECT_EQ(a_of("foh-rack"), "10.1.2.3");
    EXPECT_EQ(a_of("Delay Tower"), "10.1.2.4");
}

TEST_F(Dnsd, EveryOtherNameIsTheWildcardsAddress)
{
    EXPECT_EQ(a_of("www.example.com"), "10.1.2.1");
    EXPECT_EQ(a_of("foh-rack.karu.example"), "10.1.2.1");
    // Before the device knows its address the wildcard says so.
    const dnsd_pair only[] = {{"*", "0.0.0.0"}};
    dnsd_set_table(only, 1);
    EXPECT_EQ(a_of("anything"), "0.0.0.0");
    // An empty table answers nothing.
    dnsd_set_table(nullptr, 0);
    EXPECT_EQ(a_of("anything"), "none");
}

TEST_F(Dnsd, ReverseLookupsGiveTheDevicesName)
{
    dns_answer a;
    ASSERT_TRUE(dns_parse(reply(dns_query(1, "4.2.1.10.in-addr.arpa", DNSD_TYPE_PTR)), &a));
    EXPECT_EQ(a.type, DNSD_TYPE_PTR);
    EXPECT_EQ(a.data, dns_wire("Delay Tower"));  // the first entry of the address, terminated
    // Unknown addresses, and the wildcard's own, get no answer.
    EXPECT_TRUE(reply(dns_query(2, "9.2.1.10.in-addr.arpa", DNSD_TYPE_PTR)).empty());
    EXPECT_TRUE(reply(dns_query(3, "1.2.1.10.in-addr.arpa", DNSD_TYPE_PTR)).empty());
    // Octets are whole labels: 10.1.2.34 is not 10.1.2.3.
    EXPECT_TRUE(reply(dns_query(4, "34.2.1.10.in-addr.arpa", DNSD_TYPE_PTR)).empty());
}

TEST_F(Dnsd, OtherTypesClassesAndOpcodesAreDroppedSilently)
{
    std::string log = errors_of([&] {
        EXPECT_TRUE(reply(dns_query(1, "foh-rack", 28)).empty());  // AAAA
        EXPECT_TRUE(reply(dns_query(1, "foh-rack", 15)).empty());  // MX
        dns_bytes chaos = dns_query(1, "foh-rack", DNSD_TYPE_A);
        chaos.back() = 3;
        EXPECT_TRUE(reply(chaos).empty());
        dns_bytes status = dns_query(1, "foh-rack", DNSD_TYPE_A);
        status[2] = 2 << 3;  // opcode 2
        EXPECT_TRUE(reply(status).empty());
    });
    EXPECT_EQ(log, "");
}

TEST_F(Dnsd, MalformedDatagramsAreLoggedOrDroppedAndNeverReadPast)
{
    dns_bytes good = dns_query(9, "foh-rack", DNSD_TYPE_A);
    std::string log = errors_of([&] {
        EXPECT_TRUE(reply(dns_bytes(good.begin(), good.begin() + 11)).empty());
        dns_bytes big = good;
        big.resize(513, 0);
        EXPECT_TRUE(reply(big).empty());
        dns_bytes none = good;
        none[5] = 0;  // no question
        EXPECT_TRUE(reply(none).empty());
        dns_bytes response = good;
        response[2] |= 0x80;
        EXPECT_TRUE(reply(response).empty());
    });
    EXPECT_EQ(log, "packet size 11, ignored\npacket size 513, ignored\npacket has 0 queries, ignored\n"
                   "response packet, ignored\n");

    log = errors_of([&] {
        // The datagram ends inside the name: no terminating zero within it.
        dns_bytes cut(good.begin(), good.begin() + 12 + 5);
        EXPECT_TRUE(reply(cut).empty());
        // A label that claims more bytes than follow.
        dns_bytes longer(good.begin(), good.begin() + 12);
        longer.push_back(40);
        longer.insert(longer.end(), 10, 'a');
        EXPECT_TRUE(reply(longer).empty());
        // A compression pointer instead of a name, and a 64-byte label.
        dns_bytes pointer(good.begin(), good.begin() + 12);
        append(&pointer, {0xc0, 0x0c, 0, 1, 0, 1});
        EXPECT_TRUE(reply(pointer).empty());
        dns_bytes label64 = dns_query(9, std::string(64, 'a'), DNSD_TYPE_A);
        EXPECT_TRUE(reply(label64).empty());
        // The name is whole but type and class are missing.
        dns_bytes notype(good.begin(), good.end() - 3);
        EXPECT_TRUE(reply(notype).empty());
    });
    EXPECT_EQ(log, "");
    // The longest legal label still works.
    EXPECT_EQ(a_of(std::string(63, 'a')), "10.1.2.1");
}

TEST_F(Dnsd, ReplyKeepsOnlyTheQuestionAndFitsIn512Bytes)
{
    // A resolver's EDNS record behind the question is not echoed.
    dns_bytes q = dns_query(5, "foh-rack", DNSD_TYPE_A);
    size_t question_end = q.size();
    append(&q, {0, 0, 41, 0x10, 0, 0, 0, 0, 0, 0, 0});
    q[11] = 1;
    dns_bytes r = reply(q);
    EXPECT_EQ(r.size(), question_end + (question_end - 12) + 6 + 4);  // name, type, class; TTL, length; address
    dns_answer a;
    ASSERT_TRUE(dns_parse(r, &a));
    EXPECT_EQ(a.ar, 0);

    // A name of 250 bytes is legal, but the answer repeats it: over 512, not sent.
    std::string name;
    for (int i = 0; i < 5; i++)
        name += std::string(48, 'a' + i) + ".";
    name.pop_back();
    ASSERT_EQ(dns_wire(name).size(), 246u);
    EXPECT_EQ(a_of(name), "none");
    EXPECT_EQ(a_of(name.substr(0, 200)), "10.1.2.1");
}

TEST_F(Dnsd, SwitchedOffItIgnoresEveryQuery)
{
    dnsd_set_enabled(0);
    EXPECT_EQ(a_of("foh-rack"), "none");
    dnsd_set_enabled(1);
    EXPECT_EQ(a_of("foh-rack"), "10.1.2.3");
}

TEST_F(Dnsd, TableLeavesOutPairsThatCannotBeAnswered)
{
    const std::string label64(64, 'x');
    const dnsd_pair pairs[] = {{"good", "10.0.0.1"},
                               {"bad-address", "10.0.0.300"},
                               {label64.c_str(), "10.0.0.2"},
                               {"a..b", "10.0.0.3"},
                               {"", "10.0.0.4"},
                               {"*", "10.0.0.9"}};
    std::string log = errors_of([&] { dnsd_set_table(pairs, std::size(pairs)); });
    EXPECT_EQ(log, "error at line 2, skipping\n"
                   "dnsd_set_table: name at line 3 is no DNS name, skipping\n"
                   "dnsd_set_table: name at line 4 is no DNS name, skipping\n"
                   "dnsd_set_table: name at line 5 is no DNS name, skipping\n");
    EXPECT_EQ(a_of("good"), "10.0.0.1");
    EXPECT_EQ(a_of("bad-address"), "10.0.0.9");
}

TEST_F(Dnsd, TableHoldsEveryLinkedDeviceAndNoMore)
{
    std::vector<std::string> names;
    for (size_t i = 0; i <= DNSD_TABLE_MAX; i++)
        names.push_back("n" + std::to_string(i));
    std::vector<dnsd_pair> pairs;
    for (const std::string &n : names)
        pairs.push_back({n.c_str(), "10.0.0.1"});
    pairs.back().address = "10.0.0.2";
    std::string log = errors_of([&] { dnsd_set_table(pairs.data(), pairs.size()); });
    EXPECT_EQ(log, "dnsd_set_table: table full at line 130, skipping\n");
    EXPECT_EQ(a_of("n128"), "10.0.0.1");
    EXPECT_EQ(a_of("n129"), "none");
}

TEST(DnsdNames, QuestionNamesAreReadWithinTheDatagram)
{
    dns_bytes w = dns_wire("a.bc");
    dns_bytes packet(12, 0);
    append(&packet, w);
    EXPECT_EQ(dnsd_question_name(packet.data(), packet.size(), 12), 6u);
    EXPECT_EQ(dnsd_question_name(packet.data(), packet.size() - 1, 12), 0u);
    // The root name alone is a name.
    dns_bytes root(13, 0);
    EXPECT_EQ(dnsd_question_name(root.data(), root.size(), 12), 1u);
    // 255 bytes with the zero is the limit.
    dns_bytes longest(12, 0);
    for (int i = 0; i < 4; i++) {
        longest.push_back(62);
        longest.insert(longest.end(), 62, 'x');
    }
    longest.push_back(1);
    longest.push_back('x');
    longest.push_back(0);
    EXPECT_EQ(dnsd_question_name(longest.data(), longest.size(), 12), 255u);
    longest.insert(longest.end() - 1, 'y');
    longest[12 + 4 * 63] = 2;
    EXPECT_EQ(dnsd_question_name(longest.data(), longest.size(), 12), 0u);

    uint8_t out[DNSD_NAME_MAX];
    EXPECT_EQ(dnsd_wire_name("KARU8-4660.karu", out), 17u);
    EXPECT_EQ(dns_bytes(out, out + 17), dns_wire("KARU8-4660.karu"));
    EXPECT_EQ(dnsd_wire_name("trailing.", out), 0u);
    EXPECT_EQ(dnsd_wire_name(std::string(300, 'a').c_str(), out), 0u);
}

}  // namespace
