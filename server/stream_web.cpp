#include "stream_web.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <strings.h>

#include "base64.h"
#include "log.h"
#include "sha1.h"
#include "stream_client.h"

namespace {

constexpr const char WS_GUID[] = "258EAFA5-E914-47DA-95CA-C5AB0DC85B11";

enum ws_opcode : unsigned {
    WS_CONTINUATION = 0,
    WS_TEXT = 1,
    WS_BINARY = 2,
    WS_CLOSE = 8,
    WS_PING = 9,
    WS_PONG = 10,
};
constexpr unsigned WS_FIN = 0x80;
constexpr size_t WS_MAX_HEADER = 10;  // server frames: 2 + 8 length bytes, no mask

// Answers that carry a short text of their own.
struct http_status {
    const char *status;
    const char *body;
};
constexpr http_status HTTP_NOT_FOUND = {"404 Not Found", "Not found\n"};
constexpr http_status HTTP_URI_TOO_LONG = {"414 URI Too Long", "Request line too long\n"};

// Appends one unmasked frame; the length uses the shortest encoding.
int frame_append(stream_client *c, unsigned first_byte, const void *bytes, size_t length)
{
    uint8_t hdr[WS_MAX_HEADER];
    size_t n = 0;
    hdr[n++] = (uint8_t)first_byte;
    if (length < 126) {
        hdr[n++] = (uint8_t)length;
    } else if (length <= 0xFFFF) {
        hdr[n++] = 126;
        hdr[n++] = (uint8_t)(length >> 8);
        hdr[n++] = (uint8_t)length;
    } else {
        hdr[n++] = 127;
        for (int shift = 56; shift >= 0; shift -= 8)
            hdr[n++] = (uint8_t)((uint64_t)length >> shift);
    }
    // Header and payload go in whole or not at all.
    int rc = buffer_reserve(&c->send_queue, n + length);
    if (rc != BUFFER_OK)
        return rc;
    buffer_append(&c->send_queue, hdr, n);
    buffer_append(&c->send_queue, bytes, length);
    return BUFFER_OK;
}

// Queues a whole HTTP answer (headers, and the body unless the request was
// HEAD) as one piece; the connection closes once it has gone out.
int http_answer(stream_client *c, const char *status, const char *type, const void *body, size_t length)
{
    char head[256];
    int n = snprintf(head, sizeof head,
                     "HTTP/1.1 %s\r\n"
                     "Content-Type: %s; charset=utf-8\r\n"
                     "Content-Length: %zu\r\n"
                     "Cache-Control: no-cache\r\n"
                     "Connection: close\r\n\r\n",
                     status, type, length);
    size_t body_length = c->http_head ? 0 : length;
    int rc = buffer_reserve(&c->send_queue, (size_t)n + body_length);
    if (rc == BUFFER_OK) {
        buffer_append(&c->send_queue, head, (size_t)n);
        buffer_append(&c->send_queue, body, body_length);
        c->state = STREAM_STATE_ANSWERED;
    }
    return stream_queue_checked(c, rc) ? 1 : -1;
}

int http_answer_status(stream_client *c, const http_status &s)
{
    return http_answer(c, s.status, "text/plain", s.body, strlen(s.body));
}

int websocket_accept(stream_client *c)
{
    char text[STREAM_WS_KEY_LEN + sizeof WS_GUID];
    snprintf(text, sizeof text, "%s%s", c->ws_key, WS_GUID);
    uint8_t digest[SHA1_DIGEST_SIZE];
    sha1(text, strlen(text), digest);
    char accept[base64_encoded_length(SHA1_DIGEST_SIZE) + 1];
    base64_encode(digest, sizeof digest, accept, sizeof accept);

    char reply[256];
    int n = snprintf(reply, sizeof reply,
                     "HTTP/1.1 101 Switching Protocols\r\n"
                     "Upgrade: websocket\r\n"
                     "Connection: Upgrade\r\n"
                     "Sec-WebSocket-Accept: %s\r\n\r\n",
                     accept);
    if (!stream_queue_checked(c, buffer_append(&c->send_queue, reply, (size_t)n)))
        return -1;
    c->state = STREAM_STATE_WEBSOCKET;
    stream_client_greet(c);
    return c->state == STREAM_STATE_DEAD ? -1 : 1;
}

int http_reject(stream_client *c, const char *fmt)
{
    log_error(fmt, c->conn_id);
    stream_client_kill(c);
    return -1;
}

// "GET /path HTTP/1.1" or "HEAD ...". length is the whole line's, of which
// line holds at most STREAM_HTTP_LINE_MAX characters.
int http_request_line(stream_client *c, std::string_view line, size_t length)
{
    std::string_view rest;
    if (line.starts_with("GET ")) {
        rest = line.substr(4);
    } else if (line.starts_with("HEAD ")) {
        c->http_head = true;
        rest = line.substr(5);
    } else {
        return http_reject(c, "client #%d did not send correct http header, or requested sub-URL\n");
    }
    if (length > STREAM_HTTP_LINE_MAX) {
        c->http_target = STREAM_HTTP_TOO_LONG;  // answered once the headers are read
        return 1;
    }
    size_t blank = rest.find(' ');
    if (rest.empty() || rest[0] != '/' || blank == std::string_view::npos ||
        !rest.substr(blank + 1).starts_with("HTTP/"))
        return http_reject(c, "client #%d did not send correct http header, or requested sub-URL\n");
    std::string_view path = rest.substr(0, blank);
    path = path.substr(0, path.find('?'));
    c->http_target = path == "/" || path == "/index.html" ? STREAM_HTTP_ROOT : STREAM_HTTP_OTHER;
    return 1;
}

// The empty line: the request is complete and is answered.
int http_request_end(stream_client *c)
{
    if (c->http_target == STREAM_HTTP_TOO_LONG) {
        log_error("client #%d sent an overlong request line, answered 414\n", c->conn_id);
        return http_answer_status(c, HTTP_URI_TOO_LONG);
    }
    if (c->http_target == STREAM_HTTP_OTHER) {
        log_error("client #%d requested sub-URL, answered 404\n", c->conn_id);
        return http_answer_status(c, HTTP_NOT_FOUND);
    }
    if (c->ws_upgrade && !c->http_head) {
        if (c->ws_key[0] == '\0')
            return http_reject(c, "client #%d sent no websocket key\n");
        return websocket_accept(c);
    }
    // A browser that asks for the page itself.
    return http_answer(c, "200 OK", "text/html", web_page, web_page_size);
}

// Header names are compared without regard to case, as HTTP has them.
bool http_header_value(std::string_view line, std::string_view name, std::string_view *value)
{
    size_t colon = line.find(':');
    if (colon != name.size() || strncasecmp(line.data(), name.data(), name.size()) != 0)
        return false;
    std::string_view v = line.substr(colon + 1);
    while (!v.empty() && (v.front() == ' ' || v.front() == '\t'))
        v.remove_prefix(1);
    while (!v.empty() && (v.back() == ' ' || v.back() == '\t'))
        v.remove_suffix(1);
    *value = v;
    return true;
}

}  // namespace

