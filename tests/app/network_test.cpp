// The server link: the report parsers and the link thread against a fake
// server on loopback.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <mutex>

#include "app_test.h"
#include "network.h"
#include "platform.h"
#include "support/capture.h"
#include "support/process.h"

namespace {

std::mutex seen_mutex;
std::vector<command_arg> seen;

void record(const command_arg *a, intptr_t)
{
    std::lock_guard<std::mutex> l(seen_mutex);
    seen.push_back(*a);
}

size_t seen_count()
{
    std::lock_guard<std::mutex> l(seen_mutex);
    return seen.size();
}

std::vector<command_arg> seen_copy()
{
    std::lock_guard<std::mutex> l(seen_mutex);
    return seen;
}

bool seen_text(const std::string &text)
{
    for (const command_arg &a : seen_copy())
        if (text == a.text)
            return true;
    return false;
}

void listen_all()
{
    for (int id = 0; id < NETWORK_IDS; id++)
        if (network_has_parser(id))
            network_add_listener(id, record, id);
}

// Dispatches text as one received batch.
void dispatch(std::string text)
{
    sgui_lock();
    network_dispatch(text.data(), text.size());
    sgui_unlock();
}

class Parsers : public testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_EQ(network_init(), 0);
        listen_all();
        seen.clear();
    }
    command_arg one(const std::string &line)
    {
        seen.clear();
        dispatch(line + "\n");
        EXPECT_EQ(seen.size(), 1u) << line;
        return seen.empty() ? command_arg{} : seen[0];
    }
};

TEST_F(Parsers, TheWholeReceiveTableIsInstalled)
{
    int n = 0;
    for (int id = 0; id < NETWORK_IDS; id++)
        n += network_has_parser(id);
    EXPECT_EQ(n, 72);
    EXPECT_FALSE(network_has_parser(15));
    EXPECT_FALSE(network_has_parser(28));
    EXPECT_TRUE(network_has_parser(125));
}

TEST_F(Parsers, NumbersOrgAndTexts)
{
    command_arg a = one("2,5,3,-3.5");
    EXPECT_EQ(a.id, 2);
    EXPECT_EQ(a.org, 5);
    EXPECT_EQ(a.v[0].i, 3);
    EXPECT_FLOAT_EQ(a.v[1].f, -3.5f);

    a = one("16,0,1,4,1000,0.7,-2.5,1");
    EXPECT_EQ(a.count, 6);
    EXPECT_FLOAT_EQ(a.v[2].f, 1000.0f);
    EXPECT_FLOAT_EQ(a.v[3].f, 0.7f);
    EXPECT_EQ(a.v[5].i, 1);

    a = one("9,2,7,LEFT%20FILL%u20AC");
    EXPECT_EQ(a.v[0].i, 7);
    EXPECT_STREQ(a.text, "LEFT FILL\u20AC");

    a = one("25,3,0,Project%20saved.%0ANext%20line");
    EXPECT_STREQ(a.text, "Project saved.\nNext line");

    a = one("122,0,3560,2,2,0,0,dead,beef0001,Linux%205.10");
    EXPECT_EQ(a.v[5].u, 0xDEADu);
    EXPECT_EQ(a.v[6].u, 0xBEEF0001u);
    EXPECT_STREQ(a.text, "Linux 5.10");

    a = one("125,9,4,5");
    EXPECT_EQ(a.v[0].i, 4);
    EXPECT_EQ(a.v[1].i, 5);
}

TEST_F(Parsers, EmptyStatusTextAndOptionalBusDelay)
{
    command_arg a = one("123,0,ALARM");
    EXPECT_STREQ(a.text, "ALARM");
    a = one("123,0,");
    EXPECT_STREQ(a.text, "");
    a = one("23,1,2,293.15,1.50,2.25");
    EXPECT_EQ(a.v[0].i, 2);
    EXPECT_FLOAT_EQ(a.v[3].f, 2.25f);
    a = one("23,1,2,293.15,1.50");
    EXPECT_FLOAT_EQ(a.v[2].f, 1.5f);
    EXPECT_FLOAT_EQ(a.v[3].f, 0.0f);
    // Other lines need all their numbers.
    seen.clear();
    dispatch("24,0,3,12\n");
    EXPECT_TRUE(seen.empty());
}

