#include "stream.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <pthread.h>
#include <sys/socket.h>
#include <unistd.h>

#include "dsp/rt_thread.h"
#include "log.h"
#include "platform.h"
#include "serial.h"

namespace {

constexpr int STREAM_ACCEPTS_PER_PASS = 16;

// Owned by the network thread alone.
std::array<stream_client, STREAM_MAX_CLIENTS> clients;
int client_count;
// Which connection ids are taken; written by the network thread and read by
// the message table, both under the command lock.
std::array<bool, STREAM_MAX_CLIENTS + 1> id_held;

int64_t now_us()
{
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return (int64_t)ts.tv_sec * 1000000 + ts.tv_nsec / 1000;
}

[[noreturn]] void fatal(const char *step)
{
    log_error("%s: %s\n", step, strerror(errno));
    exit(1);
}

void empty_command_stream()
{
    rt_info->command_stream_size = 0;
    rt_info->command_stream[0] = '\0';
}

// After each real-time cycle every client gets the levels, the reports of
// the cycle and an empty final piece: in WebSocket one fragmented message.
// The cycle has ended (its event was read), so the buffers are complete.
void broadcast()
{
    pthread_mutex_lock(&levels_lock);
    pthread_mutex_lock(&command_lock);
    if (rt_info != nullptr) {
        size_t levels = std::min<size_t>(rt_info->levels_stream_size, LEVELS_STREAM_BUF_SIZE);
        size_t reports = std::min<size_t>(rt_info->command_stream_size, COMMAND_STREAM_BUF_SIZE);
        for (int i = 0; i < client_count; i++) {
            stream_client *c = &clients[i];
            if (c->state != STREAM_STATE_RAW && c->state != STREAM_STATE_WEBSOCKET)
                continue;
            stream_send(c, 0, rt_info->levels_stream, levels);
            if (reports > 0)
                stream_send(c, 0, rt_info->command_stream, reports);
            stream_send(c, 1, "", 0);
        }
        empty_command_stream();
    }
    pthread_mutex_unlock(&command_lock);
    pthread_mutex_unlock(&levels_lock);
}

// How long poll may sleep: not at all while a writable client has data
// queued or a client's lines wait, else until the first inactivity limit
// falls due.
int poll_timeout_ms()
{
    int64_t now = now_us();
    int64_t wait = STREAM_IDLE_POLL_US;
    for (int i = 0; i < client_count; i++) {
        const stream_client *c = &clients[i];
        if (c->state == STREAM_STATE_DEAD)
            continue;
        if ((c->writable && c->send_queue.size > 0) || c->backlog)
            return 0;
        if (c->pending_since != 0)
            wait = std::min(wait, std::max<int64_t>(0, c->pending_since + STREAM_INACTIVITY_US - now + 1));
    }
    return (int)((wait + 999) / 1000);
}

// The policy answer's end and the inactivity limit. (The queue limits are
// checked where bytes are queued.)
void check_clients()
{
    int64_t now = now_us();
    for (int i = 0; i < client_count; i++) {
        stream_client *c = &clients[i];
        if (c->state == STREAM_STATE_DEAD)
            continue;
        if (c->state == STREAM_STATE_POLICY) {
            if (c->send_queue.size == 0)
                stream_client_kill(c);
        } else if (c->state == STREAM_STATE_RAW || c->state == STREAM_STATE_WEBSOCKET) {
            if (c->send_queue.size > 0 && c->pending_since == 0) {
                c->pending_since = now;
            } else if (c->pending_since != 0 && now - c->pending_since > STREAM_INACTIVITY_US) {
                log_error("disconnecting client #%d for inactivity\n", c->conn_id);
                stream_client_kill(c);
            }
        }
    }
}

void client_serve(stream_client *c)
{
    if (c->state == STREAM_STATE_DEAD)
        return;
    if (c->backlog) {
        stream_client_continue(c);
    } else if (c->readable) {
        c->readable = false;
        if (stream_client_read(c) != 0)
            return;
    }
    if (c->state == STREAM_STATE_DEAD)
        return;
    if (c->writable && c->send_queue.size > 0)
        stream_client_write(c);
}

int smallest_free_conn_id()
{
    for (int id = 1;; id++) {
        bool taken = false;
        for (int i = 0; i < client_count; i++)
            taken = taken || clients[i].conn_id == id;
        if (!taken)
            return id;
    }
}

void accept_clients(int listen_fd)
{
    for (int k = 0; k < STREAM_ACCEPTS_PER_PASS; k++) {
        int fd = accept4(listen_fd, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd < 0) {
            if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)
                log_error("error on accept(): %s\n", strerror(errno));
            return;
        }
        if (client_count == STREAM_MAX_CLIENTS) {
            log_error("cannot accept new connection, maximum clients reached\n");
            close(fd);
            continue;
        }
        int one = 1;
        setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        stream_client *c = &clients[client_count];
        stream_client_init(c, fd, smallest_free_conn_id());
        // A new socket has room: the greeting line can leave on its own.
        c->writable = true;
        client_count++;
        pthread_mutex_lock(&command_lock);
        id_held[c->conn_id] = true;
        pthread_mutex_unlock(&command_lock);
        log_error("new client! #%d\n", c->conn_id);
    }
}

