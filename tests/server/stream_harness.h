// The real network thread inside the test process, on a free port, with
// handlers that record what reaches them, and a thread that plays the
// real-time thread's end of cycle (levels and command stream every 4 ms).
// Test clients talk to it over loopback sockets.
#pragma once
#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "support/capture.h"

using namespace std::chrono_literals;

namespace harness {

// Starts everything once per process; later calls do nothing.
void start();
int port();
// Waits until no client holds an id (those of earlier tests are gone) and
// clears the records and the pending reports.
void reset();

// What the test handlers saw: command lines in order, ids whose messages were dropped.
std::vector<std::string> commands();
std::vector<int> dropped();
// A user message for the client's next line.
void queue_message(int conn_id, int level, const std::string &text);
// Report lines for the command stream of a later cycle, as the real-time thread adds them.
void queue_report(const std::string &text);
void set_levels(const std::string &text);
// True once every queued report went out with a broadcast.
bool reports_sent();
bool conn_id_held(int conn_id);
// Waits until the cycle thread has run n more cycles.
void wait_cycles(int n);

// The dump the test handler gives every new client.
const std::string &full_dump();

// The command handler echoes lines of id 2 into the command stream, so that
// every client sees them, and takes 1 ms over lines of id 77; the
// information handler answers "R:" + line.
std::string info_reply(std::string_view line);

// Whether the captured diagnostics hold a line beginning with text (prefixes
// stripped), and waiting until they do.
bool has_line(const FdCapture &cap, const std::string &text);
bool wait_log(const FdCapture &cap, const std::string &text, std::chrono::milliseconds timeout = 3s);

}  // namespace harness

// A loopback client socket with a receive buffer that tests search in.
struct TestSocket {
    int fd = -1;
    std::string in;       // received, not yet taken
    bool closed = false;  // EOF or reset seen
    bool reset = false;   // the close was a reset (data may have been lost)

    // rcvbuf > 0 shrinks the receive buffer before connecting.
    explicit TestSocket(int port, int rcvbuf = 0);
    ~TestSocket();
    TestSocket(const TestSocket &) = delete;
    TestSocket &operator=(const TestSocket &) = delete;

    void send(std::string_view data);
    // Reads what arrives within timeout; false when nothing did.
    bool read_some(std::chrono::milliseconds timeout);
    // Reads until in holds text; on success takes everything up to its end.
    bool expect(std::string_view text, std::chrono::milliseconds timeout = 3s);
    // The same, handing over what was taken (text included).
    bool take_until(std::string_view text, std::string *taken, std::chrono::milliseconds timeout = 3s);
    // Reads until in holds at least text's length; true when it starts with
    // text, which is then taken.
    bool expect_front(std::string_view text, std::chrono::milliseconds timeout = 3s);
    // Reads (and drops) until the server closes the connection.
    bool wait_closed(std::chrono::milliseconds timeout = 3s);
    // Reads (and keeps) until the server closes the connection.
    bool read_to_close(std::chrono::milliseconds timeout = 3s);
    // The server's end of this connection, found among the process's descriptors.
    int server_fd() const;
};

// WebSocket: client frames are masked unless told otherwise.
std::string ws_frame(unsigned first_byte, std::string_view payload, bool masked = true);
// Handshake with the given key; returns the server's reply up to its blank line (empty if none).
std::string ws_handshake(TestSocket &s, const std::string &key = "dGhlIHNhbXBsZSBub25jZQ==");

struct WsFrame {
    unsigned first_byte = 0;  // FIN and opcode
    bool masked = false;
    std::string payload;
};
// Takes one server frame out of s.in, reading as needed.
bool ws_read_frame(TestSocket &s, WsFrame *frame, std::chrono::milliseconds timeout = 3s);
// One whole text message assembled from its frames; also lists the frames' first bytes.
bool ws_read_message(TestSocket &s, std::string *message, std::vector<unsigned> *firsts = nullptr,
                     std::chrono::milliseconds timeout = 3s);
