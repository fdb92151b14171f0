// The EQ editor's latencies and the panel's CPU share while it is used.
//
// BM_KeyToCommand and BM_CurveToScreen run the panel in this process (its
// start-up, event loop and link thread as mirelapp runs them, headless)
// against a small server on loopback that sends the level lines of every
// 25 ms cycle, with the bus EQ editor open:
//   key to command: an encoder record written into the input FIFO until
//     the command line it causes arrives at the server;
//   curve to screen: a curve report sent for the bus shown until the pass
//     of the event loop that has drawn it onto the screen has ended.
// BM_PanelCpuTurning runs mirelapp against the real mirelserver and turns
// the encoder 40 detents a second for five seconds (the direction changes
// every ten detents, so every detent is a change: a command, a report and a
// new curve), and reads the panel's CPU time from /proc.
#include <benchmark/benchmark.h>

#include "proc_stat.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <string>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <thread>
#include <atomic>
#include <mutex>
#include <unistd.h>
#include <vector>

#include "app.h"
#include "gui/eq.h"
#include "gui/eqvis.h"
#include "sgui/sgui_event.h"
#include "sgui/sgui_screentext.h"
#include "sgui/sgui_widget.h"

namespace {

using clock_type = std::chrono::steady_clock;

double since_us(clock_type::time_point t0)
{
    return std::chrono::duration<double, std::micro>(clock_type::now() - t0).count();
}

int64_t now_us()
{
    timeval tv;
    gettimeofday(&tv, nullptr);
    return (int64_t)tv.tv_sec * 1000000 + tv.tv_usec;
}

sgui_input_event record(int key, int encoder)
{
    sgui_input_event e{};
    int64_t t = now_us();
    e.sec = (int32_t)(t / 1000000);
    e.usec = (int32_t)(t % 1000000);
    e.type = 1;
    e.value = sgui_input_value(key, encoder);
    return e;
}

// What the server sends in one 25 ms cycle: 8 bus and 8 output level lines.
std::string cycle_lines(int cycle)
{
    std::string s;
    char line[64];
    for (int i = 0; i < 8; i++) {
        snprintf(line, sizeof line, "31,%d,%.1f,%.1f\n", i, -30.0 + (cycle + i) % 25, 0.0);
        s += line;
    }
    for (int i = 0; i < 8; i++) {
        snprintf(line, sizeof line, "30,%d,%.1f,%.1f\n", i, -24.0 + (cycle * 3 + i) % 20, 0.0);
        s += line;
    }
    return s;
}

std::string curve_line(float peak)
{
    std::string s = "13,0,0";
    char v[16];
    for (int i = 0; i < 128; i++) {
        snprintf(v, sizeof v, ",%.1f", peak * std::max(0.0f, 1.0f - (float)std::abs(i - 64) / 8.0f));
        s += v;
    }
    return s + "\n";
}

double percentile(std::vector<double> v, double p)
{
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[std::min(v.size() - 1, (size_t)(p * (double)(v.size() - 1) + 0.5))];
}

// The server side of the in-process panel: a thread that sends the level
// lines of every 25 ms cycle and notes when each line of the panel arrives.
struct LoopbackServer {
    int conn = -1;
    std::thread thread;
    std::atomic<bool> stop{false};
    std::mutex mutex;  // the socket's writes and the lines received
    std::vector<std::pair<clock_type::time_point, std::string>> lines;
    std::string partial;

