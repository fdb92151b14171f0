// Processing time of one real-time cycle: idle, with one gain change, and the
// first full refresh after start. Runs on a fresh simulation root.
//
//   rt_cycle_bench                         Google Benchmark figures
//   rt_cycle_bench --fixed idle|gain|refresh N
//                                          N cycles of one kind, no timing:
//                                          run it under callgrind with N and 0
//                                          and divide the difference by N
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "bench_root.h"
#include "command.h"
#include "dsp/dsp_lowlevel.h"
#include "dsp/rt_thread.h"
#include "platform.h"
#include "system.h"

namespace {

rt_cycle_state cycle_state;

void setup()
{
    static bool done = false;
    if (!done)
        bench_dsp_start(&cycle_state);
    done = true;
}

void one_cycle()
{
    rt_cycle(&cycle_state);
    rt_info->command_stream_size = 0;  // what the stream server does
    cycle_state.changed = 0;           // no autosave in the figures
    cycle_state.autosave_countdown = 120;
}

void gain_change(int i)
{
    char line[32];
    snprintf(line, sizeof line, "2,1,2,%d.0", -(i % 50) - 1);
    pthread_mutex_lock(&command_lock);
    command_work(line, 0);
    pthread_mutex_unlock(&command_lock);
    one_cycle();
}

void refresh()
{
    dsp_lowlevel_prepare();
    one_cycle();
}

void BM_IdleCycle(benchmark::State &state)
{
    setup();
    for (auto _ : state)
        one_cycle();
}
BENCHMARK(BM_IdleCycle);

void BM_GainChangeCycle(benchmark::State &state)
{
    setup();
    int i = 0;
    for (auto _ : state)
        gain_change(i++);
}
BENCHMARK(BM_GainChangeCycle);

void BM_FirstRefreshCycle(benchmark::State &state)
{
    setup();
    for (auto _ : state) {
        state.PauseTiming();
        dsp_lowlevel_prepare();
        state.ResumeTiming();
        one_cycle();
    }
}
BENCHMARK(BM_FirstRefreshCycle);

}  // namespace

int main(int argc, char **argv)
{
    if (argc == 4 && strcmp(argv[1], "--fixed") == 0) {
        setup();
        int n = atoi(argv[3]);
        for (int i = 0; i < n; i++) {
            if (strcmp(argv[2], "gain") == 0)
                gain_change(i);
            else if (strcmp(argv[2], "refresh") == 0)
                refresh();
            else
                one_cycle();
        }
        return 0;
    }
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    return 0;
}