TEST_F(Parsers, NetworkReportIsSplitIntoOctetsAndFlags)
{
    command_arg a = one("21,0,3232235530,257,192,168,0,10,24,192,168,0,1");
    EXPECT_EQ(a.v[0].i, 192);
    EXPECT_EQ(a.v[1].i, 168);
    EXPECT_EQ(a.v[2].i, 0);
    EXPECT_EQ(a.v[3].i, 10);
    EXPECT_EQ(a.v[4].i, 1);  // mode
    EXPECT_EQ(a.v[5].i, 1);  // access point running
    EXPECT_EQ(a.v[6].i, 192);
    EXPECT_EQ(a.v[10].i, 24);
    EXPECT_EQ(a.v[14].i, 1);
}

TEST_F(Parsers, LevelAndCurveLists)
{
    command_arg a = one("31,4,-12.5,-0.5");
    EXPECT_EQ(a.v[0].i, 4);
    EXPECT_FLOAT_EQ(a.v[1].f, -12.5f);
    EXPECT_FLOAT_EQ(a.v[2].f, -0.5f);
    std::string curve = "13,0,2";
    for (int i = 0; i < 130; i++)
        curve += "," + std::to_string(i % 7) + ".5";
    a = one(curve);
    EXPECT_EQ(a.v[0].i, 2);
    EXPECT_EQ(a.count, 128);
    EXPECT_FLOAT_EQ(a.list[127], 127 % 7 + 0.5f);
    a = one("48,0,1,1.0,2.0,,4.0");
    EXPECT_EQ(a.count, 2);
    a = one("32,0,0,0,1,1,-1,-1,2,2,5,5,6,6,0,0,7,7");
    EXPECT_EQ(a.count, 16);
    EXPECT_EQ(a.v[4].i, -1);
    EXPECT_EQ(a.v[15].i, 7);
}

TEST_F(Parsers, LinesThatAreNotReportsAreSkipped)
{
    dispatch("15,0,1\n999,0,1\n-3,0,1\nabc\n\n1,0\n1,x,1,1\n27,0,1\n");
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].id, 27);
    // Without a listener a line is not parsed at all.
    ASSERT_EQ(network_init(), 0);
    seen.clear();
    dispatch("27,0,1\n");
    EXPECT_TRUE(seen.empty());
}

TEST_F(Parsers, ReceivedPiecesAreJoinedAtTheResidualLine)
{
    // Byte by byte, as the slowest reads would bring them.
    std::string text = "22,0,DEVICE%201\n27,0,1\n2,5,3,-3.5\n";
    for (char c : text)
        network_receive(&c, 1);
    ASSERT_EQ(seen.size(), 3u);
    EXPECT_STREQ(seen[0].text, "DEVICE 1");
    EXPECT_EQ(seen[1].id, 27);
    EXPECT_FLOAT_EQ(seen[2].v[1].f, -3.5f);
    network_receive("27,0,", 5);  // waits for its end
    EXPECT_EQ(seen.size(), 3u);
}

TEST_F(Parsers, ListenersRunInRegistrationOrder)
{
    static std::string order;
    order.clear();
    network_add_listener(27, [](const command_arg *, intptr_t u) { order += std::to_string(u); }, 7);
    network_add_listener(27, [](const command_arg *, intptr_t u) { order += std::to_string(u); }, 8);
    dispatch("27,0,1\n");
    EXPECT_EQ(order, "78");
}

TEST(ParsersDeathTest, ListenerForAnIdWithoutParserIsAnAssertion)
{
    ASSERT_EQ(network_init(), 0);
    EXPECT_DEATH(network_add_listener(15, record, 0), "command_dispatch\\[command_id\\].work != \\(\\(void \\*\\)0\\)");
    EXPECT_DEATH(network_add_listener(126, record, 0), "command_id <= \\(125\\)");
}

class Link : public testing::Test {
protected:
    void SetUp() override
    {
        setenv("MIREL_PORT", std::to_string(server.port()).c_str(), 1);
        platform_init();
        ASSERT_EQ(network_init(), 0);
        listen_all();
        seen.clear();
        ASSERT_EQ(network_start(), 0);
    }
    void TearDown() override
    {
        network_stop();
        unsetenv("MIREL_PORT");
        platform_init();
    }
    void connect(int id, const std::string &more = "")
    {
        ASSERT_TRUE(server.accept_client());
        ASSERT_TRUE(server.send(std::to_string(id) + "\n" + more));
        ASSERT_TRUE(wait_until([&] { return network_connected() && network_get_conn_id() == id; }));
    }
    FakeServer server;
};

