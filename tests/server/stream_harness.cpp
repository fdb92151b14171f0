#include "stream_harness.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <dirent.h>
#include <map>
#include <mutex>
#include <netinet/in.h>
#include <poll.h>
#include <pthread.h>
#include <stdexcept>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

#include "dsp/rt_thread.h"
#include "platform.h"
#include "stream.h"
#include "common/db_text.h"
#include "support/process.h"

namespace harness {
namespace {

// Lives for the whole process (the network thread never ends), so never freed.
struct State {
    std::mutex m;
    std::vector<std::string> commands;
    std::vector<int> dropped;
    std::map<int, std::deque<std::pair<int, std::string>>> messages;
    std::string pending_reports;
    std::string levels = "31,0,0.0,0.0\n";
    uint64_t cycles = 0;
    int port = 0;
    std::string dump;
};
State *st;

void on_command(const char *line, int)
{
    if (strncmp(line, "77,", 3) == 0)
        std::this_thread::sleep_for(1ms);  // a command that takes its time
    std::lock_guard<std::mutex> g(st->m);
    st->commands.emplace_back(line);
    if (strncmp(line, "2,", 2) == 0)
        st->pending_reports += std::string(line) + "\n";
}

size_t copy_out(const std::string &text, char *out, size_t size)
{
    size_t n = std::min(text.size(), size);
    memcpy(out, text.data(), n);
    return n;
}

size_t on_info(const char *line, char *reply, size_t size)
{
    return copy_out(info_reply(line), reply, size);
}

size_t on_full_dump(char *out, size_t size)
{
    return copy_out(st->dump, out, size);
}

// Formats line 25 as the real message table does (level, encoded text).
size_t on_take_message(int conn_id, char *line, size_t size)
{
    std::lock_guard<std::mutex> g(st->m);
    auto &q = st->messages[conn_id];
    if (q.empty())
        return 0;
    std::string out = "25," + std::to_string(conn_id) + "," + std::to_string(q.front().first) + "," +
                      db_text_encode(q.front().second) + "\n";
    q.pop_front();
    return copy_out(out, line, size);
}

void on_drop_messages(int conn_id)
{
    std::lock_guard<std::mutex> g(st->m);
    st->dropped.push_back(conn_id);
    st->messages.erase(conn_id);
}

// Plays rt_thread's side of the streams: reports only into an empty command
// stream under a try-lock, then the levels and the end-of-cycle signal.
void cycle_loop()
{
    for (;;) {
        if (pthread_mutex_trylock(&command_lock) == 0) {
            if (rt_info->command_stream_size == 0) {
                std::lock_guard<std::mutex> g(st->m);
                size_t n = std::min(st->pending_reports.size(), COMMAND_STREAM_BUF_SIZE - 1);
                memcpy(rt_info->command_stream, st->pending_reports.data(), n);
                rt_info->command_stream[n] = '\0';
                rt_info->command_stream_size = (uint32_t)n;
                st->pending_reports.erase(0, n);
            }
            pthread_mutex_unlock(&command_lock);
        }
        pthread_mutex_lock(&levels_lock);
        {
            std::lock_guard<std::mutex> g(st->m);
            size_t n = std::min(st->levels.size(), LEVELS_STREAM_BUF_SIZE - 1);
            memcpy(rt_info->levels_stream, st->levels.data(), n);
            rt_info->levels_stream[n] = '\0';
            rt_info->levels_stream_size = (uint32_t)n;
            st->cycles++;
        }
        rt_signal_cycle_end();
        pthread_mutex_unlock(&levels_lock);
        std::this_thread::sleep_for(4ms);
    }
}

}  // namespace

void start()
{
    static std::once_flag once;
    std::call_once(once, [] {
        st = new State;
        for (int i = 0; i < 300; i++)
            st->dump += "dump,0," + std::to_string(i) + ",some%20state\n";
        rt_info = new rt_info_t{};
        rt_info->command_stream = new char[COMMAND_STREAM_BUF_SIZE]();
        rt_info->levels_stream = new char[LEVELS_STREAM_BUF_SIZE]();

        stream_handlers h{on_command, on_info, on_full_dump, on_take_message, on_drop_messages};
        stream_set_handlers(&h);
        st->port = free_port();
        setenv("MIREL_PORT", std::to_string(st->port).c_str(), 1);
        platform_init();
        std::thread(cycle_loop).detach();
        if (stream_start() != 0)
            throw std::runtime_error("stream_start failed");
        // The listening socket is made by the thread itself. The probe is a
        // client too: it must be gone before the tests count ids.
        int probe = -1;
        bool up = wait_until([&] {
            probe = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
            sockaddr_in a{};
            a.sin_family = AF_INET;
            a.sin_port = htons((uint16_t)st->port);
            a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
            if (connect(probe, (sockaddr *)&a, sizeof a) == 0)
                return true;
            close(probe);
            return false;
        });
        up = up && wait_until([] { return conn_id_held(1); });
        close(probe);
        if (!up || !wait_until([] { return !conn_id_held(1); }))
            throw std::runtime_error("network thread does not listen");
    });
}

int port()
{
    return st->port;
}

void reset()
{
    start();
    bool empty = wait_until([] {
        for (int id = 1; id <= 8; id++)
            if (conn_id_held(id))
                return false;
        return true;
    });
    if (!empty)
        throw std::runtime_error("clients of an earlier test are still connected");
    wait_until(reports_sent);
    std::lock_guard<std::mutex> g(st->m);
    st->commands.clear();
    st->dropped.clear();
    st->messages.clear();
    st->pending_reports.clear();
    st->levels = "31,0,0.0,0.0\n";
}

std::vector<std::string> commands()
{
    std::lock_guard<std::mutex> g(st->m);
    return st->commands;
}

std::vector<int> dropped()
{
    std::lock_guard<std::mutex> g(st->m);
    return st->dropped;
}

void queue_message(int conn_id, int level, const std::string &text)
{
    std::lock_guard<std::mutex> g(st->m);
    st->messages[conn_id].emplace_back(level, text);
}

void queue_report(const std::string &text)
{
    std::lock_guard<std::mutex> g(st->m);
    st->pending_reports += text;
}

void set_levels(const std::string &text)
{
    std::lock_guard<std::mutex> g(st->m);
    st->levels = text;
}

bool reports_sent()
{
    pthread_mutex_lock(&command_lock);
    bool taken = rt_info->command_stream_size == 0;
    pthread_mutex_unlock(&command_lock);
    std::lock_guard<std::mutex> g(st->m);
    return taken && st->pending_reports.empty();
}

bool conn_id_held(int conn_id)
{
    pthread_mutex_lock(&command_lock);
    bool held = stream_conn_id_held(conn_id);
    pthread_mutex_unlock(&command_lock);
    return held;
}

void wait_cycles(int n)
{
    auto count = [] {
        std::lock_guard<std::mutex> g(st->m);
        return st->cycles;
    };
    uint64_t target = count() + (uint64_t)n;
    wait_until([&] { return count() >= target; });
}

const std::string &full_dump()
{
    return st->dump;
}

std::string info_reply(std::string_view line)
{
    return "R:" + std::string(line) + "\n";
}

bool wait_log(const FdCapture &cap, const std::string &text, std::chrono::milliseconds timeout)
{
    return wait_until([&] { return has_line(cap, text); }, timeout);
}

bool has_line(const FdCapture &cap, const std::string &text)
{
    return ("\n" + strip_log_prefixes(cap.text())).find("\n" + text) != std::string::npos;
}

}  // namespace harness

