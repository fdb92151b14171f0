#include "network.h"

#include <algorithm>
#include <arpa/inet.h>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <algorithm>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <string>
#include <sys/select.h>
#include <sys/socket.h>
#include <unistd.h>

#include <SDL.h>
#include <SDL_thread.h>

#include "common/db_text.h"
#include "platform.h"
#include "sgui/sgui.h"
#include "sgui/sgui_event.h"

namespace {

constexpr const char *MODE_HEADER = "<mode>unix</mode>\n";  // sent with its NUL: 19 bytes
constexpr int HANDSHAKE_WAIT_S = 3;

using work_fn = bool (*)(char *line, command_arg *a, const char *fmt);

struct listener {
    network_work_listener fn;
    intptr_t user;
    listener *next;
};

struct dispatch_entry {
    work_fn work;
    const char *fmt;
    listener *first;
};

struct link_state {
    int sock = -1;
    char *netbuf;
    char *netbuf_residual;
    char *command_output_stream;
    command_arg *arg;
    size_t residual_len;
    size_t output_len;
    bool skipping;  // inside an over-long line: drop up to its end
    int conn_id;
    std::atomic<int> timeout_limit{NETWORK_TIMEOUT_SHORT};
    std::atomic<int> timeout_count{0};
    std::atomic<bool> stop{false};
    std::atomic<bool> connected{false};
    int wake[2] = {-1, -1};
    SDL_Thread *thread;
    dispatch_entry command_dispatch[NETWORK_IDS];
};

link_state g;

[[noreturn]] void assert_fail(const char *what)
{
    platform_log("app/network: network_add_listener: Assertion `%s' failed.\n", what);
    abort();
}

// --- parsers -------------------------------------------------------------

// Reads the fields that fmt names ("%*d,%d,%f,%201s" ...) from line.
// With org, the first stored number is the originating connection id.
// Fields missing at the end stay 0; a line that does not match is refused.
bool scan_fields(char *line, command_arg *a, const char *fmt, bool org, int optional)
{
    const char *p = line;
    int stored = 0, wanted = 0;
    for (const char *f = strchr(fmt, '%'); f != nullptr; f = strchr(f + 1, '%'))
        if (f[1] != '*' && f[1 + strspn(f + 1, "0123456789")] != 's')
            wanted++;
    bool org_pending = org;
    for (const char *f = fmt; *f != 0; f++) {
        if (*f != '%') {
            if (*p == *f) {
                p++;
                continue;
            }
            if (*p == 0)
                break;  // the line ends early
            return false;
        }
        f++;
        bool skip = *f == '*';
        if (skip)
            f++;
        int width = 0;
        while (*f >= '0' && *f <= '9')
            width = width * 10 + (*f++ - '0');
        char conv = *f;
        if (conv == 's') {
            // A string is the rest of the field list: no white space, commas allowed.
            size_t n = 0, limit = width > 0 ? (size_t)width : sizeof a->text - 1;
            if (limit > sizeof a->text - 1)
                limit = sizeof a->text - 1;
            if (*p != ',')
                while (p[n] != 0 && p[n] != ' ' && p[n] != '\t' && p[n] != '\r' && n < limit)
                    n++;
            memcpy(a->text, p, n);
            a->text[n] = 0;
            p += n;
            db_text_decode(a->text, sizeof a->text);
            continue;
        }
        if (*p == 0)
            break;
        char *end;
        command_num v{};
        if (conv == 'f') {
            v.f = strtof(p, &end);
        } else {
            long long x = conv == 'x' ? (long long)strtoull(p, &end, 16) : strtoll(p, &end, 10);
            v.u = (unsigned)x;  // the low 32 bits, as the sender's int
        }
        if (end == p)
            return false;
        p = end;
        if (skip)
            continue;
        if (org_pending) {
            a->org = v.i;
            org_pending = false;
        } else if (a->count < 16) {
            a->v[a->count++] = v;
        }
        stored++;
    }
    return stored >= wanted - optional && stored > 0;
}

bool work_org(char *line, command_arg *a, const char *fmt)
{
    return scan_fields(line, a, fmt, true, 0);
}

bool work_plain(char *line, command_arg *a, const char *fmt)
{
    return scan_fields(line, a, fmt, false, 0);
}

// The largest bus delay came later; older servers leave it out.
bool work_delay(char *line, command_arg *a, const char *fmt)
{
    return scan_fields(line, a, fmt, true, 1);
}

// Network state: the interface address and the flags split up.
bool work_network(char *line, command_arg *a, const char *fmt)
{
    if (!scan_fields(line, a, fmt, true, 0) || a->count < 11)
        return false;
    command_num in[11];
    memcpy(in, a->v, sizeof in);
    for (int i = 0; i < 4; i++)
        a->v[i].i = (int)((in[0].u >> (24 - 8 * i)) & 0xFF);
    a->v[4].i = in[1].i & 0xFF;
    a->v[5].i = (in[1].i >> 8) & 1;
    for (int i = 0; i < 9; i++)
        a->v[6 + i].i = in[2 + i].i;  // address, netmask bits, gateway
    a->count = 15;
    return true;
}

// Comma list: the id, (org), then numbers; fmt tells the layout: "o" org
// first, "c" one int before the values, "f" float values, "i" int values;
// the digits give the most values.
bool work_list(char *line, command_arg *a, const char *fmt)
{
    bool org = strchr(fmt, 'o') != nullptr, channel = strchr(fmt, 'c') != nullptr, floats = strchr(fmt, 'f') != nullptr;
    int most = atoi(fmt + strcspn(fmt, "0123456789"));
    char *rest = line, *field;
    strsep(&rest, ",");  // the id
    if (org) {
        field = strsep(&rest, ",");
        if (field == nullptr || *field == 0)
            return false;
        a->org = atoi(field);
    }
    if (channel) {
        field = strsep(&rest, ",");
        if (field == nullptr || *field == 0)
            return false;
        a->v[0].i = atoi(field);
        a->count = 1;
    }
    int n = 0;
    while (n < most && (field = strsep(&rest, ",")) != nullptr && *field != 0) {
        if (floats && channel)
            a->list[n] = (float)atof(field);
        else if (floats)
            a->v[a->count + n].f = strtof(field, nullptr);
        else
            a->v[a->count + n].i = atoi(field);
        n++;
    }
    if (floats && channel)
        a->count = n;  // the curve's length; the channel is in v[0]
    else
        a->count += n;
    return n > 0;
}

// Level lines: a number, then decimal values with one decimal place.
bool work_levels(char *line, command_arg *a, const char *fmt)
{
    char *rest = line, *field;
    strsep(&rest, ",");
    field = strsep(&rest, ",");
    if (field == nullptr || *field == 0)
        return false;
    a->v[0].i = atoi(field);
    a->count = 1;
    int most = atoi(fmt);
    while (a->count <= most && (field = strsep(&rest, ",")) != nullptr && *field != 0)
        a->v[a->count++].f = strtof(field, nullptr);
    return a->count == most + 1;
}

struct parser_row {
    int id;
    work_fn work;
    const char *fmt;
};

constexpr const char *F_INT = "%*d,%d,%d,%d";
constexpr const char *F_FLOAT = "%*d,%d,%d,%f";
constexpr const char *F_VALUE = "%*d,%d,%d";
constexpr const char *F_ONE = "%*d,%d";
constexpr const char *F_NAME = "%*d,%d,%d,%201s";
constexpr const char *F_PEQ = "%*d,%d,%d,%d,%f,%f,%f,%d";
constexpr const char *F_SHELF = "%*d,%d,%d,%d,%f,%f,%d";
constexpr const char *F_HPF = "%*d,%d,%d,%f,%d,%d";

// The receive table: every report the panel understands.
constexpr parser_row parsers[] = {
    {1, work_org, F_INT},
    {2, work_org, F_FLOAT},
    {3, work_org, F_INT},
    {4, work_org, F_FLOAT},
    {5, work_org, F_FLOAT},
    {6, work_org, F_FLOAT},
    {7, work_org, F_FLOAT},
    {8, work_org, "%*d,%d,%d,%u"},
    {9, work_org, F_NAME},
    {10, work_org, F_INT},
    {11, work_org, F_INT},
    {12, work_org, "%*d,%d,%d,%d,%f"},
    {13, work_list, "ocf128"},
    {14, work_org, F_INT},
    {16, work_org, F_PEQ},
    {17, work_org, F_SHELF},
    {18, work_org, F_HPF},
    {20, work_org, F_VALUE},
    {21, work_network, "%*d,%d,%u,%d,%d,%d,%d,%d,%d,%d,%d,%d,%d"},
    {22, work_org, "%*d,%d,%201s"},
    {23, work_delay, "%*d,%d,%d,%f,%f,%f"},
    {24, work_org, "%*d,%d,%d,%d,%d"},
    {25, work_org, "%*d,%d,%d,%1025s"},
    {26, work_org, F_VALUE},
    {27, work_org, F_VALUE},
    {29, work_plain, "%*d,%d,%d"},
    {30, work_levels, "2"},
    {31, work_levels, "2"},
    {32, work_list, "oi16"},
    {33, work_list, "oi9"},
    {34, work_org, F_NAME},
    {35, work_org, F_NAME},
    {38, work_org, F_FLOAT},
    {39, work_org, F_INT},
    {40, work_org, F_INT},
    {41, work_org, F_INT},
    {42, work_org, F_INT},
    {43, work_org, F_FLOAT},
    {44, work_org, F_INT},
    {45, work_org, F_PEQ},
    {46, work_org, F_SHELF},
    {47, work_org, F_HPF},
    {48, work_list, "ocf128"},
    {49, work_org, F_INT},
    {50, work_org, F_FLOAT},
    {60, work_org, F_FLOAT},
    {61, work_org, F_FLOAT},
    {62, work_org, F_VALUE},
    {63, work_org, F_VALUE},
    {64, work_org, "%*d,%d,%d,%d,%d,%d,%d,%d,%201s"},
    {65, work_org, F_VALUE},
    {66, work_plain, F_ONE},
    {90, work_levels, "1"},
    {91, work_org, F_FLOAT},
    {96, work_org, "%*d,%d,%d,%d,%201s"},
    {97, work_org, F_VALUE},
    {98, work_plain, F_ONE},
    {100, work_org, "%*d,%d,%d,%d,%d,%d,%201s"},
    {105, work_plain, F_ONE},
    {107, work_plain, F_VALUE},
    {108, work_plain, F_VALUE},
    {109, work_org, "%*d,%d,%d,%d,%201s"},
    {110, work_org, F_VALUE},
    {111, work_plain, F_ONE},
    {112, work_org, "%*d,%d,%257s"},
    {113, work_org, F_FLOAT},
    {114, work_org, F_FLOAT},
    {115, work_org, F_FLOAT},
    {122, work_org, "%*d,%d,%d,%d,%d,%d,%x,%x,%x,%127s"},
    {123, work_org, "%*d,%d,%63s"},
    {124, work_org, "%*d,%d,%d,%u,%u"},
    {125, work_plain, "%*d,%*d,%d,%d"},
};

void dispatch_line(char *line)
{
    char scratch[8];
    strncpy(scratch, line, 7);
    scratch[7] = 0;
    scratch[strcspn(scratch, ",")] = 0;
    int id = atoi(scratch);
    if (id < 0 || id >= NETWORK_IDS)
        return;
    dispatch_entry &e = g.command_dispatch[id];
    if (e.first == nullptr || e.work == nullptr)
        return;
    command_arg *a = g.arg;
    a->id = id;
    a->count = 0;
    a->org = 0;
    memset(a->v, 0, sizeof a->v);
    a->text[0] = 0;
    if (!e.work(line, a, e.fmt))
        return;
    for (listener *l = e.first; l != nullptr; l = l->next)
        l->fn(a, l->user);
}

// --- the link ------------------------------------------------------------

void close_socket()
{
    if (g.sock >= 0)
        close(g.sock);
    g.sock = -1;
    g.residual_len = 0;
    g.skipping = false;
}

void discard_output()
{
    g.output_len = 0;
    g.command_output_stream[0] = 0;
}

int connect_server()
{
    const char *host = "localhost";
    std::string service = std::to_string(platform_port());
    platform_log("network_handle: try %s\n", host);
    int port;
    if (servent *se = getservbyname(service.c_str(), "tcp"))
        port = ntohs((uint16_t)se->s_port);
    else
        port = atoi(service.c_str());
    if (port == 0) {
        platform_log("can't get \"%s\" service entry\n", service.c_str());
        return -1;
    }
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons((uint16_t)port);
    if (hostent *he = gethostbyname(host); he != nullptr && he->h_addrtype == AF_INET)
        memcpy(&sa.sin_addr, he->h_addr_list[0], sizeof sa.sin_addr);
    else if ((sa.sin_addr.s_addr = inet_addr(host)) == INADDR_NONE) {
        platform_log("can't get \"%s\" host entry\n", host);
        return -1;
    }
    protoent *pe = getprotobyname("tcp");
    if (pe == nullptr) {
        platform_log("can't get \"%s\" protocol entry\n", "tcp");
        return -1;
    }
    int s = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, pe->p_proto);
    if (s < 0) {
        platform_log("can't create socket: %s\n", strerror(errno));
        return -1;
    }
    int one = 1;
    if (setsockopt(s, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one) < 0)
        perror("setsockopt (TCP_NODELAY)");
    if (connect(s, (sockaddr *)&sa, sizeof sa) < 0) {
        close(s);
        return -1;
    }
    return s;
}

