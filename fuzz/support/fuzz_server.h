// For the fuzz targets of the server: the state record and the DSP layer
// brought up once in a simulation root, and put back before every input so
// that an input does the same whatever ran before it.
#pragma once
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "dsp/dsp_lowlevel.h"
#include "dsp/dsp_update.h"
#include "dsp/rt_thread.h"
#include "fuzz_root.h"
#include "report.h"
#include "report_source.h"
#include "system.h"

struct fuzz_server_state {
    sys_file sys;
    dsp_device device;
};

// One update pass as the real-time thread runs it; checks the command
// stream's contract (terminated, within the buffer, whole lines).
inline size_t fuzz_update_pass()
{
    static char stream[COMMAND_STREAM_BUF_SIZE];
    size_t len = 0;
    dsp_update_pending(stream, sizeof stream, &len);
    FUZZ_CHECK(len < sizeof stream);
    FUZZ_CHECK(strlen(stream) == len);
    FUZZ_CHECK(len == 0 || stream[len - 1] == '\n');
    return len;
}

// Defaults loaded, every report sent once: the state every input starts from.
inline const fuzz_server_state *fuzz_server_init()
{
    static fuzz_server_state start;
    fuzz_root_init();
    if (system_init() != 0 || dsp_lowlevel_prepare() != 0)
        abort();
    report_source_init();
    for (int i = 0; i < 20 && fuzz_update_pass() > 0; i++) {
    }
    start.sys = *my_sys;
    start.device = *my_device;
    return &start;
}

inline void fuzz_server_restore(const fuzz_server_state *start)
{
    *my_sys = start->sys;
    *my_device = start->device;
    report_pending_clear();
    report_message_reset();
}