bool stream_http_begins(std::string_view first4)
{
    return first4 == "GET " || first4 == "HEAD";
}

int stream_http_line(stream_client *c)
{
    buffer *q = &c->recv_queue;
    const char *p = buffer_head(q);
    const char *cr = (const char *)memchr(p, '\r', q->size);
    if (cr == nullptr || (size_t)(cr - p) + 1 >= q->size)
        return 0;
    if (cr[1] != '\n') {
        log_error("invalid HTTP header\n");
        stream_client_kill(c);
        return -1;
    }
    size_t length = (size_t)(cr - p);
    char text[STREAM_HTTP_LINE_MAX + 1];
    size_t n = std::min(length, STREAM_HTTP_LINE_MAX);
    memcpy(text, p, n);
    text[n] = '\0';
    buffer_skip(q, length + 2);
    std::string_view line(text, strnlen(text, n));

    if (!c->in_http) {
        c->in_http = true;
        return http_request_line(c, line, length);
    }
    if (line.empty())
        return http_request_end(c);
    std::string_view value;
    if (http_header_value(line, "Sec-WebSocket-Key", &value)) {
        if (value.size() != STREAM_WS_KEY_LEN) {
            log_error("unexpected hash len\n");
            stream_client_kill(c);
            return -1;
        }
        memcpy(c->ws_key, value.data(), STREAM_WS_KEY_LEN);
        c->ws_key[STREAM_WS_KEY_LEN] = '\0';
    } else if (http_header_value(line, "Upgrade", &value)) {
        if (value.size() >= 9 && strncasecmp(value.data(), "websocket", 9) == 0)
            c->ws_upgrade = true;
    }
    return 1;
}

void stream_ws_receive(stream_client *c, int64_t deadline)
{
    buffer *q = &c->recv_queue;
    while (c->state == STREAM_STATE_WEBSOCKET && q->size >= 2 && !c->backlog) {
        uint8_t *p = (uint8_t *)buffer_head(q);
        if ((p[0] & 0xF0) != WS_FIN || (p[1] & 0x80) == 0) {
            log_error("unexpected websocket header flags: %u / %u\n", p[0] & 0xF0u, p[1] & 0x80u);
            stream_client_kill(c);
            return;
        }
        uint64_t length = p[1] & 0x7F;
        size_t hdr = 6;
        if (length == 126) {
            if (q->size < 4)
                return;
            length = (uint64_t)p[2] << 8 | p[3];
            hdr = 8;
        } else if (length == 127) {
            if (q->size < 10)
                return;
            length = 0;
            for (int i = 0; i < 8; i++)
                length = length << 8 | p[2 + i];
            if (length > STREAM_WS_PAYLOAD_MAX) {
                log_error("client #%d sent message with too big payload size\n", c->conn_id);
                stream_client_kill(c);
                return;
            }
            hdr = 14;
        }
        if (q->size < hdr + length)
            return;
        const uint8_t *mask = p + hdr - 4;
        uint8_t *payload = p + hdr;
        if (c->frame_done == 0)  // not yet begun, so still masked
            for (size_t i = 0; i < length; i++)
                payload[i] ^= mask[i & 3];

        switch (p[0] & 0x0F) {
        case WS_TEXT:
        case WS_BINARY:
            c->frame_done +=
                stream_split_lines(c, (const char *)payload + c->frame_done, length - c->frame_done, deadline);
            if (c->state == STREAM_STATE_DEAD || c->backlog)
                return;
            if (c->frame_done != length) {
                log_error("malformed websocket message contents\n");
                stream_client_kill(c);
                return;
            }
            break;
        case WS_CLOSE:
            log_error("close message received\n");
            stream_client_kill(c);
            return;
        case WS_PING:
            if (!stream_queue_checked(c, frame_append(c, WS_FIN | WS_PONG, payload, length)))
                return;
            break;
        default:
            break;
        }
        c->frame_done = 0;
        buffer_skip(q, hdr + length);
    }
}

int stream_ws_piece(stream_client *c, int final, const void *bytes, size_t length)
{
    unsigned opcode = c->fragment ? WS_CONTINUATION : WS_TEXT;
    int rc = frame_append(c, (final ? WS_FIN : 0) | opcode, bytes, length);
    if (rc == BUFFER_OK)
        c->fragment = !final;
    return rc;
}