    void start(int fd)
    {
        conn = fd;
        thread = std::thread([this] { run(); });
    }
    ~LoopbackServer()
    {
        stop = true;
        if (thread.joinable())
            thread.join();
    }
    void send_text(const std::string &s)
    {
        std::lock_guard<std::mutex> lock(mutex);
        size_t done = 0;
        while (done < s.size()) {
            ssize_t n = send(conn, s.data() + done, s.size() - done, MSG_NOSIGNAL);
            if (n > 0) {
                done += (size_t)n;
                continue;
            }
            pollfd p = {conn, POLLOUT, 0};
            poll(&p, 1, 100);
        }
    }
    // The time the first line beginning with prefix arrived after index from.
    bool arrival(size_t from, const char *prefix, clock_type::time_point *t)
    {
        std::lock_guard<std::mutex> lock(mutex);
        for (size_t i = from; i < lines.size(); i++)
            if (lines[i].second.rfind(prefix, 0) == 0) {
                *t = lines[i].first;
                return true;
            }
        return false;
    }
    size_t received()
    {
        std::lock_guard<std::mutex> lock(mutex);
        return lines.size();
    }

private:
    void run()
    {
        auto next = clock_type::now();
        int cycle = 0;
        while (!stop) {
            int wait_ms = (int)std::max<int64_t>(
                0, std::chrono::duration_cast<std::chrono::milliseconds>(next - clock_type::now()).count());
            pollfd p = {conn, POLLIN, 0};
            if (poll(&p, 1, wait_ms) == 1) {
                char buf[4096];
                ssize_t n = recv(conn, buf, sizeof buf, MSG_DONTWAIT);
                auto t = clock_type::now();
                if (n <= 0)
                    continue;
                std::lock_guard<std::mutex> lock(mutex);
                partial.append(buf, (size_t)n);
                std::erase(partial, '\0');  // the mode header ends with one
                for (size_t nl; (nl = partial.find('\n')) != std::string::npos; partial.erase(0, nl + 1))
                    lines.emplace_back(t, partial.substr(0, nl));
            }
            if (clock_type::now() >= next) {
                send_text(cycle_lines(cycle++));
                next += std::chrono::milliseconds(25);
            }
        }
    }
};

// The panel in this process with the bus EQ open, and its server.
struct InProcess {
    int listen_fd = -1, fifo = -1;
    std::string root;
    LoopbackServer server;

    ~InProcess()
    {
        std::error_code ec;
        if (!root.empty())
            std::filesystem::remove_all(root, ec);
    }

    bool setup()
    {
        char dir[] = "/tmp/mirel-bench-XXXXXX";
        if (mkdtemp(dir) == nullptr)
            return false;
        root = dir;
        mkdir((root + "/tmp").c_str(), 0755);
        mkdir((root + "/dev").c_str(), 0755);
        mkdir((root + "/dev/input").c_str(), 0755);
        if (mkfifo((root + "/dev/input/event0").c_str(), 0600) != 0)
            return false;
        listen_fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof a;
        if (bind(listen_fd, (sockaddr *)&a, sizeof a) != 0 || listen(listen_fd, 1) != 0 ||
            getsockname(listen_fd, (sockaddr *)&a, &len) != 0)
            return false;
        setenv("MIREL_ROOT", root.c_str(), 1);
        setenv("MIREL_PORT", std::to_string(ntohs(a.sin_port)).c_str(), 1);
        setenv("SDL_VIDEODRIVER", "dummy", 1);
        if (app_start() != 0)
            return false;
        fifo = open((root + "/dev/input/event0").c_str(), O_WRONLY | O_NONBLOCK);
        pollfd p = {listen_fd, POLLIN, 0};
        int conn = -1;
        if (fifo < 0 || poll(&p, 1, 10000) != 1 || (conn = accept(listen_fd, nullptr, nullptr)) < 0)
            return false;
        server.start(conn);
        server.send_text("1\n9,0,0,BENCH\n" + curve_line(0));
        // Main menu: the network line, INPUT BUSES, its first row.
        for (int key : {SGUI_KEY_NEXT, SGUI_KEY_ENTER, SGUI_KEY_ENTER}) {
            press(key);
            if (!run_until([] { return sgui_screen_slide() == 0 && sgui_transition() == 0; }, 50))
                return false;
        }
        return run_until(
            [] {
                eq_editor *e = eq_of(sgui_root());
                return e != nullptr && e->is_bus && sgui_focus() == e->controls.gain && sgui_screen_slide() == 0;
            },
            0);
    }

