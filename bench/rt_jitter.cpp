// The real-time thread's timing with autosaves: how late each cycle starts
// against its deadline on the 25 ms grid, over a stretch of time during which
// a gain changes every second (so the state file is saved about every three
// seconds, as in a show where someone keeps adjusting), and how long one save
// of the state file takes on this disk.
//
//   rt_jitter [SECONDS]     default 60
//
// Runs the real thread (dsp_lowlevel_init) in a fresh simulation root under
// /tmp; a stand-in for the stream server takes each cycle's reports.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <sys/stat.h>
#include <thread>
#include <vector>

#include "bench_root.h"
#include "command.h"
#include "dsp/dsp_lowlevel.h"
#include "cycle_starts.h"
#include "dsp/rt_thread.h"
#include "platform.h"
#include "system.h"

namespace {

using namespace cycle_starts;

ino_t current_inode(const std::string &path)
{
    struct stat st;
    return stat(path.c_str(), &st) == 0 ? st.st_ino : 0;
}

// Durations of saves made one after the other (before the real-time thread
// runs, so no autosave comes in between).
std::vector<int64_t> time_saves(int n)
{
    std::vector<int64_t> d;
    for (int i = 0; i < n; i++) {
        my_sys->bus[0].gain = (float)-(i % 50);
        int64_t t0 = rt_monotonic_ns();
        system_save_state();
        d.push_back(rt_monotonic_ns() - t0);
    }
    return d;
}

}  // namespace

int main(int argc, char **argv)
{
    int seconds = argc > 1 ? atoi(argv[1]) : 60;
    std::string dir = bench_sim_root();
    if (!freopen((dir + "/tmp/server.err").c_str(), "w", stderr))
        return 1;
    std::string current = platform_path(SYS_FILE_CURRENT);

    if (system_init() != 0)
        return 1;
    std::vector<int64_t> saves = time_saves(50);

    starts.resize((size_t)seconds * 40 + 400);
    rt_set_cycle_observer(observe);
    if (dsp_lowlevel_init(0) != 0)
        return 1;

    // The stream server's part: after every cycle, take the reports. And a
    // change every second; a save shows as a new inode of the current file.
    std::vector<size_t> saved_in;  // cycles in which a save was made
    ino_t inode = current_inode(current);
    auto end = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    auto next_change = std::chrono::steady_clock::now();
    int change = 0;
    while (std::chrono::steady_clock::now() < end) {
        pthread_mutex_lock(&levels_lock);
        timespec ts;
        clock_gettime(CLOCK_MONOTONIC, &ts);
        ts.tv_sec += 1;
        pthread_cond_clockwait(&levels_cond, &levels_lock, CLOCK_MONOTONIC, &ts);
        pthread_mutex_lock(&command_lock);
        rt_info->command_stream_size = 0;
        if (std::chrono::steady_clock::now() >= next_change) {
            char line[32];
            snprintf(line, sizeof line, "2,1,3,%d.0", -(change++ % 40) - 1);
            command_work(line, 0);
            next_change += std::chrono::seconds(1);
        }
        pthread_mutex_unlock(&command_lock);
        pthread_mutex_unlock(&levels_lock);
        ino_t now = current_inode(current);
        if (now != inode) {
            inode = now;
            saved_in.push_back(count.load(std::memory_order_acquire));
        }
    }
    rt_set_cycle_observer(nullptr);
    size_t n = count.load(std::memory_order_acquire);

    std::vector<int64_t> late, late_after_save, period;
    for (size_t i = 0; i < n; i++) {
        late.push_back(starts[i].start - starts[i].deadline);
        if (i > 0)
            period.push_back(starts[i].start - starts[i - 1].start);
    }
    // The saver thread writes while cycles go on: the cycles around the
    // moment the new file appeared are the ones a save could have made late.
    for (size_t c : saved_in)
        if (c < n)
            late_after_save.push_back(starts[c].start - starts[c].deadline);
    size_t overruns = (size_t)std::count_if(late.begin(), late.end(), [](int64_t l) { return l >= RT_CYCLE_NS; });
    size_t late_1ms = (size_t)std::count_if(late.begin(), late.end(), [](int64_t l) { return l >= 1000000; });

    printf("cycles: %zu in %d s, %zu autosaves\n", n, seconds, saved_in.size());
    printf("start lateness: median %.3f ms, p99 %.3f ms, max %.3f ms; %zu cycles >= 1 ms late, %zu >= 25 ms\n",
           percentile(late, 0.5), percentile(late, 0.99), percentile(late, 1.0), late_1ms, overruns);
    printf("start to start: min %.3f ms, max %.3f ms\n", percentile(period, 0.0), percentile(period, 1.0));
    printf("cycles right after an autosave: lateness max %.3f ms\n", percentile(late_after_save, 1.0));

    printf("one save of the state file (%s): median %.2f ms, p90 %.2f ms, max %.2f ms\n", dir.c_str(),
           percentile(saves, 0.5), percentile(saves, 0.9), percentile(saves, 1.0));
    return 0;  // the root goes at exit
}
