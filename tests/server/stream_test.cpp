#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <memory>
#include <random>
#include <sys/socket.h>
#include <thread>

#include "stream.h"
#include "stream_harness.h"
#include "support/process.h"

namespace {

const std::string UNIX_HEADER = "<mode>unix</mode>\n";
const std::string FLASH_HEADER = "<mode>flash</mode>\n";
const std::string NUL(1, '\0');

std::string greeting(int id)
{
    return std::to_string(id) + "\n" + harness::full_dump();
}

std::string flash_greeting(int id)
{
    return std::to_string(id) + "\n" + NUL + harness::full_dump() + NUL;
}

void open_unix(TestSocket &s, int id)
{
    s.send(UNIX_HEADER);
    ASSERT_TRUE(s.expect_front(greeting(id)));
}

void open_websocket(TestSocket &s, int id)
{
    ASSERT_NE(ws_handshake(s), "");
    WsFrame f;
    ASSERT_TRUE(ws_read_frame(s, &f));
    EXPECT_EQ(f.first_byte, 0x81u);
    EXPECT_EQ(f.payload, std::to_string(id) + "\n");
    ASSERT_TRUE(ws_read_frame(s, &f));
    EXPECT_EQ(f.first_byte, 0x81u);  // the dump as one piece
    EXPECT_EQ(f.payload, harness::full_dump());
}

void close_and_wait_removed(TestSocket &s, int id)
{
    close(s.fd);
    s.fd = -1;
    ASSERT_TRUE(wait_until([id] { return !harness::conn_id_held(id); }));
}

// Receive buffers of both ends made small, so that a client that stops
// reading backs up into the server's own send queue within a few KiB.
void shrink_server_side(const TestSocket &s)
{
    int fd = s.server_fd();
    ASSERT_GE(fd, 0);
    int size = 4096;
    setsockopt(fd, SOL_SOCKET, SO_SNDBUF, &size, sizeof size);
}

void queue_big_reports(int count)
{
    for (int i = 0; i < count; i++)
        harness::queue_report("99,0," + std::string(4000, 'x') + "\n");
}

class StreamServer : public ::testing::Test {
protected:
    void SetUp() override { harness::reset(); }
    FdCapture cap;
    int port() const { return harness::port(); }
};

}  // namespace

TEST(StreamSend, WebSocketFramesUseTheShortestLengthAndOneMessagePerFinal)
{
    stream_client c{};
    c.fd = -1;
    c.state = STREAM_STATE_WEBSOCKET;
    std::string big(65536, 'b');
    stream_send(&c, 0, "ab", 2);
    stream_send(&c, 0, big.data(), 126);
    stream_send(&c, 1, big.data(), 65535);
    stream_send(&c, 1, big.data(), 65536);
    std::string q(buffer_head(&c.send_queue), c.send_queue.size);
    size_t at = 0;
    auto header = [&](std::string_view want, size_t payload) {
        EXPECT_EQ(q.substr(at, want.size()), want) << "at " << at;
        at += want.size() + payload;
    };
    header(std::string("\x01\x02", 2), 2);                       // text, open
    header(std::string("\x00\x7e\x00\x7e", 4), 126);             // continuation
    header(std::string("\x80\x7e\xff\xff", 4), 65535);           // final continuation
    header(std::string("\x81\x7f\0\0\0\0\0\x01\0\0", 10), 65536);  // a new message
    EXPECT_EQ(at, q.size());
    EXPECT_FALSE(c.fragment);
    buffer_free(&c.send_queue);

    stream_client raw{};
    raw.state = STREAM_STATE_RAW;
    raw.nul_mode = true;
    stream_send(&raw, 0, "x\n", 2);
    stream_send(&raw, 1, "", 0);
    EXPECT_EQ(std::string(buffer_head(&raw.send_queue), raw.send_queue.size), "x\n" + NUL + NUL);
    buffer_free(&raw.send_queue);

    stream_client fresh{};
    stream_send(&fresh, 1, "x", 1);  // no mode yet: nothing goes out
    EXPECT_EQ(fresh.send_queue.size, 0u);
}

