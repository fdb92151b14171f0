// HTTP and WebSocket of the stream server: the request a browser opens a
// connection with (the control page, a 404, or the upgrade to WebSocket),
// the frames a WebSocket client sends, and the frames the server sends it.
// Everything runs on the network thread; nothing here blocks.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string_view>

struct stream_client;

constexpr size_t STREAM_HTTP_LINE_MAX = 127;  // characters of a request line examined
// The page and its response headers must fit one send queue (64 KiB) in one
// piece, with room to spare.
constexpr size_t STREAM_WEB_PAGE_MAX = 48 * 1024;

// What the request line asked for.
enum stream_http_target : int {
    STREAM_HTTP_ROOT = 0,      // "/": the page, or the upgrade
    STREAM_HTTP_OTHER = 1,     // any other path: 404
    STREAM_HTTP_TOO_LONG = 2,  // a request line past STREAM_HTTP_LINE_MAX: 414
};

// The control page (web/index.html), embedded by the build.
extern const unsigned char web_page[];
extern const size_t web_page_size;

// Whether the first four bytes of a new connection begin an HTTP request.
bool stream_http_begins(std::string_view first4);

// Reads one line of the HTTP request from the receive queue. At the empty
// line that ends the request the client gets the page (closed once sent), a
// 404 or 414, or the upgrade to WebSocket with its greeting. Returns 1 when
// a line was used, 0 to wait for more, -1 when the client was killed.
int stream_http_line(stream_client *c);

// Handles the client's frames in the receive queue (lines go to
// stream_handle_line) until the deadline; a frame cut short by it is
// resumed on the next call.
void stream_ws_receive(stream_client *c, int64_t deadline);

// Queues one piece as a frame of the current message: text opens it,
// continuations follow, final closes it. Returns a buffer result.
int stream_ws_piece(stream_client *c, int final, const void *bytes, size_t length);
