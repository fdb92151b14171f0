// Project save and load inside one process, on the database file of a
// simulation root under /tmp (the VM's disk, write-ahead log synced at
// every commit):
//   BM_Save            command 101: the live state written into its project
//                      rows in one transaction (12 statements, 145 rows);
//   BM_LoadAndCycles   command 99 alternating between two projects that
//                      differ in every value, then the real-time cycles
//                      until nothing of the load is pending; the counters
//                      give the cycles it took (the target is two) and the
//                      report bytes.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <string>

#include "bench_root.h"
#include "command.h"
#include "dbase.h"
#include "dsp/dsp_lowlevel.h"
#include "dsp/rt_thread.h"
#include "report.h"
#include "system.h"
#include "system_lsp.h"

namespace {

rt_cycle_state cycle_state;
int projects[2];

void run(const std::string &line)
{
    pthread_mutex_lock(&command_lock);
    command_work(line.c_str(), 0);
    pthread_mutex_unlock(&command_lock);
}

// One real-time cycle whose command stream the stream server then empties.
size_t cycle()
{
    rt_cycle(&cycle_state);
    size_t n = rt_info->command_stream_size;
    rt_info->command_stream_size = 0;
    cycle_state.changed = 0;  // no autosave in the figures
    cycle_state.autosave_countdown = 120;
    return n;
}

bool anything_pending()
{
    if (report_pending.group_map || report_pending.project || system_lsp_reports_pending())
        return true;
    for (int id : {100, 105, 119})
        if (report_pending.device[id])
            return true;
    for (int i = 0; i < SYS_BUSES; i++)
        if (report_pending.bus[i] || report_pending.out[i])
            return true;
    return false;
}

// Every bus and group value set from v (0 or 1), so two projects differ everywhere.
void mix(int v)
{
    char line[96];
    for (int b = 0; b < SYS_BUSES; b++) {
        snprintf(line, sizeof line, "10,1,%d,-1", b);
        run(line);
        snprintf(line, sizeof line, "2,1,%d,%.1f", b, -3.0 - b - 10 * v);
        run(line);
        snprintf(line, sizeof line, "4,1,%d,%d", b, -10 - b - v);
        run(line);
        snprintf(line, sizeof line, "9,1,%d,Bus%%20%d%%20%d", b, b, v);
        run(line);
        for (int g = 0; g < SYS_GEQ_BANDS; g++) {
            snprintf(line, sizeof line, "12,1,%d,%d,%d", b, g, (g + b + 5 * v) % 25 - 12);
            run(line);
        }
        for (int p = 0; p < SYS_BUS_PEQ_BANDS; p++) {
            snprintf(line, sizeof line, "16,1,%d,%d,%d,1.5,%d,0", b, p, 100 * (p + 1) + b + v, -3 + v);
            run(line);
        }
        snprintf(line, sizeof line, "18,1,%d,%d,%d,0", b, 30 + b + v, (b + v) % 5);
        run(line);
    }
    for (int g = 0; g < SYS_OUTPUTS; g++) {
        snprintf(line, sizeof line, "38,1,%d,%d", g, -2 - g - v);
        run(line);
        snprintf(line, sizeof line, "43,1,%d,%.2f", g, 1.25 + g + v);
        run(line);
        for (int p = 0; p < SYS_OUT_PEQ_BANDS; p++) {
            snprintf(line, sizeof line, "45,1,%d,%d,%d,1.5,%d,0", g, p, 200 * (p + 1) + g + v, 4 - p - v);
            run(line);
        }
        snprintf(line, sizeof line, "47,1,%d,%d,%d,0", g, 45 + g + v, (4 - g + v + 5) % 5);
        run(line);
    }
    while (anything_pending())
        cycle();
}

void setup()
{
    if (!bench_database_start(&cycle_state))
        return;
    for (int v = 0; v < 2; v++) {
        mix(v);
        run("102,1,0,Project%20" + std::to_string(v));
        projects[v] = my_sys->project_id;
    }
    while (anything_pending())
        cycle();
    report_message_reset();
}

void BM_Save(benchmark::State &state)
{
    setup();
    for (auto _ : state)
        run("101,1,0");
    report_message_reset();
    while (anything_pending())
        cycle();
}
BENCHMARK(BM_Save)->Unit(benchmark::kMillisecond);

void BM_LoadAndCycles(benchmark::State &state)
{
    setup();
    int i = 0, most = 0;
    double cycles = 0, bytes = 0;
    for (auto _ : state) {
        run("99,1," + std::to_string(projects[i++ & 1]));
        int n = 0;
        while (anything_pending() && n < 10) {
            bytes += (double)cycle();
            n++;
        }
        cycles += n;
        most = std::max(most, n);
    }
    state.counters["cycles"] = cycles / i;
    state.counters["cycles_max"] = most;
    state.counters["report_bytes"] = bytes / i;
}
BENCHMARK(BM_LoadAndCycles)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