TEST_F(StreamServer, ConnectionIdsAreTheSmallestFree)
{
    TestSocket a(port());
    open_unix(a, 1);
    TestSocket b(port());
    open_unix(b, 2);
    EXPECT_TRUE(harness::conn_id_held(1) && harness::conn_id_held(2));
    EXPECT_FALSE(harness::conn_id_held(3));
    harness::queue_message(1, 0, "never fetched");
    close_and_wait_removed(a, 1);
    EXPECT_EQ(harness::dropped(), std::vector<int>{1});  // its messages go with it

    TestSocket c(port());
    open_unix(c, 1);
    EXPECT_TRUE(harness::wait_log(cap, "client #1: TCP disconnect\n"));
    EXPECT_TRUE(harness::has_line(cap, "killing client #1\n"));
    EXPECT_TRUE(harness::has_line(cap, "new client! #2\n"));
}

TEST_F(StreamServer, NinthConnectionIsClosedAndSilentOnesKeepTheirSlots)
{
    std::vector<std::unique_ptr<TestSocket>> silent;
    for (int id = 1; id <= STREAM_MAX_CLIENTS; id++) {
        silent.push_back(std::make_unique<TestSocket>(port()));
        ASSERT_TRUE(wait_until([id] { return harness::conn_id_held(id); }));
    }
    TestSocket ninth(port());
    EXPECT_TRUE(ninth.wait_closed());
    EXPECT_TRUE(harness::wait_log(cap, "cannot accept new connection, maximum clients reached\n"));

    // No inactivity limit before the mode is known.
    harness::wait_cycles(20);
    for (auto &s : silent) {
        s->read_some(0ms);
        EXPECT_FALSE(s->closed);
    }
    open_unix(*silent[3], 4);
}

TEST_F(StreamServer, ModeHeaderWholeOrSplitAnywhere)
{
    for (const std::string &header : {UNIX_HEADER, FLASH_HEADER}) {
        for (size_t cut = 0; cut < header.size(); cut++) {
            TestSocket s(port());
            s.send(header.substr(0, cut));
            harness::wait_cycles(2);
            s.send(header.substr(cut));
            EXPECT_TRUE(s.expect_front(header == UNIX_HEADER ? greeting(1) : flash_greeting(1)))
                << header << " cut after " << cut;
            close_and_wait_removed(s, 1);
        }
    }
    EXPECT_FALSE(harness::has_line(cap, "client #1: invalid header\n"));
}

TEST_F(StreamServer, BadHeadersEndTheConnectionWithTheirLine)
{
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"<mode>unic</mode>\n", "client #1: invalid header\n"},
        {"<mode>flash</mode>X", "client #1: invalid header\n"},
        {"<polisy-file-request/>", "invalid header\n"},
        {"HELO there\n", "client #1 did not send http header\n"},
        {"GET sub HTTP/1.1\r\n", "client #1 did not send correct http header, or requested sub-URL\n"},
        {"GET / HTTP/1.1\r\nSec-WebSocket-Key: c2hvcnQ=\r\n", "unexpected hash len\n"},
        {"GET / HTTP/1.1\r\nHost: x\rX", "invalid HTTP header\n"},
        {"GET / HTTP/1.1\r\nUpgrade: websocket\r\n\r\n", "client #1 sent no websocket key\n"},
    };
    for (const auto &[input, line] : cases) {
        TestSocket s(port());
        s.send(input);
        EXPECT_TRUE(s.wait_closed()) << input;
        EXPECT_TRUE(harness::wait_log(cap, line)) << input;
        EXPECT_TRUE(s.in.empty()) << input;
        close_and_wait_removed(s, 1);
    }
}

TEST_F(StreamServer, PolicyRequestIsAnsweredThenClosed)
{
    TestSocket s(port());
    s.send("<policy-file-request/>" + NUL);
    EXPECT_TRUE(s.expect_front("<?xml version=\"1.0\"?><cross-domain-policy>    <allow-access-from domain=\"*\" "
                               "to-ports=\"*\" /></cross-domain-policy>"));
    EXPECT_TRUE(s.wait_closed());
}

