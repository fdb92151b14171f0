// Processing time of one real-time cycle: idle, with one gain change, with
// one graphic band change, with a graphic band change on each of the 8 buses,
// and the first full refresh after start. Runs on a fresh simulation root.
//
//   rt_cycle_bench                         Google Benchmark figures
//   rt_cycle_bench --fixed idle|gain|geq|geq8|refresh N [--show]
//                                          N cycles of one kind, no timing:
//                                          run it under callgrind with N and 0
//                                          and divide the difference by N
//                                          (bench/device_cost.py does)
//
// --show starts from a show's state instead of the defaults: every graphic
// band, parametric band, shelf and high-pass of every bus and output group
// in use, so every curve has all its sections to evaluate.
#include <benchmark/benchmark.h>

#include <cstdarg>
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

// Runs a command line as a client would.
__attribute__((format(printf, 1, 2))) void commands(const char *fmt, ...)
{
    char line[96];
    va_list ap;
    va_start(ap, fmt);
    vsnprintf(line, sizeof line, fmt, ap);
    va_end(ap);
    pthread_mutex_lock(&command_lock);
    command_work(line, 0);
    pthread_mutex_unlock(&command_lock);
}

void show_state()
{
    for (int b = 0; b < 8; b++) {
        for (int band = 0; band < 31; band++)
            commands("12,1,%d,%d,%d.5", b, band, (band * 7 + b) % 13 - 6);
        for (int band = 0; band < 5; band++)
            commands("16,1,%d,%d,%d,2.0,-4.5,0", b, band, 60 + 900 * band + 10 * b);
        commands("17,1,%d,0,%d,3.0,0", b, 120 + b);
        commands("17,1,%d,1,%d,-2.0,0", b, 8000 + 100 * b);
        commands("18,1,%d,%d,2,0", b, 30 + b);
        for (int band = 0; band < 4; band++)
            commands("45,1,%d,%d,%d,1.4,3.5,0", b, band, 100 + 1500 * band + 10 * b);
        commands("46,1,%d,0,%d,-3.0,0", b, 90 + b);
        commands("46,1,%d,1,%d,2.5,0", b, 9000 + 100 * b);
        commands("47,1,%d,%d,1,0", b, 45 + b);
    }
}

bool show = false;

void setup()
{
    static bool done = false;
    if (done)
        return;
    done = true;
    bench_dsp_start(&cycle_state);
    if (show) {
        show_state();
        for (int i = 0; i < 5; i++) {
            rt_cycle(&cycle_state);
            rt_info->command_stream_size = 0;
        }
    }
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

// Band i of bus b to a gain it did not have: never 0 dB, never the show's.
void geq_change(int b, int i)
{
    commands("12,1,%d,%d,%d.25", b, i % 31, -(i % 12) - 1);
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

void BM_GraphicBandCycle(benchmark::State &state)
{
    setup();
    int i = 0;
    for (auto _ : state) {
        geq_change(2, i++);
        one_cycle();
    }
}
BENCHMARK(BM_GraphicBandCycle);

void BM_GraphicBandEveryBusCycle(benchmark::State &state)
{
    setup();
    int i = 0;
    for (auto _ : state) {
        for (int b = 0; b < 8; b++)
            geq_change(b, i);
        i++;
        one_cycle();
    }
}
BENCHMARK(BM_GraphicBandEveryBusCycle);

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
    for (int i = 1; i < argc; i++)
        if (strcmp(argv[i], "--show") == 0) {
            show = true;
            for (int j = i; j + 1 < argc; j++)
                argv[j] = argv[j + 1];
            argc--;
            break;
        }
    if (argc == 4 && strcmp(argv[1], "--fixed") == 0) {
        setup();
        const char *kind = argv[2];
        int n = atoi(argv[3]);
        for (int i = 0; i < n; i++) {
            if (strcmp(kind, "gain") == 0) {
                gain_change(i);
            } else if (strcmp(kind, "geq") == 0) {
                geq_change(2, i);
                one_cycle();
            } else if (strcmp(kind, "geq8") == 0) {
                for (int b = 0; b < 8; b++)
                    geq_change(b, i);
                one_cycle();
            } else if (strcmp(kind, "refresh") == 0) {
                refresh();
            } else {
                one_cycle();
            }
        }
        return 0;
    }
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    return 0;
}