    template <class P> bool run_until(P pred, int min_passes, int timeout_ms = 5000)
    {
        auto t0 = clock_type::now();
        for (int i = 0; i < min_passes || !pred(); i++) {
            app_pass();
            if (since_us(t0) > timeout_ms * 1000.0)
                return false;
        }
        return true;
    }

    void press(int key)
    {
        sgui_input_event ev[2] = {record(key, 0), record(0, 0)};
        (void)!write(fifo, ev, sizeof ev);
    }
};

InProcess &panel()
{
    static InProcess p;
    static bool ok = p.setup();
    if (!ok) {
        fprintf(stderr, "app_eq: the panel did not come up; it shows:\n%s", sgui_screen_text().c_str());
        abort();
    }
    return p;
}

void BM_KeyToCommand(benchmark::State &state)
{
    InProcess &p = panel();
    std::vector<double> us;
    int dir = 1;
    for (auto _ : state) {
        for (int i = 0; i < 200; i++) {
            // Up and down in turn: every detent is a change, never accelerated.
            sgui_input_event ev = record(0, dir > 0 ? 1 : SGUI_ENCODER_CCW);
            dir = -dir;
            size_t from = p.server.received();
            clock_type::time_point t0 = clock_type::now(), t1;
            (void)!write(p.fifo, &ev, sizeof ev);
            if (!p.run_until([&] { return p.server.arrival(from, "12,", &t1); }, 0)) {
                state.SkipWithError("no command");
                return;
            }
            us.push_back(std::chrono::duration<double, std::micro>(t1 - t0).count());
        }
        state.SetIterationTime(percentile(us, 0.5) / 1e6);
    }
    state.counters["median_ms"] = percentile(us, 0.5) / 1000;
    state.counters["p99_ms"] = percentile(us, 0.99) / 1000;
    state.counters["max_ms"] = percentile(us, 1.0) / 1000;
}
BENCHMARK(BM_KeyToCommand)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);

void BM_CurveToScreen(benchmark::State &state)
{
    InProcess &p = panel();
    eq_editor *e = eq_of(sgui_root());
    std::vector<double> us;
    std::string curves[2] = {curve_line(6), curve_line(-3)};
    for (auto _ : state) {
        for (int i = 0; i < 200; i++) {
            int before = eqvis_curve_count(e->eqw);
            p.run_until([] { return true; }, 10);
            auto t0 = clock_type::now();
            p.server.send_text(curves[i & 1]);
            // Drawn and on the screen: the pass that redrew has ended.
            if (!p.run_until([&] { return eqvis_curve_count(e->eqw) > before && !sgui_root()->dirty; }, 0)) {
                state.SkipWithError("no redraw");
                return;
            }
            us.push_back(since_us(t0));
        }
        state.SetIterationTime(percentile(us, 0.5) / 1e6);
    }
    state.counters["median_ms"] = percentile(us, 0.5) / 1000;
    state.counters["p99_ms"] = percentile(us, 0.99) / 1000;
    state.counters["max_ms"] = percentile(us, 1.0) / 1000;
}
BENCHMARK(BM_CurveToScreen)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);

// ---- mirelapp with mirelserver, the encoder turning -------------------------

pid_t spawn(const std::string &program, const std::string &root, int port)
{
    pid_t pid = fork();
    if (pid == 0) {
        setenv("MIREL_ROOT", root.c_str(), 1);
        setenv("MIREL_PORT", std::to_string(port).c_str(), 1);
        setenv("SDL_VIDEODRIVER", "dummy", 1);
        int null = open("/dev/null", O_WRONLY);
        dup2(null, 1);
        dup2(null, 2);
        execl(program.c_str(), program.c_str(), (char *)nullptr);
        _exit(127);
    }
    return pid;
}

