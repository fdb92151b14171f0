// HTTP on the client port, with raw sockets against the real network thread:
// the page, 404 and 414 answers, HEAD, requests split across reads, and the
// client limit that page requests count against.
#include <gtest/gtest.h>

#include <memory>
#include <regex>

#include "stream.h"
#include "stream_harness.h"
#include "stream_web.h"
#include "support/process.h"

namespace {

const std::string PAGE((const char *)web_page, web_page_size);

std::string page_headers(size_t length)
{
    return "HTTP/1.1 200 OK\r\n"
           "Content-Type: text/html; charset=utf-8\r\n"
           "Content-Length: " +
           std::to_string(length) +
           "\r\n"
           "Cache-Control: no-cache\r\n"
           "Connection: close\r\n\r\n";
}

std::string status_answer(const std::string &status, const std::string &body)
{
    return "HTTP/1.1 " + status +
           "\r\n"
           "Content-Type: text/plain; charset=utf-8\r\n"
           "Content-Length: " +
           std::to_string(body.size()) +
           "\r\n"
           "Cache-Control: no-cache\r\n"
           "Connection: close\r\n\r\n" +
           body;
}

const std::string NOT_FOUND = status_answer("404 Not Found", "Not found\n");

class StreamWeb : public ::testing::Test {
protected:
    void SetUp() override { harness::reset(); }
    int port() const { return harness::port(); }

    // Sends the request in the given pieces (a cycle apart) and returns all
    // that came back before the server closed the connection, whose id then
    // comes free.
    std::string exchange(const std::vector<std::string> &pieces, int rcvbuf = 0, int id = 1)
    {
        TestSocket s(port(), rcvbuf);
        for (size_t i = 0; i < pieces.size(); i++) {
            if (i > 0)
                harness::wait_cycles(1);
            s.send(pieces[i]);
        }
        EXPECT_TRUE(s.read_to_close()) << pieces[0];
        EXPECT_FALSE(s.reset) << "the answer ended with a reset: " << pieces[0];
        // The answered client leaves the table.
        EXPECT_TRUE(wait_until([id] { return !harness::conn_id_held(id); }));
        return s.in;
    }
    FdCapture cap;
};

}  // namespace

TEST(WebPage, IsSelfContainedAndFitsOneSendQueue)
{
    EXPECT_LE(web_page_size, STREAM_WEB_PAGE_MAX);
    EXPECT_LT(web_page_size + page_headers(web_page_size).size(), STREAM_QUEUE_MAX);
    EXPECT_EQ(PAGE.rfind("<!DOCTYPE html>", 0), 0u);
    EXPECT_NE(PAGE.find("</html>"), std::string::npos);
    // Nothing comes from elsewhere: the device's network may have no way out.
    std::smatch m;
    EXPECT_FALSE(std::regex_search(PAGE, m, std::regex("https?://|src=|@import|url\\(")))
        << "external reference: " << m.str();
}

TEST_F(StreamWeb, PlainGetOfTheRootGetsThePageWholeAndTheConnectionCloses)
{
    EXPECT_EQ(exchange({"GET / HTTP/1.1\r\nHost: device\r\nAccept: text/html\r\n\r\n"}),
              page_headers(PAGE.size()) + PAGE);
    // A query, the page's own name, HTTP/1.0, and a receive buffer far
    // smaller than the page (it goes out over many writes).
    for (std::string target : {"/?host=x", "/index.html"})
        EXPECT_EQ(exchange({"GET " + target + " HTTP/1.1\r\n\r\n"}), page_headers(PAGE.size()) + PAGE) << target;
    EXPECT_EQ(exchange({"GET / HTTP/1.0\r\n\r\n"}, 4096), page_headers(PAGE.size()) + PAGE);
    // Bytes after the request do not cut the answer short.
    EXPECT_EQ(exchange({"GET / HTTP/1.1\r\n\r\nGET / HTTP/1.1\r\n\r\n"}, 4096), page_headers(PAGE.size()) + PAGE);
}

TEST_F(StreamWeb, HeadGetsTheHeadersAlone)
{
    EXPECT_EQ(exchange({"HEAD / HTTP/1.1\r\nHost: device\r\n\r\n"}), page_headers(PAGE.size()));
    EXPECT_EQ(exchange({"HEAD /x HTTP/1.1\r\n\r\n"}), NOT_FOUND.substr(0, NOT_FOUND.size() - 10));
    // HEAD never upgrades.
    EXPECT_EQ(exchange({"HEAD / HTTP/1.1\r\nUpgrade: websocket\r\nSec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\n\r\n"}),
              page_headers(PAGE.size()));
}

