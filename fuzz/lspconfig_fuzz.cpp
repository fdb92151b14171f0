// libFuzzer target: the loudspeaker configuration parser over arbitrary
// bytes. Every correction is also a log line; run with -close_fd_mask=2 to
// keep them off the terminal (crash reports still appear).
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "lspconfig.h"

namespace {

// What every caller relies on, whatever the text held.
void check(const cfglsp *c)
{
    int channels = lspconfig_channels(c);
    if (channels < 1 || channels > LSPCONFIG_MAX_CHANNELS)
        abort();
    if (c->warnings_len >= LSPCONFIG_WARNINGS_SIZE || strlen(c->warnings) != c->warnings_len)
        abort();
    if (strnlen(c->label, sizeof c->label) > LSPCONFIG_LABEL_MAX)
        abort();
    if (c->preset_count != 1 || c->bank_count != 1)
        abort();
    for (int n = 0; n < channels; n++) {
        const lspconfig_way *w = lspconfig_get_way(c, n, 0);
        if (!w || w->section_count < 0 || w->section_count > SYS_WAY_SECTIONS)
            abort();
        const sys_way &v = w->way;
        // Values that reach the FPGA are finite.
        for (float f : {v.gain, v.delay, v.rms_time, v.attack, v.release, v.peak_release})
            if (!std::isfinite(f))
                abort();
        if (std::isnan(v.rms_limit) || std::isnan(v.peak_limit))
            abort();
        for (const filter_record &r : v.sections)
            for (float k : r.coef_block)
                if (!std::isfinite(k))
                    abort();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    cfglsp *c = lspconfig_parse((const char *)data, size);
    if (c)
        check(c);
    lspconfig_free(c);
    return 0;
}