TEST_F(StreamServer, FlashClientGetsANulAfterEveryPiece)
{
    TestSocket s(port());
    s.send(FLASH_HEADER);
    ASSERT_TRUE(s.expect_front(flash_greeting(1)));
    harness::set_levels("31,0,-1.0,0.0\n");
    EXPECT_TRUE(s.expect("31,0,-1.0,0.0\n" + NUL + NUL));  // levels, empty final piece
    harness::queue_report("2,1,0,-3.0\n");
    EXPECT_TRUE(s.expect("31,0,-1.0,0.0\n" + NUL + "2,1,0,-3.0\n" + NUL + NUL));
}

TEST_F(StreamServer, RawLinesReachTheHandlersAndRepliesOnlyTheAsker)
{
    TestSocket a(port());
    open_unix(a, 1);
    TestSocket b(port());
    open_unix(b, 2);
    harness::queue_message(1, 1, "Name exists.");
    // A NUL ends a line as well as a line feed does.
    a.send("1,1,0,1\n1036,1" + NUL + "2,1,0,-3.0\n");
    EXPECT_TRUE(a.expect("25,1,1,Name%20exists.\n"));
    EXPECT_TRUE(a.expect("R:1036,1\n"));
    EXPECT_TRUE(a.expect("2,1,0,-3.0\n"));  // the echo reaches every client
    EXPECT_TRUE(b.expect("2,1,0,-3.0\n"));
    EXPECT_EQ(b.in.find("R:"), std::string::npos);
    EXPECT_EQ(b.in.find("25,"), std::string::npos);
    EXPECT_EQ(harness::commands(), (std::vector<std::string>{"1,1,0,1", "2,1,0,-3.0"}));

    std::string longest = "1,1," + std::string(STREAM_LINE_MAX - 4, '7');
    a.send(longest + "\n");
    EXPECT_TRUE(wait_until([&] { return harness::commands().back() == longest; }));
    a.send(longest + "7\n");
    EXPECT_TRUE(a.wait_closed());
    EXPECT_TRUE(harness::wait_log(cap, "overlong line from client #1\n"));
    EXPECT_EQ(harness::commands().back(), longest);
}

TEST_F(StreamServer, WebSocketHandshakeGreetingAndFragmentedBroadcast)
{
    TestSocket s(port());
    EXPECT_EQ(ws_handshake(s),
              "HTTP/1.1 101 Switching Protocols\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n"
              "Sec-WebSocket-Accept: s3pPLMBiTxaQ9kYGzzhZRbK+xOo=\r\n\r\n");
    WsFrame f;
    ASSERT_TRUE(ws_read_frame(s, &f));
    EXPECT_EQ(f.first_byte, 0x81u);
    EXPECT_EQ(f.payload, "1\n");
    EXPECT_FALSE(f.masked);
    ASSERT_TRUE(ws_read_frame(s, &f));
    EXPECT_EQ(f.payload, harness::full_dump());

    harness::set_levels("30,7,-2.5,0.0\n");
    std::string msg;
    std::vector<unsigned> firsts;
    ASSERT_TRUE(wait_until([&] { return ws_read_message(s, &msg, &firsts) && msg == "30,7,-2.5,0.0\n"; }));
    EXPECT_EQ(firsts, (std::vector<unsigned>{0x01, 0x80}));  // text, empty final continuation
    harness::queue_report("2,1,0,-3.0\n1,1,0,1\n");
    ASSERT_TRUE(wait_until([&] { return ws_read_message(s, &msg, &firsts) && firsts.size() == 3; }));
    EXPECT_EQ(msg, "30,7,-2.5,0.0\n2,1,0,-3.0\n1,1,0,1\n");
    EXPECT_EQ(firsts, (std::vector<unsigned>{0x01, 0x00, 0x80}));
}

