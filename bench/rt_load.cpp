// The whole server under a show's load: 8 clients each sending 100 commands
// a second over TCP for a minute, so the state file is saved about every
// three seconds. Measures how late each real-time cycle starts against its
// 25 ms grid, and the echo latency (from sending a command to receiving its
// own change report).
//
//   rt_load [SECONDS] [CLIENTS] [RATE]       default 60 8 100
//
// The server runs inside this process (server_start, on a fresh simulation
// root under /tmp and free ports) so that the cycle starts can be observed;
// the clients are threads with their own sockets, in raw line mode.
#include <algorithm>
#include <arpa/inet.h>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <string>
#include <sys/socket.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "bench_root.h"
#include "cycle_starts.h"
#include "dsp/rt_thread.h"
#include "platform.h"
#include "server_start.h"
#include "system.h"

namespace {

using namespace cycle_starts;

// A loopback port free for sockets of the type (TCP or UDP).
int free_port(int type)
{
    int fd = socket(AF_INET, type, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t n = sizeof a;
    if (bind(fd, (sockaddr *)&a, sizeof a) != 0 || getsockname(fd, (sockaddr *)&a, &n) != 0)
        exit(1);
    close(fd);
    return ntohs(a.sin_port);
}

// Per bus: the command it changes and the top of its range (as echo_latency.py).
struct parameter {
    int id;
    float top;
};
constexpr parameter PARAMETERS[8] = {{2, -10.0f}, {4, -10.0f}, {6, 10.0f}, {7, 10.0f},
                                     {113, 100.0f}, {114, 150.0f}, {115, 100.0f}, {12, 10.0f}};

struct client_result {
    std::vector<int64_t> latency;
    long sent = 0, unanswered = 0;
    bool ok = false;
};

std::mutex results_lock;

// One client: its own bus and parameter, a command every 1/rate s on an
// absolute schedule, every received line checked against the pending echoes.
void client(int port, int seconds, int rate, client_result *result)
{
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons((uint16_t)port);
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    // The network thread may not listen yet: try for two seconds.
    int fd = -1;
    for (int attempt = 0; attempt < 200 && fd < 0; attempt++) {
        fd = socket(AF_INET, SOCK_STREAM, 0);
        if (connect(fd, (sockaddr *)&a, sizeof a) != 0) {
            close(fd);
            fd = -1;
            usleep(10000);
        }
    }
    if (fd < 0)
        return;
    int one = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    const char hello[] = "<mode>unix</mode>\n";
    if (write(fd, hello, sizeof hello - 1) < 0) {
        close(fd);
        return;
    }
    std::string in;
    int conn = -1;
    std::map<std::string, int64_t> pending;  // expected report line -> send time
    const int64_t period = 1000000000LL / rate;
    int64_t t0 = rt_monotonic_ns(), end = t0 + (int64_t)seconds * 1000000000LL, next = t0;
    long n = 0, unanswered = 0;
    char buf[65536];
    for (;;) {
        int64_t now = rt_monotonic_ns();
        if (conn > 0 && now >= next && now < end) {
            const parameter &p = PARAMETERS[(conn - 1) % 8];
            int bus = (conn - 1) % 8;
            float value = p.top - (float)(n % 100) / 10.0f;
            char fields[64], line[96], echo[96];
            snprintf(fields, sizeof fields, "%d,%d,%d,%s", p.id, conn, bus, p.id == 12 ? "5," : "");
            snprintf(line, sizeof line, "%s%.1f\n", fields, value);
            snprintf(echo, sizeof echo, "%s%2.1f", fields, value);
            // The same value comes again after 100 commands: by then its
            // echo is long overdue (a later command of its cycle took it).
            auto [it, fresh] = pending.try_emplace(echo, rt_monotonic_ns());
            if (!fresh) {
                unanswered++;
                it->second = rt_monotonic_ns();
            }
            if (write(fd, line, strlen(line)) < 0)
                break;
            n++;
            next += period;
        }
        // Unanswered commands: later ones of the same cycle took their echo.
        if (now > end + 2000000000LL || (now > end && pending.empty()))
            break;
        pollfd pfd{fd, POLLIN, 0};
        int wait_ms = now < end ? (int)std::max<int64_t>(0, (next - now) / 1000000) : 10;
        if (poll(&pfd, 1, wait_ms) <= 0)
            continue;
        ssize_t r = read(fd, buf, sizeof buf);
        if (r <= 0)
            break;
        int64_t got = rt_monotonic_ns();
        in.append(buf, (size_t)r);
        size_t at = 0;
        for (size_t nl; (nl = in.find('\n', at)) != std::string::npos; at = nl + 1) {
            std::string l = in.substr(at, nl - at);
            if (conn < 0) {
                conn = atoi(l.c_str());
                next = rt_monotonic_ns();
                continue;
            }
            auto it = pending.find(l);
            if (it != pending.end()) {
                result->latency.push_back(got - it->second);
                pending.erase(it);
            }
        }
        in.erase(0, at);
    }
    close(fd);
    std::lock_guard<std::mutex> g(results_lock);
    result->sent = n;
    result->unanswered = unanswered + (long)pending.size();
    result->ok = conn > 0;
}

}  // namespace

int main(int argc, char **argv)
{
    int seconds = argc > 1 ? atoi(argv[1]) : 60;
    int clients = argc > 2 ? atoi(argv[2]) : 8;
    int rate = argc > 3 ? atoi(argv[3]) : 100;
    int port = free_port(SOCK_STREAM);
    setenv("MIREL_PORT", std::to_string(port).c_str(), 1);
    // The DNS responder starts with the server: never on the host's port 53.
    setenv("MIREL_DNS_PORT", std::to_string(free_port(SOCK_DGRAM)).c_str(), 1);
    std::string dir = bench_sim_root();
    if (!freopen((dir + "/tmp/server.err").c_str(), "w", stderr))
        return 1;

    starts.resize((size_t)seconds * 40 + 800);
    rt_set_cycle_observer(observe);
    if (server_start() != 0)
        return 1;

    std::vector<client_result> results((size_t)clients);
    std::vector<std::thread> threads;
    std::atomic<int> running{clients};
    for (int i = 0; i < clients; i++)
        threads.emplace_back([&, i] {
            client(port, seconds, rate, &results[(size_t)i]);
            running--;
        });
    // A save shows as a new inode of the current file.
    std::string current = platform_path(SYS_FILE_CURRENT);
    auto inode = [&] {
        struct stat st;
        return stat(current.c_str(), &st) == 0 ? st.st_ino : 0;
    };
    ino_t seen = inode();
    long saves = 0;
    std::vector<int64_t> saved_at;  // when each new file was seen (5 ms steps)
    while (running > 0) {
        usleep(5000);
        ino_t now = inode();
        if (now != seen) {
            saves++;
            saved_at.push_back(rt_monotonic_ns());
        }
        seen = now;
    }
    for (auto &t : threads)
        t.join();
    rt_set_cycle_observer(nullptr);
    size_t n = count.load(std::memory_order_acquire);

    std::vector<int64_t> late = lateness(), latency;
    long sent = 0, unanswered = 0;
    int connected = 0;
    for (const auto &r : results) {
        latency.insert(latency.end(), r.latency.begin(), r.latency.end());
        sent += r.sent;
        unanswered += r.unanswered;
        connected += r.ok;
    }
    auto count_over = [&](int64_t ns) { return std::count_if(late.begin(), late.end(), [=](int64_t l) { return l > ns; }); };
    // Late starts while a save was under way: from 100 ms before the new
    // file showed (a save takes tens of ms on this disk) to 10 ms after.
    long late_at_save = 0;
    for (size_t i = 0; i < n; i++) {
        if (late[i] <= 2000000)
            continue;
        for (int64_t t : saved_at)
            if (starts[i].start > t - 100000000 && starts[i].start < t + 10000000) {
                late_at_save++;
                break;
            }
    }

    double load[3] = {0, 0, 0};
    if (FILE *f = fopen("/proc/loadavg", "r")) {
        if (fscanf(f, "%lf %lf %lf", &load[0], &load[1], &load[2]) != 3)
            load[0] = -1;
        fclose(f);
    }
    printf("%d of %d clients x %d commands/s for %d s: %ld sent, %zu echoed, %ld never echoed (a later command of the same cycle took the echo)\n",
           connected, clients, rate, seconds, sent, latency.size(), unanswered);
    printf("echo latency: median %.2f ms, p99 %.2f ms, max %.2f ms\n", percentile(latency, 0.5),
           percentile(latency, 0.99), percentile(latency, 1.0));
    printf("cycles: %zu, autosaves: %ld; start lateness: median %.3f ms, p99 %.3f ms, max %.3f ms; %ld starts more than 2 ms late (%ld of them during a save), %ld 25 ms or more\n",
           n, saves, percentile(late, 0.5), percentile(late, 0.99), percentile(late, 1.0),
           (long)count_over(2000000), late_at_save, (long)count_over(RT_CYCLE_NS - 1));
    printf("load average at the end: %.2f %.2f %.2f (2 cores)\n", load[0], load[1], load[2]);
    fflush(stdout);
    // The server's threads run for ever: no exit handlers or destructors
    // under their feet, so the root is removed here.
    std::string rm = "rm -rf " + dir;
    int rc = system(rm.c_str()) == 0 && connected == clients ? 0 : 1;
    _exit(rc);
}
