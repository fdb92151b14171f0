// Processing time of a loudspeaker preset assignment: command 36 through
// command_work (parse the entry's text from the database, take and free
// outputs) followed by the one real-time cycle that uploads the group and
// writes every report of it. Alternates a 4-way entry and entry 0 on group
// 0, so each assignment takes or frees three outputs. Fails when anything
// of the assignment is still pending after that one cycle.
//   build/hw2/bench/lsp_assign_bench              Google Benchmark figures
//   build/hw2/bench/lsp_assign_bench --fixed N    N assignments, no timing (for
//                                                 callgrind: run N and 0, divide
//                                                 the difference by N)
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "bench_root.h"
#include "command.h"
#include "dbase.h"
#include "dbase_lsp.h"
#include "dsp/dsp_lowlevel.h"
#include "dsp/rt_thread.h"
#include "platform.h"
#include "report.h"
#include "system.h"
#include "system_lsp.h"

namespace {

// Four ways with crossover and EQ filters on each, as a real cabinet has.
const char FOUR_WAY[] = "SUB\nHPF 28HZ BW24\nLPF 90HZ LR24\nPEQ 45HZ 3DB Q2,5\nPOWER 2000W 4000W 4R\n"
                        "LOW\nHPF 90HZ LR24\nLPF 500HZ LR24\nPEQ 160HZ -3,5DB 0,7OCT\nPOWER 800W 1600W 8R\n"
                        "MID\nHPF 500HZ LR24\nLPF 3,2KHZ BS24\nPEQ 1,2KHZ -2DB Q4\nPOWER 300W 600W 8R\n"
                        "HIGH\nHPF 3,2KHZ BW36\nPEQ 8KHZ 2DB 0,5OCT\nHSHELF 14KHZ 3DB Q0.6\nPOWER 100W 200W 16R\n";

rt_cycle_state cycle_state;
int four_way_id;

void setup()
{
    if (!bench_database_start(&cycle_state))
        return;
    four_way_id = dbase_new_lsp(0, 0);
    system_lsp_prop(0, four_way_id, 0, FOUR_WAY);
    // Storing the text reports it: let one cycle take that out of the way.
    rt_cycle(&cycle_state);
    rt_info->command_stream_size = 0;
}

bool anything_pending()
{
    if (report_pending.group_map || system_lsp_reports_pending())
        return true;
    for (int o = 0; o < SYS_OUTPUTS; o++)
        if (report_pending.out[o])
            return true;
    return false;
}

// One assignment and its cycle; false when something is left for later.
bool assign_and_cycle(int i, size_t *bytes)
{
    char line[32];
    snprintf(line, sizeof line, "36,1,0,%d", (i & 1) ? 0 : four_way_id);
    pthread_mutex_lock(&command_lock);
    command_work(line, 0);
    pthread_mutex_unlock(&command_lock);
    rt_cycle(&cycle_state);
    *bytes += rt_info->command_stream_size;
    rt_info->command_stream_size = 0;  // what the stream server does
    cycle_state.changed = 0;           // no autosave in the figures
    cycle_state.autosave_countdown = 120;
    return !anything_pending();
}

void BM_AssignAndCycle(benchmark::State &state)
{
    setup();
    int i = 0;
    size_t bytes = 0;
    for (auto _ : state) {
        if (!assign_and_cycle(i++, &bytes)) {
            state.SkipWithError("the assignment needed more than one cycle");
            break;
        }
    }
    state.counters["report_bytes"] = benchmark::Counter((double)bytes / (double)i);
}
BENCHMARK(BM_AssignAndCycle)->Unit(benchmark::kMicrosecond);

}  // namespace

int main(int argc, char **argv)
{
    if (argc == 3 && strcmp(argv[1], "--fixed") == 0) {
        setup();
        size_t bytes = 0;
        for (int i = 0, n = atoi(argv[2]); i < n; i++)
            if (!assign_and_cycle(i, &bytes))
                return 1;
        return 0;
    }
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    return 0;
}
