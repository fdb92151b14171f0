// CPU share and memory of a running mirelapp (headless), connected to a
// small fake server on loopback that sends nothing but a status line once a
// second (idle) or the level lines of every 25 ms cycle (meters at 40 Hz).
// Each run takes about 7 seconds of wall time.
#include <benchmark/benchmark.h>

#include "proc_stat.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <string>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

constexpr double MEASURE_S = 5.0;

std::string app_bin()
{
    std::string s = MIREL_SERVER_BIN;
    return s.substr(0, s.rfind('/')) + "/mirelapp";
}

double now_s()
{
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return (double)ts.tv_sec + ts.tv_nsec / 1e9;
}

// What the server sends in one 25 ms cycle: 8 bus and 8 output level
// lines, the status line every 10th cycle.
std::string cycle_lines(int cycle)
{
    std::string s;
    char line[64];
    if (cycle % 10 == 0)
        s += "29,0,258\n";
    for (int i = 0; i < 8; i++) {
        snprintf(line, sizeof line, "31,%d,%.1f,%.1f\n", i, -30.0 + (cycle + i) % 25, -((cycle + i) % 7) / 2.0);
        s += line;
    }
    for (int i = 0; i < 8; i++) {
        snprintf(line, sizeof line, "30,%d,%.1f,%.1f\n", i, -24.0 + (cycle * 3 + i) % 20, 0.0);
        s += line;
    }
    return s;
}

void run_panel(benchmark::State &state, bool meters)
{
    char dir[] = "/tmp/mirel-bench-XXXXXX";
    if (mkdtemp(dir) == nullptr) {
        state.SkipWithError("mkdtemp");
        return;
    }
    std::string root = dir;
    mkdir((root + "/tmp").c_str(), 0755);
    int lfd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    if (bind(lfd, (sockaddr *)&a, sizeof a) != 0 || listen(lfd, 1) != 0 || getsockname(lfd, (sockaddr *)&a, &len) != 0) {
        state.SkipWithError("listen");
        return;
    }
    std::string port = std::to_string(ntohs(a.sin_port));
    pid_t pid = fork();
    if (pid == 0) {
        setenv("MIREL_ROOT", root.c_str(), 1);
        setenv("MIREL_PORT", port.c_str(), 1);
        setenv("SDL_VIDEODRIVER", "dummy", 1);
        int null = open("/dev/null", O_WRONLY);
        dup2(null, 1);
        dup2(null, 2);
        execl(app_bin().c_str(), "mirelapp", (char *)nullptr);
        _exit(127);
    }
    pollfd p = {lfd, POLLIN, 0};
    int cfd = poll(&p, 1, 10000) == 1 ? accept(lfd, nullptr, nullptr) : -1;
    if (cfd < 0) {
        state.SkipWithError("mirelapp did not connect");
        kill(pid, SIGKILL);
        waitpid(pid, nullptr, 0);
        return;
    }
    char header[64];
    (void)!read(cfd, header, sizeof header);
    (void)!write(cfd, "1\n22,0,BENCH\n", 13);

    long ticks = 0, rss = 0;
    double seconds = 0;
    for (auto _ : state) {
        int cycle = 0;
        double start = now_s(), next = start, t0 = start + 1.0;  // one second to settle
        long c0 = -1;
        while (true) {
            double t = now_s();
            if (c0 < 0 && t >= t0) {
                c0 = proc_cpu_ticks(pid);
                t0 = t;
            }
            if (c0 >= 0 && t - t0 >= MEASURE_S) {
                ticks = proc_cpu_ticks(pid) - c0;
                seconds = t - t0;
                break;
            }
            std::string out = meters ? cycle_lines(cycle) : (cycle % 40 == 0 ? "29,0,0\n" : "");
            if (!out.empty() && write(cfd, out.data(), out.size()) < 0)
                break;
            cycle++;
            next += 0.025;
            timespec ts = {(time_t)next, (long)((next - (time_t)next) * 1e9)};
            double mono = now_s();
            if (next > mono) {
                double d = next - mono;
                ts = {(time_t)d, (long)((d - (time_t)d) * 1e9)};
                nanosleep(&ts, nullptr);
            }
            char sink[4096];
            while (recv(cfd, sink, sizeof sink, MSG_DONTWAIT) > 0) {
            }
        }
        rss = proc_rss_kib(pid);
        state.SetIterationTime(seconds);
    }
    state.counters["cpu_percent"] = seconds > 0 ? 100.0 * (double)ticks / (double)sysconf(_SC_CLK_TCK) / seconds : -1;
    state.counters["rss_MiB"] = rss / 1024.0;
    kill(pid, SIGTERM);
    waitpid(pid, nullptr, 0);
    close(cfd);
    close(lfd);
    std::string rm = "rm -rf '" + root + "'";
    (void)!system(rm.c_str());
}

void BM_PanelIdle(benchmark::State &state)
{
    run_panel(state, false);
}
BENCHMARK(BM_PanelIdle)->Iterations(1)->UseManualTime()->Unit(benchmark::kSecond);

void BM_PanelMeters40Hz(benchmark::State &state)
{
    run_panel(state, true);
}
BENCHMARK(BM_PanelMeters40Hz)->Iterations(1)->UseManualTime()->Unit(benchmark::kSecond);

}  // namespace

BENCHMARK_MAIN();
