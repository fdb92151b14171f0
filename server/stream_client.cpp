#include "stream_client.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <pthread.h>
#include <string_view>
#include <sys/socket.h>
#include <unistd.h>

#include "dsp/rt_thread.h"
#include "log.h"
#include "stream_web.h"

namespace {

constexpr size_t STREAM_READ_CHUNK = 4096;

constexpr std::string_view UNIX_HEADER = "<mode>unix</mode>\n";
constexpr std::string_view FLASH_HEADER = "<mode>flash</mode>\n";
constexpr std::string_view POLICY_REQUEST = "<policy-file-request/>";
constexpr const char POLICY_ANSWER[] =
    "<?xml version=\"1.0\"?><cross-domain-policy>    <allow-access-from domain=\"*\" to-ports=\"*\" "
    "/></cross-domain-policy>";

// Set once before the threads start, read-only afterwards.
stream_handlers handlers;

// Information replies and the full dump; used by the network thread only,
// under the command lock.
char reply_buf[STREAM_REPLY_SIZE];

int64_t now_us()
{
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return (int64_t)ts.tv_sec * 1000000 + ts.tv_nsec / 1000;
}

}  // namespace

bool stream_queue_checked(stream_client *c, int rc)
{
    if (rc == BUFFER_OK)
        return true;
    if (rc == BUFFER_FULL)
        log_error("client #%d exceeded maximum send queue size\n", c->conn_id);
    else
        log_error("failed to allocate memory for client #%d\n", c->conn_id);
    stream_client_kill(c);
    return false;
}

void stream_client_greet(stream_client *c)
{
    char line[16];
    int n = snprintf(line, sizeof line, "%d\n", c->conn_id);
    stream_send(c, 1, line, (size_t)n);
    if (c->state == STREAM_STATE_RAW) {
        // Old clients expect the id line alone in the first packet.
        if (c->writable)
            stream_client_write(c);
        if (c->state == STREAM_STATE_RAW && c->send_queue.size > 0)
            log_error("can't send conn_id as single packet (can cause compat. issues)\n");
    }
    if (c->state == STREAM_STATE_DEAD || handlers.full_dump == nullptr)
        return;
    pthread_mutex_lock(&command_lock);
    size_t len = std::min(handlers.full_dump(reply_buf, sizeof reply_buf), sizeof reply_buf);
    stream_send(c, 1, reply_buf, len);
    pthread_mutex_unlock(&command_lock);
}

size_t stream_split_lines(stream_client *c, const char *data, size_t length, int64_t deadline)
{
    size_t used = 0;
    while (used < length) {
        if (used > 0 && now_us() > deadline) {
            c->backlog = true;  // the rest on the next pass
            break;
        }
        const char *p = data + used;
        size_t left = length - used;
        size_t i = 0;
        while (i < left && p[i] != '\n' && p[i] != '\0')
            i++;
        if (i > STREAM_LINE_MAX) {
            log_error("overlong line from client #%d\n", c->conn_id);
            stream_client_kill(c);
            return 0;
        }
        if (i == left)
            break;
        if (i > 0) {
            char line[STREAM_LINE_MAX + 1];
            memcpy(line, p, i);
            line[i] = '\0';
            stream_handle_line(c, line);
            if (c->state == STREAM_STATE_DEAD)
                return 0;
        }
        used += i + 1;
    }
    return used;
}