// Waits until the socket is readable, output is queued, the stop request
// comes or the time passes. 1 readable, 2 output queued, 0 time passed,
// -1 stop.
int wait_readable(int sock, int ms)
{
    fd_set set;
    FD_ZERO(&set);
    int top = g.wake[0];
    FD_SET(g.wake[0], &set);
    if (sock >= 0) {
        FD_SET(sock, &set);
        if (sock > top)
            top = sock;
    }
    timeval tv = {ms / 1000, (ms % 1000) * 1000};
    int r = select(top + 1, &set, nullptr, nullptr, &tv);
    if (g.stop)
        return -1;
    if (r > 0 && sock >= 0 && FD_ISSET(sock, &set))
        return 1;
    if (r > 0 && FD_ISSET(g.wake[0], &set)) {
        char drain[64];
        while (read(g.wake[0], drain, sizeof drain) > 0) {
        }
        return 2;
    }
    return 0;
}

int64_t now_ms()
{
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return (int64_t)ts.tv_sec * 1000 + ts.tv_nsec / 1000000;
}

void flush_output();
void discard_output();

// As wait_readable, but commands queued meanwhile are written (or, before
// the server has given the connection id, discarded) as they come, and the
// whole time is waited.
int wait_flushing(int sock, int ms, bool write)
{
    int64_t deadline = now_ms() + ms;
    int r;
    while ((r = wait_readable(sock, (int)std::max<int64_t>(deadline - now_ms(), 0))) == 2) {
        if (write) {
            flush_output();
        } else {
            sgui_lock();
            discard_output();
            sgui_unlock();
        }
    }
    return r;
}