TEST_F(StreamServer, WebSocketClientFrames)
{
    TestSocket s(port());
    open_websocket(s, 1);
    s.send(ws_frame(0x89, "hello"));
    WsFrame f;
    ASSERT_TRUE(wait_until([&] { return ws_read_frame(s, &f) && f.first_byte == 0x8A; }));
    EXPECT_EQ(f.payload, "hello");
    EXPECT_FALSE(f.masked);

    std::string lines;
    for (int i = 0; i < 30; i++)
        lines += "1,1," + std::to_string(i) + ",1\n";  // over 125 bytes: a 16-bit length
    s.send(ws_frame(0x81, lines));
    s.send(ws_frame(0x82, "1,1,30,1\n"));
    // A 64-bit length of at most 1024 is taken too.
    std::string long_form = std::string("\x81\xff", 2) + std::string(7, '\0') + "\x09" + std::string(4, '\0') + "1,1,31,1\n";
    s.send(long_form);
    ASSERT_TRUE(wait_until([] { return harness::commands().size() == 32; }));
    EXPECT_EQ(harness::commands()[29], "1,1,29,1");
    EXPECT_EQ(harness::commands()[31], "1,1,31,1");
    close_and_wait_removed(s, 1);

    std::string too_big = std::string("\x81\xff", 2) + std::string(6, '\0') + "\x04\x01" + "abcd";
    const std::vector<std::pair<std::string, std::string>> kills = {
        {ws_frame(0x81, "1,5,0,1"), "malformed websocket message contents\n"},
        {ws_frame(0x81, "1,5,0,1\n", false), "unexpected websocket header flags: 128 / 0\n"},
        {ws_frame(0x01, "1,5,0,1\n"), "unexpected websocket header flags: 0 / 128\n"},
        {too_big, "client #1 sent message with too big payload size\n"},
        {ws_frame(0x88, ""), "close message received\n"},
    };
    for (const auto &[frame, line] : kills) {
        TestSocket k(port());
        open_websocket(k, 1);
        k.send(frame);
        EXPECT_TRUE(harness::wait_log(cap, line)) << line;
        EXPECT_TRUE(k.wait_closed()) << line;
        close_and_wait_removed(k, 1);
    }
    EXPECT_EQ(harness::commands().size(), 32u);  // nothing of the killed ones ran
}

TEST_F(StreamServer, ReaderThatStopsIsDisconnectedAfterTheInactivityLimit)
{
    TestSocket s(port(), 4096);
    open_unix(s, 1);
    shrink_server_side(s);
    auto start = std::chrono::steady_clock::now();
    queue_big_reports(10);  // 40 KB: more than the sockets hold, well below the queue limit
    ASSERT_TRUE(harness::wait_log(cap, "disconnecting client #1 for inactivity\n",
                                  std::chrono::milliseconds(STREAM_INACTIVITY_US / 1000) + 5s));
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::microseconds(STREAM_INACTIVITY_US) - 100ms);
    EXPECT_FALSE(harness::has_line(cap, "client #1 exceeded maximum send queue size\n"));
    EXPECT_TRUE(s.wait_closed());
}

TEST_F(StreamServer, ReaderThatStallsBrieflyStays)
{
    TestSocket s(port(), 4096);
    open_unix(s, 1);
    shrink_server_side(s);
    auto start = std::chrono::steady_clock::now();
    queue_big_reports(10);
    harness::queue_report("99,0,end\n");
    std::this_thread::sleep_until(start + 500ms);  // the stall itself
    ASSERT_TRUE(s.expect("99,0,end\n"));
    // Past the point where the stall would have ended it, had it not drained.
    while (std::chrono::steady_clock::now() < start + std::chrono::microseconds(STREAM_INACTIVITY_US) + 500ms) {
        s.read_some(50ms);
        s.in.clear();
    }
    s.send("1037,1\n");
    EXPECT_TRUE(s.expect("R:1037,1\n"));
    EXPECT_FALSE(harness::has_line(cap, "disconnecting client #1 for inactivity\n"));
}

TEST_F(StreamServer, QueueLimitsKillTheClient)
{
    TestSocket s(port(), 4096);
    open_unix(s, 1);
    shrink_server_side(s);
    queue_big_reports(30);
    EXPECT_TRUE(harness::wait_log(cap, "client #1 exceeded maximum send queue size\n"));
    EXPECT_TRUE(s.wait_closed());
    close_and_wait_removed(s, 1);

    // An HTTP header line that never ends.
    TestSocket h(port());
    h.send("GET / HTTP/1.1\r\n" + std::string(STREAM_QUEUE_MAX + 4096, 'a'));
    EXPECT_TRUE(harness::wait_log(cap, "client #1 exceeded maximum receive queue size\n"));
    EXPECT_TRUE(h.wait_closed());
}