namespace {

// The header is matched whole, or waited for while what has arrived could
// still become it. 1 = matched, 0 = wait, -1 = neither.
int header_match(std::string_view data, std::string_view header)
{
    if (data.size() >= header.size())
        return data.substr(0, header.size()) == header ? 1 : -1;
    return header.substr(0, data.size()) == data ? 0 : -1;
}

// "<mode>unix</mode>\n" or "<mode>flash</mode>\n"; TCP may split either anywhere.
void detect_mode_header(stream_client *c, std::string_view data)
{
    int unix_match = header_match(data, UNIX_HEADER);
    int flash_match = header_match(data, FLASH_HEADER);
    if (unix_match < 0 && flash_match < 0) {
        log_error("client #%d: invalid header\n", c->conn_id);
        stream_client_kill(c);
        return;
    }
    if (unix_match != 1 && flash_match != 1)
        return;
    buffer_skip(&c->recv_queue, unix_match == 1 ? UNIX_HEADER.size() : FLASH_HEADER.size());
    c->nul_mode = flash_match == 1;
    c->state = STREAM_STATE_RAW;
    stream_client_greet(c);
}

void detect_policy_request(stream_client *c, std::string_view data)
{
    int match = header_match(data, POLICY_REQUEST);
    if (match < 0) {
        log_error("invalid header\n");
        stream_client_kill(c);
        return;
    }
    if (match == 0)
        return;
    buffer_skip(&c->recv_queue, POLICY_REQUEST.size());
    c->state = STREAM_STATE_ANSWERED;
    stream_queue_checked(c, buffer_append(&c->send_queue, POLICY_ANSWER, sizeof POLICY_ANSWER - 1));
}

// State 0: the first bytes decide the client's mode.
void detect_mode(stream_client *c)
{
    buffer *q = &c->recv_queue;
    while (c->state == STREAM_STATE_NEW) {
        if (c->in_http) {
            if (stream_http_line(c) <= 0)
                return;
            continue;
        }
        if (q->size < 4)
            return;
        std::string_view data(buffer_head(q), q->size);
        size_t before = q->size;
        if (data.substr(0, 4) == "<mod") {
            detect_mode_header(c, data);
        } else if (data.substr(0, 4) == "<pol") {
            detect_policy_request(c, data);
        } else if (stream_http_begins(data.substr(0, 4))) {
            if (stream_http_line(c) < 0)
                return;
        } else {
            log_error("client #%d did not send http header\n", c->conn_id);
            stream_client_kill(c);
        }
        if (q->size == before && c->state == STREAM_STATE_NEW && !c->in_http)
            return;  // waiting for the rest of a header
    }
}

void process_raw(stream_client *c, int64_t deadline)
{
    buffer *q = &c->recv_queue;
    if (q->size > 0 && buffer_head(q)[0] == '\0')
        buffer_skip(q, 1);
    size_t used = stream_split_lines(c, buffer_head(q), q->size, deadline);
    if (c->state != STREAM_STATE_DEAD)
        buffer_skip(q, used);
}

// Handles what the receive queue holds, by the client's state, for at most
// the client's budget.
void client_received(stream_client *c)
{
    int64_t deadline = now_us() + STREAM_CLIENT_BUDGET_US;
    c->backlog = false;
    if (c->state == STREAM_STATE_NEW)
        detect_mode(c);
    if (c->state == STREAM_STATE_RAW)
        process_raw(c, deadline);
    else if (c->state == STREAM_STATE_WEBSOCKET)
        stream_ws_receive(c, deadline);
}

// A queue at its limit that is still incomplete can never be used.
void receive_queue_full(stream_client *c)
{
    log_error("client #%d exceeded maximum receive queue size\n", c->conn_id);
    stream_client_kill(c);
}

// Reads the id as "%d" does, without its undefined overflow.
long line_id(const char *line)
{
    char *end;
    long id = strtol(line, &end, 10);
    return end == line ? 0 : id;
}

}  // namespace

void stream_set_handlers(const stream_handlers *h)
{
    handlers = h != nullptr ? *h : stream_handlers{};
}

const stream_handlers &stream_get_handlers()
{
    return handlers;
}

void stream_client_init(stream_client *c, int fd, int conn_id)
{
    *c = stream_client{};
    c->fd = fd;
    c->conn_id = conn_id;
    c->send_queue.limit = STREAM_QUEUE_MAX;
    c->recv_queue.limit = STREAM_QUEUE_MAX;
}

void stream_client_kill(stream_client *c)
{
    if (c->state == STREAM_STATE_DEAD)
        return;
    log_error("killing client #%d\n", c->conn_id);
    if (c->fd >= 0)
        close(c->fd);
    c->fd = -1;
    c->state = STREAM_STATE_DEAD;
}

