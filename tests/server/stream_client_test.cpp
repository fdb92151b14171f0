// The receive and send sides of one client without a socket: bytes fed in
// as reads would bring them, pieces queued as the network thread would.
#include <gtest/gtest.h>

#include <string>

#include "stream_client.h"
#include "stream_harness.h"

namespace {

const std::string UNIX_HEADER = "<mode>unix</mode>\n";
const std::string WS_UPGRADE =
    "GET / HTTP/1.1\r\nUpgrade: websocket\r\nSec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\n\r\n";

class StreamClient : public ::testing::Test {
protected:
    void SetUp() override
    {
        harness::reset();  // the harness's handlers answer, record and dump
        stream_client_init(&c, -1, 5);
    }
    void TearDown() override
    {
        buffer_free(&c.send_queue);
        buffer_free(&c.recv_queue);
    }

    // Every recorded command is "1,5,0,<i>" for i = 0, 1, ...: a prefix of
    // what was sent, nothing skipped. Returns how many ran.
    static size_t commands_in_order()
    {
        auto cmds = harness::commands();
        for (size_t i = 0; i < cmds.size(); i++)
            EXPECT_EQ(cmds[i], "1,5,0," + std::to_string(i));
        return cmds.size();
    }

    stream_client c;
    FdCapture cap;
};

// Requests whose answers are about 1 KB, each followed by a command.
std::string flood_lines(int count)
{
    std::string text;
    for (int i = 0; i < count; i++)
        text += "1050,5," + std::string(1000, 'x') + "\n1,5,0," + std::to_string(i) + "\n";
    return text;
}

}  // namespace

TEST_F(StreamClient, RawFloodIsCutWhereTheSendQueueWouldPassItsLimit)
{
    stream_client_feed(&c, UNIX_HEADER.data(), UNIX_HEADER.size());
    ASSERT_EQ(c.state, STREAM_STATE_RAW);
    std::string flood = flood_lines(200);  // 200 KB of answers asked in one go
    stream_client_feed(&c, flood.data(), flood.size());

    EXPECT_EQ(c.state, STREAM_STATE_DEAD);
    EXPECT_TRUE(harness::has_line(cap, "client #5 exceeded maximum send queue size\n"));
    EXPECT_TRUE(harness::has_line(cap, "killing client #5\n"));
    // Never past the limit, and the answer that did not fit is the one that killed it.
    EXPECT_LE(c.send_queue.size, STREAM_QUEUE_MAX);
    EXPECT_GT(c.send_queue.size + harness::info_reply("1050,5," + std::string(1000, 'x')).size(), STREAM_QUEUE_MAX);
    EXPECT_LE(c.send_queue.alloc, STREAM_QUEUE_MAX);
    // Nothing after the killing request ran.
    size_t ran = commands_in_order();
    EXPECT_GT(ran, 40u);
    EXPECT_LT(ran, 70u);
}

TEST_F(StreamClient, WebSocketFloodIsCutTheSameWay)
{
    stream_client_feed(&c, WS_UPGRADE.data(), WS_UPGRADE.size());
    ASSERT_EQ(c.state, STREAM_STATE_WEBSOCKET);
    std::string frames;
    for (int i = 0; i < 200; i++)
        frames += ws_frame(0x81, "1050,5," + std::string(1000, 'x') + "\n1,5,0," + std::to_string(i) + "\n");
    stream_client_feed(&c, frames.data(), frames.size());

    EXPECT_EQ(c.state, STREAM_STATE_DEAD);
    EXPECT_TRUE(harness::has_line(cap, "client #5 exceeded maximum send queue size\n"));
    EXPECT_LE(c.send_queue.size, STREAM_QUEUE_MAX);
    size_t ran = commands_in_order();
    EXPECT_GT(ran, 40u);
    EXPECT_LT(ran, 70u);
}

TEST_F(StreamClient, ReceiveQueueNeverHoldsMoreThanItsLimit)
{
    // A header line that never ends.
    std::string endless = "GET / HTTP/1.1\r\n" + std::string(STREAM_QUEUE_MAX + 10000, 'a');
    stream_client_feed(&c, endless.data(), endless.size());
    EXPECT_EQ(c.state, STREAM_STATE_DEAD);
    EXPECT_TRUE(harness::has_line(cap, "client #5 exceeded maximum receive queue size\n"));
    EXPECT_LE(c.recv_queue.size, STREAM_QUEUE_MAX);
    EXPECT_LE(c.recv_queue.alloc, STREAM_QUEUE_MAX);

    // A frame whose 16-bit length is legal but which cannot fit the queue.
    buffer_free(&c.recv_queue);
    stream_client_init(&c, -1, 6);
    stream_client_feed(&c, WS_UPGRADE.data(), WS_UPGRADE.size());
    std::string big = ws_frame(0x81, std::string(65535, '1'));
    stream_client_feed(&c, big.data(), big.size());
    EXPECT_EQ(c.state, STREAM_STATE_DEAD);
    EXPECT_LE(c.recv_queue.size, STREAM_QUEUE_MAX);
}

TEST_F(StreamClient, PiecesUpToTheLimitStillGoOut)
{
    // A slow but honest client: its queue may fill right up to the limit.
    stream_client_feed(&c, UNIX_HEADER.data(), UNIX_HEADER.size());
    size_t held = c.send_queue.size;
    std::string piece(STREAM_QUEUE_MAX - held, 'p');
    stream_send(&c, 1, piece.data(), piece.size());
    EXPECT_EQ(c.state, STREAM_STATE_RAW);
    EXPECT_EQ(c.send_queue.size, STREAM_QUEUE_MAX);
    stream_send(&c, 1, "q", 1);
    EXPECT_EQ(c.state, STREAM_STATE_DEAD);
    EXPECT_EQ(c.send_queue.size, STREAM_QUEUE_MAX);  // the refused byte was not added
}

TEST_F(StreamClient, SlowLinesAreHandledOverSeveralPassesInOrder)
{
    // 1 ms each: a frame of 30 outlasts a pass, and its lines go on in the
    // next passes from where they stopped, the frame unmasked only once.
    stream_client_feed(&c, WS_UPGRADE.data(), WS_UPGRADE.size());
    std::string payload;
    for (int i = 0; i < 30; i++)
        payload += "77,5," + std::to_string(i) + "\n";
    std::string frames = ws_frame(0x81, payload) + ws_frame(0x81, "1,5,0,0\n");
    stream_client_feed(&c, frames.data(), frames.size());
    EXPECT_EQ(c.state, STREAM_STATE_WEBSOCKET);
    auto cmds = harness::commands();
    ASSERT_EQ(cmds.size(), 31u);
    for (int i = 0; i < 30; i++)
        EXPECT_EQ(cmds[(size_t)i], "77,5," + std::to_string(i));
    EXPECT_EQ(cmds[30], "1,5,0,0");
    EXPECT_FALSE(c.backlog);
    EXPECT_EQ(c.recv_queue.size, 0u);
}
