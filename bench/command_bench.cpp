// Command lines through command_work (bus, group and device mixes), and the
// full dump a new client gets.
//   build/hw2/bench/command_bench
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "bench_root.h"
#include "command.h"
#include "command_info.h"
#include "platform.h"
#include "report.h"
#include "report_format.h"
#include "report_source.h"
#include "system.h"

namespace {

// A simulation root of its own, so that no tool of the host is ever run.
struct bench_root {
    std::string dir;
    bench_root()
    {
        dir = bench_sim_root();
        if (system_init() != 0)
            abort();
        report_source_init();
    }
};

bench_root &root()
{
    static bench_root r;
    return r;
}

// What a panel and a remote client send while someone works on a mix.
const std::vector<std::string> bus_lines = {
    "2,1,0,-3.5",           "12,1,2,14,4.5",     "16,2,3,2,1250,2.5,-4.5,0", "1,1,4,1",
    "17,1,5,1,8000,3,0",    "18,2,6,120,2,0",    "5,1,7,4",                  "114,1,0,250",
    "9,2,1,Kick%20Drum",    "60,1,2,0",          "8,1,3,12",                 "4,2,4,-24.5",
    "12,1,5,30,-15",        "113,1,6,20",        "10,1,7,-1",                "2,2,0,-60",
};

// The same for the output groups and device settings (each group change
// writes the group's first output and syncs the rest of the group).
const std::vector<std::string> group_lines = {
    "38,1,0,-3.5",          "45,1,2,3,1250,2.5,-4.5,0", "37,2,4,0",           "46,1,5,1,8000,3,0",
    "47,2,6,120,2,0",       "43,1,7,12.5",              "35,2,1,Main%20Left", "42,1,3,4",
    "44,1,2,1",             "49,2,4,2048",              "39,1,5,1",           "24,1,6,26,100",
    "27,2,1",               "62,1,0",                   "40,1,7,-1",          "38,2,0,-60",
};

// One line after another of a mix, round and round.
void BM_command_work(benchmark::State &state, const std::vector<std::string> *lines)
{
    root();
    size_t i = 0;
    for (auto _ : state) {
        command_work((*lines)[i].c_str(), 0);
        if (++i == lines->size())
            i = 0;
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK_CAPTURE(BM_command_work, bus_mix, &bus_lines);
BENCHMARK_CAPTURE(BM_command_work, group_mix, &group_lines);

void BM_full_dump(benchmark::State &state)
{
    root();
    static char buf[65536];
    size_t len = 0;
    for (auto _ : state) {
        report_writer w;
        report_writer_init(&w, buf, sizeof buf);
        report_format_full_dump(&w);
        len = w.len;
        benchmark::DoNotOptimize(buf);
    }
    state.counters["bytes"] = (double)len;
}
BENCHMARK(BM_full_dump)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