bool any_dead()
{
    for (int i = 0; i < client_count; i++)
        if (clients[i].state == STREAM_STATE_DEAD)
            return true;
    return false;
}

// Dead clients leave the table, which stays compact: the last record moves
// into the freed slot.
void remove_dead_clients()
{
    const stream_handlers &handlers = stream_get_handlers();
    pthread_mutex_lock(&command_lock);
    for (int i = 0; i < client_count;) {
        stream_client *c = &clients[i];
        if (c->state != STREAM_STATE_DEAD) {
            i++;
            continue;
        }
        id_held[c->conn_id] = false;
        if (handlers.client_gone != nullptr)
            handlers.client_gone(c->conn_id);
        buffer_free(&c->send_queue);
        buffer_free(&c->recv_queue);
        client_count--;
        if (i != client_count)
            clients[i] = clients[client_count];
        clients[client_count] = stream_client{};
    }
    pthread_mutex_unlock(&command_lock);
}

int stream_listen()
{
    char port[16];
    snprintf(port, sizeof port, "%d", platform_port());
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_PASSIVE;
    addrinfo *res = nullptr;
    int rc = getaddrinfo(nullptr, port, &hints, &res);
    if (rc != 0) {
        log_error("getaddrinfo: %s\n", gai_strerror(rc));
        exit(1);
    }
    int fd = socket(res->ai_family, res->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, res->ai_protocol);
    if (fd < 0)
        fatal("creating socket");
    int one = 1;
    if (setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one) != 0)
        fatal("setsockopt (SO_REUSEADDR)");
    if (bind(fd, res->ai_addr, res->ai_addrlen) != 0)
        fatal("bind");
    if (listen(fd, STREAM_LISTEN_BACKLOG) != 0)
        fatal("listen");
    freeaddrinfo(res);
    return fd;
}

void *stream_thread(void *)
{
    // A client that goes away must never end the process.
    signal(SIGPIPE, SIG_IGN);
    int listen_fd = stream_listen();
    int cycle_fd = rt_cycle_fd();
    for (;;) {
        check_clients();

        // Client lines are served the moment they arrive, and the broadcast
        // follows each end of cycle: a change reaches every client at the end
        // of the cycle after its command.
        std::array<pollfd, STREAM_MAX_CLIENTS + 2> fds;
        std::array<stream_client *, STREAM_MAX_CLIENTS> polled;
        nfds_t n = 0;
        for (int i = 0; i < client_count; i++) {
            stream_client *c = &clients[i];
            if (c->state == STREAM_STATE_DEAD)
                continue;
            // Ask for room to write only when there is something to write,
            // and for more input only when what came is handled.
            bool want_out = !c->writable && c->send_queue.size > 0;
            bool want_in = !c->readable && !c->backlog;
            short events = (short)((want_in ? POLLIN : 0) | (want_out ? POLLOUT : 0));
            polled[n] = c;
            fds[n++] = pollfd{c->fd, events, 0};
        }
        nfds_t listen_index = n;
        fds[n++] = pollfd{listen_fd, POLLIN, 0};
        nfds_t cycle_index = n;
        fds[n++] = pollfd{cycle_fd, POLLIN, 0};
        if (poll(fds.data(), n, poll_timeout_ms()) < 0) {
            if (errno != EINTR)
                fatal("poll");
            continue;
        }
        if (fds[cycle_index].revents & POLLIN) {
            uint64_t cycles;
            if (read(cycle_fd, &cycles, sizeof cycles) == sizeof cycles)
                broadcast();
        }
        for (nfds_t k = 0; k < listen_index; k++) {
            if (fds[k].revents & (POLLIN | POLLHUP | POLLERR | POLLNVAL))
                polled[k]->readable = true;
            if (fds[k].revents & POLLOUT)
                polled[k]->writable = true;
        }
        for (int i = 0; i < client_count; i++)
            client_serve(&clients[i]);
        if (fds[listen_index].revents & POLLIN)
            accept_clients(listen_fd);
        if (any_dead())
            remove_dead_clients();
    }
    return nullptr;
}

}  // namespace

int stream_start()
{
    pthread_t thread;
    int rc = pthread_create(&thread, nullptr, stream_thread, nullptr);
    if (rc == 0) {
        pthread_setname_np(thread, "stream");
        pthread_detach(thread);
    }
    return rc;
}

int stream_rt_init()
{
    if (stream_start() != 0) {
        log_error("stream_rt_init: pthread_create result != 0 (network thread)\n");
        exit(1);
    }
    if (serial_start() != 0) {
        log_error("stream_rt_init: pthread_create result != 0 (serial thread)\n");
        exit(1);
    }
    return 0;
}

bool stream_conn_id_held(int conn_id)
{
    return conn_id >= 1 && conn_id <= STREAM_MAX_CLIENTS && id_held[conn_id];
}

bool stream_wait_cycle()
{
    // On the monotonic clock: setting the date must not stretch or cut the wait.
    timespec deadline;
    clock_gettime(CLOCK_MONOTONIC, &deadline);
    int64_t ns = deadline.tv_nsec + STREAM_CYCLE_WAIT_US * 1000;
    deadline.tv_sec += ns / 1000000000;
    deadline.tv_nsec = ns % 1000000000;
    return pthread_cond_clockwait(&levels_cond, &levels_lock, CLOCK_MONOTONIC, &deadline) == 0;
}