TEST_F(StreamWeb, OtherPathsGetNotFound)
{
    for (std::string target : {"/x", "/favicon.ico", "/index.htm", "//"}) {
        EXPECT_EQ(exchange({"GET " + target + " HTTP/1.1\r\nHost: device\r\n\r\n"}), NOT_FOUND) << target;
        EXPECT_TRUE(harness::wait_log(cap, "client #1 requested sub-URL, answered 404\n"));
    }
    // Also when it asks for a WebSocket there.
    EXPECT_EQ(exchange({"GET /ws HTTP/1.1\r\nUpgrade: websocket\r\nSec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\n\r\n"}),
              NOT_FOUND);
    EXPECT_TRUE(harness::commands().empty());
}

TEST_F(StreamWeb, RequestSplitAcrossReads)
{
    const std::string request = "GET / HTTP/1.1\r\nHost: device\r\nUser-Agent: test\r\n\r\n";
    for (size_t cut : {2, 4, 9, 15, 16, 20, 45, 48, 49}) {
        EXPECT_EQ(exchange({request.substr(0, cut), request.substr(cut)}), page_headers(PAGE.size()) + PAGE)
            << "cut after " << cut;
    }
    // Byte by byte, the upgrade as well.
    TestSocket s(port());
    const std::string upgrade = "GET / HTTP/1.1\r\nUpgrade: websocket\r\nSec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\n\r\n";
    for (char ch : upgrade)
        s.send(std::string(1, ch));
    EXPECT_TRUE(s.expect_front("HTTP/1.1 101 Switching Protocols\r\n"));
    EXPECT_TRUE(s.expect("\r\n\r\n"));
    WsFrame f;
    ASSERT_TRUE(wait_until([&] { return ws_read_frame(s, &f) && f.payload == "1\n"; }));
}

TEST_F(StreamWeb, OversizedRequestLineIsRefusedAndTheServerGoesOn)
{
    std::string target = "/" + std::string(5000, 'a');
    EXPECT_EQ(exchange({"GET " + target + " HTTP/1.1\r\nHost: device\r\n\r\n"}),
              status_answer("414 URI Too Long", "Request line too long\n"));
    EXPECT_TRUE(harness::has_line(cap, "client #1 sent an overlong request line, answered 414\n"));
    // One character short of the limit still counts as a path (not found).
    target = "/" + std::string(STREAM_HTTP_LINE_MAX - 14, 'a');
    ASSERT_EQ(("GET " + target + " HTTP/1.1").size(), STREAM_HTTP_LINE_MAX);
    EXPECT_EQ(exchange({"GET " + target + " HTTP/1.1\r\n\r\n"}), NOT_FOUND);

    // Malformed request lines end the connection without an answer.
    for (std::string bad : {"GET x HTTP/1.1\r\n", "GET /\r\n", "GET / FTP/1\r\n", "HEADER / HTTP/1.1\r\n"}) {
        TestSocket s(port());
        s.send(bad);
        EXPECT_TRUE(s.read_to_close()) << bad;
        EXPECT_EQ(s.in, "") << bad;
        EXPECT_TRUE(wait_until([] { return !harness::conn_id_held(1); }));
    }
    EXPECT_TRUE(harness::has_line(cap, "client #1 did not send correct http header, or requested sub-URL\n"));
    TestSocket after(port());
    after.send("<mode>unix</mode>\n");
    EXPECT_TRUE(after.expect_front("1\n" + harness::full_dump()));
}

TEST_F(StreamWeb, PageRequestsCountAgainstTheClientLimit)
{
    // Eight browsers on their WebSockets: a ninth page request is refused.
    std::vector<std::unique_ptr<TestSocket>> open;
    for (int id = 1; id <= STREAM_MAX_CLIENTS; id++) {
        open.push_back(std::make_unique<TestSocket>(port()));
        ASSERT_NE(ws_handshake(*open.back()), "");
    }
    TestSocket ninth(port());
    ninth.send("GET / HTTP/1.1\r\n\r\n");
    EXPECT_TRUE(ninth.read_to_close());
    EXPECT_EQ(ninth.in, "");
    EXPECT_TRUE(harness::wait_log(cap, "cannot accept new connection, maximum clients reached\n"));

    // One leaves: the page is served again, and its slot is free once it is out.
    open[4].reset();
    ASSERT_TRUE(wait_until([] { return !harness::conn_id_held(5); }));
    EXPECT_EQ(exchange({"GET / HTTP/1.1\r\n\r\n"}, 0, 5), page_headers(PAGE.size()) + PAGE);
}