// Splits off the incomplete last line into the residual buffer, then
// dispatches the complete lines and wakes the GUI.
void process_batch(char *buf, size_t n)
{
    size_t start = 0, end = n;
    if (g.skipping) {
        auto *nl = (char *)memchr(buf, '\n', n);
        if (nl == nullptr)
            return;
        start = (size_t)(nl - buf) + 1;
        g.skipping = false;
    }
    if (end > start && buf[end - 1] != '\n') {
        auto *nl = (char *)memrchr(buf + start, '\n', end - start);
        size_t tail_at = nl != nullptr ? (size_t)(nl - buf) + 1 : start;
        size_t tail = end - tail_at;
        if (tail > RESIDUAL_BUF_SIZE) {
            // Longer than any report: dropped whole, up to its line end.
            platform_log("network_handle: line longer than %zu bytes dropped\n", RESIDUAL_BUF_SIZE);
            g.skipping = true;
            g.residual_len = 0;
        } else {
            memcpy(g.netbuf_residual, buf + tail_at, tail);
            g.residual_len = tail;
        }
        end = tail_at;
    }
    if (end > start) {
        sgui_lock();
        network_dispatch(buf + start, end - start);
        sgui_unlock();
        sgui_wakeup();
    }
}

// Puts the incomplete line of the previous read in front of the read
// buffer; returns its length.
size_t restore_residual()
{
    size_t have = g.residual_len;
    memcpy(g.netbuf, g.netbuf_residual, have);
    g.residual_len = 0;
    return have;
}