TestSocket::TestSocket(int port, int rcvbuf)
{
    bool ok = wait_until([&] {
        fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (rcvbuf > 0)
            setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &rcvbuf, sizeof rcvbuf);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons((uint16_t)port);
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (connect(fd, (sockaddr *)&a, sizeof a) == 0)
            return true;
        close(fd);
        fd = -1;
        return false;
    });
    if (!ok)
        throw std::runtime_error("cannot connect to the stream server");
}

TestSocket::~TestSocket()
{
    if (fd >= 0)
        close(fd);
}

void TestSocket::send(std::string_view data)
{
    while (!data.empty()) {
        ssize_t n = ::send(fd, data.data(), data.size(), MSG_NOSIGNAL);
        if (n <= 0)
            return;  // the server may have closed it; the test looks at that
        data.remove_prefix((size_t)n);
    }
}

bool TestSocket::read_some(std::chrono::milliseconds timeout)
{
    if (closed)
        return false;
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, (int)timeout.count()) <= 0)
        return false;
    char buf[65536];
    ssize_t n = recv(fd, buf, sizeof buf, 0);
    if (n <= 0) {
        closed = true;
        reset = n < 0;
        return false;
    }
    in.append(buf, (size_t)n);
    return true;
}

bool TestSocket::expect(std::string_view text, std::chrono::milliseconds timeout)
{
    return take_until(text, nullptr, timeout);
}