namespace {

// One noisy connection after another: random bytes, bad headers, truncated
// and oversized frames, overlong lines.
void noise_loop(unsigned seed, int port, const std::atomic<bool> &stop)
{
    std::mt19937 rng(seed);
    auto random_bytes = [&](size_t n) {
        std::string b(n, '\0');
        for (char &c : b)
            c = (char)(rng() & 0xFF);
        return b;
    };
    const std::string upgrade = "GET / HTTP/1.1\r\nUpgrade: websocket\r\nSec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\n\r\n";
    while (!stop) {
        TestSocket g(port);
        switch (rng() % 7) {
        case 0: g.send(random_bytes(1 + rng() % 3000)); break;
        case 1: g.send(UNIX_HEADER + random_bytes(1 + rng() % 2000)); break;
        case 2: g.send(upgrade + ws_frame(0x81, std::string(100, '1')).substr(0, 40)); break;
        case 3: g.send(upgrade + std::string("\x81\xff", 2) + std::string(8, '\x7f')); break;
        case 4: g.send(upgrade + random_bytes(1 + rng() % 500)); break;
        case 5: g.send(std::vector<std::string>{"<mode>x", "GET /x HTTP/1.0\r\n", "<pol?", "\r\n\r\n"}[rng() % 4]); break;
        default: g.send(FLASH_HEADER + std::string(3000, '5')); break;
        }
        g.wait_closed(std::chrono::milliseconds(rng() % 60));
    }
}

}  // namespace

TEST_F(StreamServer, NoisyClientsDisturbNobodyElse)
{
    TestSocket raw(port());
    open_unix(raw, 1);
    TestSocket ws(port());
    open_websocket(ws, 2);

    std::atomic<bool> stop{false};
    std::vector<std::thread> noise;
    for (unsigned t = 0; t < 5; t++)
        noise.emplace_back(noise_loop, 1000 + t, port(), std::cref(stop));

    auto until = std::chrono::steady_clock::now() + 1500ms;
    int seq = 0;
    while (std::chrono::steady_clock::now() < until && !HasFailure()) {
        seq++;
        std::string raw_ask = "1050,1," + std::to_string(seq);
        std::string ws_ask = "1050,2," + std::to_string(seq);
        raw.send(raw_ask + "\n");
        ws.send(ws_frame(0x81, ws_ask + "\n"));
        std::string taken;
        ASSERT_TRUE(raw.take_until(harness::info_reply(raw_ask), &taken)) << seq;
        // Only lines that start a line are replies; nothing of another client's.
        EXPECT_EQ(("\n" + taken).find("\nR:"), ("\n" + taken).rfind("\nR:")) << taken;
        std::string msg;
        do {
            ASSERT_TRUE(ws_read_message(ws, &msg)) << seq;
            if (msg.rfind("R:", 0) == 0) {
                ASSERT_EQ(msg, harness::info_reply(ws_ask));
            }
        } while (msg.rfind("R:", 0) != 0);
    }
    stop = true;
    for (auto &t : noise)
        t.join();
    EXPECT_GT(seq, 10);

    ASSERT_TRUE(wait_until([] {
        for (int id = 3; id <= STREAM_MAX_CLIENTS; id++)
            if (harness::conn_id_held(id))
                return false;
        return true;
    }));
    TestSocket fresh(port());
    open_unix(fresh, 3);
    // The well-behaved clients are still served.
    raw.send("1,1,0,1\n");
    ws.send(ws_frame(0x81, "1,2,0,1\n"));
    EXPECT_TRUE(wait_until([] {
        auto c = harness::commands();
        return std::count(c.begin(), c.end(), "1,1,0,1") == 1 && std::count(c.begin(), c.end(), "1,2,0,1") == 1;
    }));
}