std::string screen_text(pid_t pid, const std::string &root)
{
    std::string path = root + "/tmp/screen.txt";
    unlink(path.c_str());
    kill(pid, SIGUSR2);
    for (int i = 0; i < 200; i++) {
        if (FILE *f = fopen(path.c_str(), "r")) {
            std::string s;
            char buf[4096];
            size_t n;
            while ((n = fread(buf, 1, sizeof buf, f)) > 0)
                s.append(buf, n);
            fclose(f);
            return s;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return "";
}

int free_port()
{
    int s = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    bind(s, (sockaddr *)&a, sizeof a);
    getsockname(s, (sockaddr *)&a, &len);
    close(s);
    return ntohs(a.sin_port);
}

void BM_PanelCpuTurning(benchmark::State &state)
{
    std::string bin = MIREL_SERVER_BIN;
    std::string dir = bin.substr(0, bin.rfind('/'));
    char tmp[] = "/tmp/mirel-bench-XXXXXX";
    if (mkdtemp(tmp) == nullptr) {
        state.SkipWithError("mkdtemp");
        return;
    }
    std::string root = tmp;
    std::string mk = std::string(MIREL_SOURCE_DIR) + "/tools/sim-root '" + root + "' >/dev/null";
    if (system(mk.c_str()) != 0 || mkfifo((root + "/dev/input/event0").c_str(), 0600) != 0) {
        state.SkipWithError("sim-root");
        return;
    }
    int port = free_port();
    pid_t server = spawn(dir + "/mirelserver", root, port);
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    pid_t app = spawn(dir + "/mirelapp", root, port);
    int fifo = -1;
    for (int i = 0; i < 500 && fifo < 0; i++) {
        fifo = open((root + "/dev/input/event0").c_str(), O_WRONLY | O_NONBLOCK);
        if (fifo < 0)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    auto press = [&](int key) {
        sgui_input_event ev[2] = {record(key, 0), record(0, 0)};
        (void)!write(fifo, ev, sizeof ev);
    };
    auto wait_screen = [&](const char *text) {
        for (int i = 0; i < 100; i++) {
            std::string s = screen_text(app, root);
            if (s.find(text) != std::string::npos && s.find("\nslide ") == std::string::npos)
                return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        return false;
    };
    bool ready = fifo >= 0 && wait_screen("button 0 133 320 25 - INPUT BUSES");
    if (ready) {
        press(SGUI_KEY_NEXT);
        press(SGUI_KEY_ENTER);
        ready = wait_screen("label 0 0 320 25 - INPUT BUSES");
    }
    if (ready) {
        press(SGUI_KEY_ENTER);
        ready = wait_screen("INPUT BUS EQ");
    }
    double cpu = -1;
    for (auto _ : state) {
        if (!ready) {
            state.SkipWithError("the panel did not open the EQ editor");
            break;
        }
        auto t0 = clock_type::now();
        long c0 = proc_cpu_ticks(app);
        int detents = 0;
        while (since_us(t0) < 5e6) {
            // Ten up, ten down: never accelerated, every detent a change.
            sgui_input_event ev = record(0, (detents / 10) % 2 == 0 ? 1 : SGUI_ENCODER_CCW);
            (void)!write(fifo, &ev, sizeof ev);
            detents++;
            std::this_thread::sleep_until(t0 + std::chrono::microseconds(25000 * detents));
        }
        double seconds = since_us(t0) / 1e6;
        cpu = 100.0 * (double)(proc_cpu_ticks(app) - c0) / (double)sysconf(_SC_CLK_TCK) / seconds;
        state.SetIterationTime(seconds);
    }
    state.counters["cpu_percent"] = cpu;
    if (fifo >= 0)
        close(fifo);
    for (pid_t p : {app, server}) {
        kill(p, SIGTERM);
        waitpid(p, nullptr, 0);
    }
    std::string rm = "rm -rf '" + root + "'";
    (void)!system(rm.c_str());
}
BENCHMARK(BM_PanelCpuTurning)->Iterations(1)->UseManualTime()->Unit(benchmark::kSecond);

}  // namespace

BENCHMARK_MAIN();
