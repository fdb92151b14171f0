// Time from a change on device A to its report on a linked device B: two real
// mirelservers in network namespaces joined by a veth pair ("br0" at each
// end), bus 2 of A and bus 0 of B in network link group 1. A client of A sets
// the gain of bus 2; a client of B waits for "2,-127,0,<gain>". Between
// changes it waits a random part of a cycle, so the changes fall on every
// phase of both devices' 25 ms cycles. Needs root.
//   build/hw2/bench/link_latency [changes]
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <netinet/in.h>
#include <poll.h>
#include <random>
#include <string>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "support/netns.h"
#include "support/process.h"
#include "support/sim_root.h"

namespace {

using clock_type = std::chrono::steady_clock;
constexpr int PORT = 24871;

// A raw-mode client of the server in a namespace.
struct client {
    int fd = -1;
    int id = 0;
    std::string in;

    client(const Netns &ns)
    {
        ns.enter([&] {
            wait_until([&] {
                fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
                sockaddr_in a{};
                a.sin_family = AF_INET;
                a.sin_port = htons(PORT);
                a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
                if (connect(fd, (sockaddr *)&a, sizeof a) == 0)
                    return true;
                close(fd);
                fd = -1;
                return false;
            });
        });
        send_line("<mode>unix</mode>");
        if (wait_for("\n", 5s))
            id = atoi(in.c_str());
        in.clear();
    }
    ~client()
    {
        if (fd >= 0)
            close(fd);
    }
    void send_line(const std::string &line)
    {
        std::string l = line + "\n";
        if (fd < 0 || send(fd, l.data(), l.size(), MSG_NOSIGNAL) != (ssize_t)l.size())
            fprintf(stderr, "link_latency: send failed\n");
    }
    // Reads until text has arrived; drops what came before it.
    bool wait_for(const std::string &text, std::chrono::milliseconds timeout)
    {
        auto deadline = clock_type::now() + timeout;
        for (;;) {
            size_t at = in.find(text);
            if (at != std::string::npos) {
                in.erase(0, at + text.size());
                return true;
            }
            auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - clock_type::now());
            pollfd p = {fd, POLLIN, 0};
            if (left.count() <= 0 || poll(&p, 1, (int)left.count()) != 1)
                return false;
            char buf[65536];
            ssize_t n = recv(fd, buf, sizeof buf, 0);
            if (n <= 0)
                return false;
            in.append(buf, (size_t)n);
        }
    }
};

double percentile(std::vector<double> v, double p)
{
    std::sort(v.begin(), v.end());
    return v[std::min(v.size() - 1, (size_t)(p * (double)v.size()))];
}

}  // namespace

int main(int argc, char **argv)
{
    int changes = argc > 1 ? atoi(argv[1]) : 400;
    std::string why = netns_unavailable();
    if (!why.empty()) {
        fprintf(stderr, "link_latency: network namespaces cannot be made (%s)\n", why.c_str());
        return 1;
    }
    netns_sweep_stale();
    Netns na("lat-a"), nb("lat-b");
    if (!na.ok() || !nb.ok() || !netns_join_br0(na, "10.213.12.1/24", nb, "10.213.12.2/24")) {
        fprintf(stderr, "link_latency: could not set up the namespaces\n");
        return 1;
    }
    SimRoot ra("02:00:00:00:12:34"), rb("02:00:00:00:56:78");
    ServerProcess a, b;
    a.start(ra.dir(), PORT, {"MIREL_DNS_PORT="}, na.name());
    b.start(rb.dir(), PORT, {"MIREL_DNS_PORT="}, nb.name());
    if (!a.wait_out("ip: ad50c01\n", 10s) || !b.wait_out("ip: ad50c02\n", 10s)) {
        fprintf(stderr, "link_latency: the servers did not learn their addresses\n");
        return 1;
    }
    client ca(na), cb(nb);
    cb.send_line("11," + std::to_string(cb.id) + ",0,1");
    ca.send_line("11," + std::to_string(ca.id) + ",2,1");
    if (!cb.wait_for("\n11,", 5s) || !ca.wait_for("\n11,", 5s)) {
        fprintf(stderr, "link_latency: link groups not set\n");
        return 1;
    }

    std::mt19937 rng(1);
    std::uniform_int_distribution<int> pause_us(0, 25000);
    std::vector<double> ms;
    for (int i = 0; i < changes; i++) {
        char gain[16];
        snprintf(gain, sizeof gain, "%.1f", -1.0 - (i % 500) / 10.0);
        auto t0 = clock_type::now();
        ca.send_line("2," + std::to_string(ca.id) + ",2," + gain);
        if (!cb.wait_for("\n2,-127,0," + std::string(gain) + "\n", 2s)) {
            fprintf(stderr, "link_latency: change %d did not arrive\n", i);
            return 1;
        }
        ms.push_back(std::chrono::duration<double, std::milli>(clock_type::now() - t0).count());
        ca.in.clear();
        std::this_thread::sleep_for(std::chrono::microseconds(pause_us(rng)));
    }
    double sum = 0;
    for (double v : ms)
        sum += v;
    printf("%d changes A -> B: median %.1f ms, mean %.1f ms, p90 %.1f ms, p99 %.1f ms, max %.1f ms\n", changes,
           percentile(ms, 0.5), sum / (double)ms.size(), percentile(ms, 0.9), percentile(ms, 0.99),
           percentile(ms, 1.0));
    return 0;
}