TEST_F(Link, ReportsBehindTheConnectionIdInTheFirstRead)
{
    connect(3, "22,0,DEVICE%201\n27,0,1\n");
    ASSERT_TRUE(wait_until([] { return seen_count() >= 2; }));
    std::vector<command_arg> s = seen_copy();
    EXPECT_EQ(s[0].id, 22);
    EXPECT_STREQ(s[0].text, "DEVICE 1");
    EXPECT_EQ(s[1].id, 27);
    EXPECT_EQ(sgui_connected(), 1);
}

TEST_F(Link, LineSplitAcrossReadsIsDispatchedOnceWhole)
{
    connect(1);
    ASSERT_TRUE(server.send("22,0,FIRST\n1,0,2,"));
    ASSERT_TRUE(wait_until([] { return seen_text("FIRST"); }));
    ASSERT_TRUE(server.send("1\n15,0,1\n22,0,LAST\n"));
    ASSERT_TRUE(wait_until([] { return seen_text("LAST"); }));
    std::vector<command_arg> s = seen_copy();
    ASSERT_EQ(s.size(), 3u);  // 15 has no parser
    EXPECT_EQ(s[1].id, 1);
    EXPECT_EQ(s[1].v[0].i, 2);
    EXPECT_EQ(s[1].v[1].i, 1);
}

TEST_F(Link, OutputIsWrittenAfterAReceivedBatch)
{
    connect(2);
    network_output_command("27,2,1\n");
    network_output_command("44,2,0,1\n");
    ASSERT_TRUE(server.send("29,0,0\n"));
    EXPECT_TRUE(server.wait_received("27,2,1\n44,2,0,1\n"));
}

TEST_F(Link, QueuedOutputLeavesWithoutWaitingForAReport)
{
    connect(2);
    network_output_command("12,2,0,17,1.0\n");
    EXPECT_TRUE(server.wait_received("12,2,0,17,1.0\n", std::chrono::milliseconds(1000)));
}

TEST_F(Link, QueuedCommandsDoNotHideASilentServer)
{
    connect(1);
    FdCapture err;
    // The user keeps turning; the server says nothing: the link still ends.
    bool closed = false;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(9);
    while (!closed && std::chrono::steady_clock::now() < deadline) {
        network_output_command("12,1,0,17,1.0\n");
        closed = server.client_closed(std::chrono::milliseconds(200));
    }
    EXPECT_TRUE(closed);
    EXPECT_NE(err.finish().find("network_handle: final timeout\n"), std::string::npos);
    EXPECT_NE(server.received().find("12,1,0,17,1.0\n"), std::string::npos);
}

TEST_F(Link, QueuedOutputIsDiscardedWhenTheLinkFails)
{
    connect(2);
    network_output_command("44,2,0,1\n");
    server.drop_client();  // the panel reads 0: closes, discards the queue
    network_output_command("44,2,1,1\n");
    connect(4);
    network_output_command("27,4,1\n");
    ASSERT_TRUE(server.send("29,0,0\n"));
    ASSERT_TRUE(server.wait_received("27,4,1\n"));
    EXPECT_EQ(server.received().find("44,"), std::string::npos) << server.received();
}

TEST_F(Link, OverlongLineIsDroppedAndTheNextLineStillArrives)
{
    connect(1);
    FdCapture err;
    std::string huge = "22,0," + std::string(70000, 'x');
    ASSERT_TRUE(server.send(huge));
    ASSERT_TRUE(server.send(std::string(30000, 'y') + "\n22,0,AFTER\n"));
    ASSERT_TRUE(wait_until([] { return seen_text("AFTER"); }));
    std::string text = err.finish();
    EXPECT_NE(text.find("network_handle: line longer than 49152 bytes dropped\n"), std::string::npos) << text;
    EXPECT_EQ(seen_count(), 1u);
    EXPECT_TRUE(network_connected());
}

TEST_F(Link, SilentServerGetsTheFinalTimeoutAndTheLinkComesBack)
{
    connect(1);
    FdCapture err;
    // Quiet seconds are counted up to the limit of 3; the next one ends the link.
    ASSERT_TRUE(server.client_closed(std::chrono::milliseconds(9000)));
    connect(5);
    std::string text = err.finish();
    EXPECT_NE(text.find("network_handle: final timeout\n\n"), std::string::npos) << text;
    EXPECT_NE(text.find("conn id: 5\n\n"), std::string::npos) << text;
}

}  // namespace
