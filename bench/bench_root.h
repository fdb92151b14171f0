// What the server benchmarks set up before they measure: a simulation root
// of their own (so no tool of the host is ever run) and the DSP layer after
// its first cycles.
#pragma once
#include <cstdio>
#include <cstdlib>
#include <string>

#include "dbase.h"
#include "dsp/dsp_lowlevel.h"
#include "dsp/rt_thread.h"
#include "platform.h"
#include "system.h"

// Makes a fresh root with tools/sim-root and points the server code at it;
// the root is removed when the program ends. Once per program.
inline std::string bench_sim_root()
{
    static char dir[] = "/tmp/mirel-bench-XXXXXX";
    if (mkdtemp(dir) == nullptr)
        abort();
    std::string cmd = std::string(MIREL_SOURCE_DIR) + "/tools/sim-root " + dir + " >/dev/null";
    if (system(cmd.c_str()) != 0)
        abort();
    atexit([] {
        std::string rm = std::string("rm -rf ") + dir;
        if (system(rm.c_str()) != 0)
            fprintf(stdout, "could not remove %s\n", dir);
    });
    setenv("MIREL_ROOT", dir, 1);
    platform_init();
    return dir;
}

// The state record and the DSP layer without its thread; the first cycles
// (which upload and report everything) are run, so the figures start idle.
// Start-up lines are not what is measured: standard error is closed.
inline void bench_dsp_start(rt_cycle_state *st)
{
    bench_sim_root();
    fclose(stderr);
    if (system_init() != 0 || dsp_lowlevel_prepare() != 0)
        abort();
    rt_cycle_init(st);
    st->startup_countdown = 0;
    for (int i = 0; i < 5; i++) {
        rt_cycle(st);
        rt_info->command_stream_size = 0;
    }
}

// The same with the database of the root opened (project 1 made from the
// start-up state), as the server has it when clients come. Once per program.
inline bool bench_database_start(rt_cycle_state *st)
{
    static bool done = false;
    if (done)
        return false;
    done = true;
    bench_dsp_start(st);
    pthread_mutex_lock(&command_lock);
    dbase_init();
    pthread_mutex_unlock(&command_lock);
    return true;
}