bool TestSocket::take_until(std::string_view text, std::string *taken, std::chrono::milliseconds timeout)
{
    auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        size_t at = in.find(text);
        if (at != std::string::npos) {
            if (taken)
                *taken = in.substr(0, at + text.size());
            in.erase(0, at + text.size());
            return true;
        }
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0 || closed)
            return false;
        read_some(left);
    }
}

bool TestSocket::expect_front(std::string_view text, std::chrono::milliseconds timeout)
{
    auto deadline = std::chrono::steady_clock::now() + timeout;
    while (in.size() < text.size() && !closed && std::chrono::steady_clock::now() < deadline)
        read_some(std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()));
    if (in.compare(0, text.size(), text) != 0)
        return false;
    in.erase(0, text.size());
    return true;
}

bool TestSocket::wait_closed(std::chrono::milliseconds timeout)
{
    auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!closed && std::chrono::steady_clock::now() < deadline) {
        read_some(10ms);
        in.clear();
    }
    return closed;
}

bool TestSocket::read_to_close(std::chrono::milliseconds timeout)
{
    auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!closed && std::chrono::steady_clock::now() < deadline)
        read_some(10ms);
    return closed;
}

int TestSocket::server_fd() const
{
    sockaddr_in mine{};
    socklen_t len = sizeof mine;
    getsockname(fd, (sockaddr *)&mine, &len);
    DIR *d = opendir("/proc/self/fd");
    int found = -1;
    while (dirent *e = d ? readdir(d) : nullptr) {
        int other = atoi(e->d_name);
        sockaddr_in peer{};
        len = sizeof peer;
        if (other != fd && getpeername(other, (sockaddr *)&peer, &len) == 0 && len == sizeof peer &&
            peer.sin_port == mine.sin_port && peer.sin_addr.s_addr == mine.sin_addr.s_addr)
            found = other;
    }
    if (d)
        closedir(d);
    return found;
}

std::string ws_frame(unsigned first_byte, std::string_view payload, bool masked)
{
    static const uint8_t mask[4] = {0x37, 0xfa, 0x21, 0x3d};
    std::string f(1, (char)first_byte);
    uint8_t m = masked ? 0x80 : 0;
    if (payload.size() < 126) {
        f += (char)(m | payload.size());
    } else if (payload.size() <= 0xFFFF) {
        f += (char)(m | 126);
        f += (char)(payload.size() >> 8);
        f += (char)payload.size();
    } else {
        f += (char)(m | 127);
        for (int shift = 56; shift >= 0; shift -= 8)
            f += (char)((uint64_t)payload.size() >> shift);
    }
    if (masked)
        f.append((const char *)mask, 4);
    for (size_t i = 0; i < payload.size(); i++)
        f += (char)(payload[i] ^ (masked ? mask[i & 3] : 0));
    return f;
}

std::string ws_handshake(TestSocket &s, const std::string &key)
{
    s.send("GET / HTTP/1.1\r\nHost: 127.0.0.1\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n"
           "Sec-WebSocket-Key: " +
           key + "\r\nSec-WebSocket-Version: 13\r\n\r\n");
    std::string reply;
    s.take_until("\r\n\r\n", &reply);
    return reply;
}

bool ws_read_frame(TestSocket &s, WsFrame *frame, std::chrono::milliseconds timeout)
{
    auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        const std::string &b = s.in;
        if (b.size() >= 2) {
            uint64_t len = (uint8_t)b[1] & 0x7F;
            size_t hdr = 2;
            if (len == 126 && b.size() >= 4) {
                len = (uint64_t)(uint8_t)b[2] << 8 | (uint8_t)b[3];
                hdr = 4;
            } else if (len == 127 && b.size() >= 10) {
                len = 0;
                for (int i = 0; i < 8; i++)
                    len = len << 8 | (uint8_t)b[2 + i];
                hdr = 10;
            }
            bool have_len = ((uint8_t)b[1] & 0x7F) < 126 || hdr > 2;
            if (have_len && b.size() >= hdr + len) {
                frame->first_byte = (uint8_t)b[0];
                frame->masked = (uint8_t)b[1] & 0x80;
                frame->payload = b.substr(hdr, len);
                s.in.erase(0, hdr + len);
                return true;
            }
        }
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0 || s.closed)
            return false;
        s.read_some(left);
    }
}

bool ws_read_message(TestSocket &s, std::string *message, std::vector<unsigned> *firsts,
                     std::chrono::milliseconds timeout)
{
    message->clear();
    if (firsts)
        firsts->clear();
    WsFrame f;
    do {
        if (!ws_read_frame(s, &f, timeout))
            return false;
        if (firsts)
            firsts->push_back(f.first_byte);
        *message += f.payload;
    } while (!(f.first_byte & 0x80));
    return true;
}