// Writes the queued command lines; whatever happens, the queue is empty after.
void flush_output()
{
    sgui_lock();
    size_t len = g.output_len;
    if (len > 0 && g.sock >= 0) {
        if (len >= COMMAND_BUF_SIZE) {
            platform_log("!!! network_handle: n >= COMMAND_BUF_SIZE (aborting)\n");
            close_socket();
        } else {
            size_t done = 0;
            while (done < len) {
                ssize_t w = send(g.sock, g.command_output_stream + done, len - done, MSG_NOSIGNAL);
                if (w <= 0)
                    break;
                done += (size_t)w;
            }
            if (done < len) {
                platform_log("!!! network_handle: wc < wr_len (aborting)\n");
                close_socket();
            }
        }
    }
    discard_output();
    sgui_unlock();
}

void handshake()
{
    const size_t header_len = strlen(MODE_HEADER) + 1;
    ssize_t n = -1;
    if (send(g.sock, MODE_HEADER, header_len, MSG_NOSIGNAL) == (ssize_t)header_len &&
        wait_flushing(g.sock, HANDSHAKE_WAIT_S * 1000, false) == 1)
        n = read(g.sock, g.netbuf, READ_BUF_SIZE - 1);
    if (n <= 0) {
        close_socket();
        platform_log("bad connect return\n");
        return;
    }
    g.netbuf[n] = 0;
    int id = 0;
    sscanf(g.netbuf, "%d", &id);
    g.conn_id = id;
    platform_log("conn id: %d\n", id);
    // Commands queued while there was no server are not sent to the new one.
    sgui_lock();
    discard_output();
    sgui_unlock();
    g.timeout_count = 0;
    g.connected = true;
    sgui_set_connected(1);
    if (auto *nl = (char *)memchr(g.netbuf, '\n', (size_t)n))
        process_batch(nl + 1, (size_t)n - (size_t)(nl + 1 - g.netbuf));
}