int stream_client_read(stream_client *c)
{
    buffer *q = &c->recv_queue;
    size_t want = std::min(STREAM_READ_CHUNK, buffer_headroom(q));
    if (want == 0) {
        receive_queue_full(c);
        return -1;
    }
    if (buffer_reserve(q, want) != BUFFER_OK) {
        log_error("client #%d: out of memory\n", c->conn_id);
        stream_client_kill(c);
        return -1;
    }
    ssize_t n = read(c->fd, buffer_tail(q), std::min(buffer_room(q), buffer_headroom(q)));
    if (n < 0) {
        if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)
            return 0;
        log_error("error on client #%d read() call: %s\n", c->conn_id, strerror(errno));
        stream_client_kill(c);
        return -1;
    }
    if (n == 0) {
        log_error("client #%d: TCP disconnect\n", c->conn_id);
        stream_client_kill(c);
        return -1;
    }
    q->size += (size_t)n;
    client_received(c);
    return c->state == STREAM_STATE_DEAD ? -1 : 0;
}

void stream_client_continue(stream_client *c)
{
    if (c->state != STREAM_STATE_DEAD && c->backlog)
        client_received(c);
}

void stream_client_feed(stream_client *c, const void *bytes, size_t length)
{
    const char *p = (const char *)bytes;
    // In pieces no larger than a read takes, as from the socket.
    while (length > 0 && c->state != STREAM_STATE_DEAD) {
        size_t n = std::min({length, STREAM_READ_CHUNK, buffer_headroom(&c->recv_queue)});
        if (n == 0) {
            receive_queue_full(c);
            return;
        }
        if (buffer_append(&c->recv_queue, p, n) != BUFFER_OK) {
            log_error("client #%d: out of memory\n", c->conn_id);
            stream_client_kill(c);
            return;
        }
        p += n;
        length -= n;
        client_received(c);
        while (c->backlog && c->state != STREAM_STATE_DEAD)
            client_received(c);
    }
}

void stream_client_write(stream_client *c)
{
    buffer *q = &c->send_queue;
    if (q->size == 0)
        return;
    ssize_t n = send(c->fd, buffer_head(q), q->size, MSG_NOSIGNAL);
    if (n < 0) {
        c->writable = false;
        if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)
            return;
        log_error("error on client #%d write() call: %s\n", c->conn_id, strerror(errno));
        stream_client_kill(c);
        return;
    }
    if (n == 0) {
        stream_client_kill(c);
        return;
    }
    buffer_skip(q, (size_t)n);
    c->pending_since = 0;
    // A socket that took only part is full; poll tells when it drains.
    if (q->size > 0)
        c->writable = false;
}

void stream_client_finish(stream_client *c)
{
    if (c->state == STREAM_STATE_DEAD)
        return;
    if (c->fd >= 0) {
        shutdown(c->fd, SHUT_WR);
        char sink[512];
        while (recv(c->fd, sink, sizeof sink, MSG_DONTWAIT) > 0) {
        }
    }
    stream_client_kill(c);
}

void stream_send(stream_client *c, int final, const void *bytes, size_t length)
{
    int rc;
    if (c->state == STREAM_STATE_RAW) {
        // The piece and its NUL go in whole or not at all.
        rc = buffer_reserve(&c->send_queue, length + (c->nul_mode ? 1 : 0));
        if (rc == BUFFER_OK) {
            buffer_append(&c->send_queue, bytes, length);
            if (c->nul_mode)
                buffer_append(&c->send_queue, "", 1);
        }
    } else if (c->state == STREAM_STATE_WEBSOCKET) {
        rc = stream_ws_piece(c, final, bytes, length);
    } else {
        return;
    }
    stream_queue_checked(c, rc);
}

void stream_run_command(const char *line, int internal)
{
    if (handlers.command == nullptr) {
        log_error("stream_run_command: no command handler ('%s')\n", line);
        return;
    }
    handlers.command(line, internal);
}

void stream_handle_line(stream_client *c, const char *line)
{
    pthread_mutex_lock(&command_lock);
    if (line_id(line) < 1024) {
        stream_run_command(line, 0);
    } else if (handlers.info == nullptr) {
        log_error("stream_handle_line: no information handler ('%s')\n", line);
    } else {
        size_t n = std::min(handlers.info(line, reply_buf, sizeof reply_buf), sizeof reply_buf);
        if (n > 0)
            stream_send(c, 1, reply_buf, n);
    }
    if (handlers.take_message != nullptr && c->state != STREAM_STATE_DEAD) {
        size_t n = std::min(handlers.take_message(c->conn_id, reply_buf, sizeof reply_buf), sizeof reply_buf);
        if (n > 0)
            stream_send(c, 1, reply_buf, n);
    }
    pthread_mutex_unlock(&command_lock);
}