void receive_pass()
{
    // Queued commands leave at once; the quiet second keeps counting.
    int r = wait_flushing(g.sock, 1000, true);
    if (r < 0)
        return;
    if (r == 0) {
        if (g.timeout_count > g.timeout_limit) {
            platform_log("network_handle: final timeout\n");
            close_socket();
            g.timeout_count = 0;
        } else {
            g.timeout_count++;
        }
        return;
    }
    size_t have = restore_residual();
    ssize_t n = read(g.sock, g.netbuf + have, READ_BUF_SIZE - 1 - have);
    if (n <= 0) {
        platform_log("network_handle: n <= 0 (aborting)\n");
        close_socket();
        flush_output();
        return;
    }
    size_t total = have + (size_t)n;
    if (total >= READ_BUF_SIZE)
        platform_log("!!! network_handle: n >= READ_BUF_SIZE\n");
    process_batch(g.netbuf, total);
    flush_output();
}

int network_handle(void *)
{
    while (!g.stop) {
        if (g.sock < 0) {
            g.connected = false;
            sgui_set_connected(0);
            g.sock = connect_server();
            if (g.sock >= 0) {
                platform_log("network_handle: connect.\n");
                handshake();
            }
            if (g.sock < 0) {
                // What is queued meanwhile is not for the next server.
                wait_flushing(-1, 250, false);
                continue;
            }
        }
        receive_pass();
    }
    return 0;
}

}  // namespace

int network_init()
{
    for (dispatch_entry &e : g.command_dispatch) {
        for (listener *l = e.first; l != nullptr;) {
            listener *next = l->next;
            delete l;
            l = next;
        }
        e = {};
    }
    for (const parser_row &p : parsers)
        g.command_dispatch[p.id] = {p.work, p.fmt, nullptr};
    if (g.netbuf == nullptr && (g.netbuf = (char *)malloc(READ_BUF_SIZE)) == nullptr) {
        perror("network_init: netbuf==NULL");
        return -1;
    }
    if (g.netbuf_residual == nullptr && (g.netbuf_residual = (char *)malloc(RESIDUAL_BUF_SIZE)) == nullptr) {
        perror("network_init: netbuf_residual==NULL");
        return -1;
    }
    if (g.command_output_stream == nullptr &&
        (g.command_output_stream = (char *)calloc(1, COMMAND_BUF_SIZE)) == nullptr) {
        perror("network_init: command_output_stream==NULL");
        return -1;
    }
    if (g.arg == nullptr && (g.arg = (command_arg *)calloc(1, 4096)) == nullptr) {
        perror("network_init: command_arg==NULL");
        return -1;
    }
    g.output_len = 0;
    g.timeout_limit = NETWORK_TIMEOUT_SHORT;
    g.timeout_count = 0;
    g.residual_len = 0;
    g.skipping = false;
    return 0;
}

int network_start()
{
    if (g.wake[0] < 0 && pipe2(g.wake, O_CLOEXEC | O_NONBLOCK) != 0) {
        platform_log("network_init: thread create result == NULL\n");
        return -1;
    }
    g.stop = false;
    g.thread = SDL_CreateThread(network_handle, nullptr);
    if (g.thread == nullptr) {
        platform_log("network_init: thread create result == NULL\n");
        return -1;
    }
    return 0;
}

void network_stop()
{
    if (g.thread == nullptr)
        return;
    g.stop = true;
    char c = 1;
    if (write(g.wake[1], &c, 1) < 0) {
        // The pipe is full: the thread is being woken anyway.
    }
    SDL_WaitThread(g.thread, nullptr);
    g.thread = nullptr;
    while (read(g.wake[0], &c, 1) > 0) {
    }
    close_socket();
    g.connected = false;
}

void network_add_listener(int command_id, network_work_listener work_listener, intptr_t user)
{
    if (!((command_id >= 0) && (command_id <= (125))))
        assert_fail("(command_id >= 0) && (command_id <= (125))");
    if (g.command_dispatch[command_id].work == nullptr)
        assert_fail("command_dispatch[command_id].work != ((void *)0)");
    if (work_listener == nullptr)
        assert_fail("work_listener != ((void *)0)");
    auto *l = new listener{work_listener, user, nullptr};
    listener **at = &g.command_dispatch[command_id].first;
    while (*at != nullptr)
        at = &(*at)->next;
    *at = l;
}

void network_output_command(const char *text)
{
    if (text == nullptr || g.command_output_stream == nullptr)
        return;
    sgui_lock();
    size_t len = strlen(text);
    if (g.output_len + len >= COMMAND_BUF_SIZE) {
        platform_log("network_output_command: output full, command dropped\n");
    } else {
        memcpy(g.command_output_stream + g.output_len, text, len + 1);
        g.output_len += len;
        // The link thread writes it now rather than after the next report.
        if (g.wake[1] >= 0 && write(g.wake[1], "", 1) < 0) {
            // The pipe is full: the thread is being woken anyway.
        }
    }
    sgui_unlock();
}

std::string network_take_output()
{
    sgui_lock();
    std::string text(g.command_output_stream != nullptr ? g.command_output_stream : "", g.output_len);
    if (g.command_output_stream != nullptr)
        discard_output();
    sgui_unlock();
    return text;
}

int network_get_conn_id()
{
    return g.conn_id;
}

int network_connected()
{
    return g.connected;
}

void network_set_timeout_short()
{
    g.timeout_limit = NETWORK_TIMEOUT_SHORT;
    g.timeout_count = 0;
}

void network_set_timeout_long()
{
    g.timeout_limit = NETWORK_TIMEOUT_LONG;
    g.timeout_count = 0;
}

void network_dispatch(char *text, size_t n)
{
    size_t start = 0;
    while (start < n) {
        auto *nl = (char *)memchr(text + start, '\n', n - start);
        if (nl == nullptr)
            break;
        *nl = 0;
        dispatch_line(text + start);
        start = (size_t)(nl - text) + 1;
    }
}

void network_receive(const char *bytes, size_t n)
{
    while (n > 0) {
        size_t have = restore_residual();
        size_t k = std::min(n, READ_BUF_SIZE - 1 - have);
        memcpy(g.netbuf + have, bytes, k);
        process_batch(g.netbuf, have + k);
        bytes += k;
        n -= k;
    }
}

bool network_has_parser(int command_id)
{
    return command_id >= 0 && command_id < NETWORK_IDS && g.command_dispatch[command_id].work != nullptr;
}
