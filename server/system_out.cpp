#include "system_out.h"

#include <algorithm>
#include <cstddef>
#include <cstring>

#include "dsp/dsp_lowlevel.h"
#include "dsp/rt_thread.h"
#include "log.h"
#include "lspconfig.h"
#include "report.h"
#include "report_format.h"
#include "system.h"
#include "system_bus.h"

namespace {

// The group-level head of an output record: gain up to the loudspeaker
// summary; the way configuration and the mute behind it are the output's own.
constexpr size_t GROUP_HEAD_BYTES = offsetof(sys_output, way);
static_assert(GROUP_HEAD_BYTES == 624);

// The group-level values in front of the loudspeaker summary.
constexpr size_t GROUP_VALUE_BYTES = offsetof(sys_output, lsp);

// Real-time cycles the alarm mute lasts.
constexpr uint32_t ALARM_CYCLES = 80;

int group_size(int g)
{
    int n = 0;
    for (const sys_output &o : my_sys->out)
        n += o.group_lsp == g;
    return n;
}

// Lowest output of group g, or -1; quiet, unlike find_first_out.
int first_of(int g)
{
    for (int o = 0; o < SYS_OUTPUTS; o++)
        if (my_sys->out[o].group_lsp == g)
            return o;
    return -1;
}

// A group with fewer outputs than its loudspeaker has ways cannot play it:
// each of its outputs becomes a one-way group of its own.
void free_short_groups(int conn)
{
    for (int g = 0; g < SYS_OUTPUTS; g++) {
        int first = first_of(g);
        if (first < 0 || group_size(g) >= my_sys->out[first].lsp.ways)
            continue;
        for (int o = first; o < SYS_OUTPUTS; o++)
            if (my_sys->out[o].group_lsp == g)
                free_output_channel(conn, o);
    }
}

// Inclusive, and false for NaN.
bool in_range(float v, float lo, float hi)
{
    return v >= lo && v <= hi;
}

bool group_ok(int group, const char *op)
{
    if ((unsigned)group >= SYS_OUTPUTS) {
        log_error("%s: group_lsp out of range\n", op);
        return false;
    }
    return true;
}

// Writes the group's first output with set, carries it to the rest of the
// group and marks it. A group no output carries changes nothing.
template <class F>
void group_write(int conn, int group, int report_id, uint32_t flags, F &&set)
{
    int o = find_first_out(group);
    if (o < 0)
        return;
    set(my_sys->out[o]);
    sync_group_outputs(o);
    report_output(report_id, conn, o, flags, false);
}

// Integer group values with their inclusive range.
void set_int(const char *op, const char *message, int32_t sys_output::*field, int lo, int hi, int report_id,
             int conn, int group, int v)
{
    if (!group_ok(group, op))
        return;
    if (v < lo || v > hi) {
        log_error("%s: %s out of range\n", op, message);
        return;
    }
    group_write(conn, group, report_id, 0, [&](sys_output &o) { o.*field = v; });
}

// The largest output delay in the unit, as a float: values arrive as floats,
// and a value printed as the limit must come back in.
float delay_limit(int unit)
{
    return (float)system_delay_limit_in_unit(SYSTEM_OUT_DELAY_MAX_MS, unit);
}

// Silences all eight outputs at once, straight into their gain words; the
// real-time thread announces it and restores the outputs when it expires.
void alarm_mute(int conn)
{
    if (my_device != nullptr) {
        for (int o = 0; o < SYS_OUTPUTS; o++) {
            dsp_dyn d = my_device->out[o].dyn;
            d.gain = DSP_GAIN_SILENT;
            dsp_dyn_gain(dsp_dyn_out(o), 96000.0f, &d);
        }
        my_device->alarm_active = 1;
        my_device->alarm_end = rt_cycle_counter + ALARM_CYCLES;
        my_device->alarm_announce = 1;
    }
    report_device(123, conn);
}

}  // namespace

int find_first_out(int group)
{
    for (int o = 0; o < SYS_OUTPUTS; o++)
        if (my_sys->out[o].group_lsp == group)
            return o;
    log_error("find_first_out: group not active\n");
    return -1;
}

void sync_group_outputs(int o)
{
    if ((unsigned)o >= SYS_OUTPUTS) {
        log_error("sync_group_outputs: outid out of range\n");
        return;
    }
    const sys_output &src = my_sys->out[o];
    for (int i = 0; i < SYS_OUTPUTS; i++) {
        if (i == o || my_sys->out[i].group_lsp != src.group_lsp)
            continue;
        memcpy(&my_sys->out[i], &src, GROUP_HEAD_BYTES);
        report_output(0, 0, i, 0, false);
    }
}

void free_output_channel(int conn, int o)
{
    if ((unsigned)o >= SYS_OUTPUTS) {
        log_error("free_output_channel: outid out of range\n");
        return;
    }
    sys_output &out = my_sys->out[o];
    out.mute = 1;
    report_output(44, conn, o, 0, false);
    int unused = -1;
    for (int g = 0; g < SYS_OUTPUTS && unused < 0; g++)
        if (group_size(g) == 0)
            unused = g;
    if (unused < 0) {
        log_error("free_output_channel: find_unused_group()==-1\n");
        return;
    }
    memset(out.label, 0, sizeof out.label);
    out.id_lsp = 0;
    out.group_lsp = unused;
    sys_lsp_summary summary;
    cfglsp_ptr c(lspconfig_parse_from_id(0, &summary));
    const lspconfig_way *way = c ? lspconfig_get_way(c.get(), 0, 0) : nullptr;
    if (way != nullptr) {
        out.lsp = summary;
        out.lsp.ways = 1;  // the output carries one way, whatever a damaged entry says
        out.way = way->way;
    } else {
        log_error("free_output_channel: lspconfig_parse_from_id() returned NULL\n");
        system_default_preset(&out);
    }
    // A new group: everything of it is uploaded and reported afresh.
    report_output(36, conn, o, REPORT_FLAG_LABEL | REPORT_FLAG_REFRESH, true);
}

void system_out_group_lsp_set(int conn, int g, int id, int keep_mute, int first_out)
{
    if ((unsigned)g >= SYS_OUTPUTS) {
        log_error("system_out_group_lsp_set: group_lsp out of range\n");
        return;
    }
    if (id < 0) {
        log_error("system_out_group_lsp_set: id_lsp out of range\n");
        return;
    }
    if (first_out >= SYS_OUTPUTS) {
        log_error("system_out_group_lsp_set: first output out of range\n");
        return;
    }
    int start = first_out, count = 1;
    if (first_out < 0) {
        count = group_size(g);
        if (count == 0) {
            log_error("system_out_group_lsp_set: group_lsp invalid (currently not set)\n");
            return;
        }
        start = first_of(g);
    }
    sys_lsp_summary summary;
    cfglsp_ptr c(lspconfig_parse_from_id(id, &summary));
    if (!c) {
        log_error("system_out_group_lsp_set: lspconfig_parse_from_id() returned NULL\n");
        return;
    }
    int needed = lspconfig_channels(c.get());
    if (needed < 1) {
        log_error("system_out_group_lsp_set: ch_needed < 1\n");
        return;
    }

    // The output that holds the group's values now; taking outputs before
    // the group moves its first output away from it.
    const int holder = start;
    auto take = [&](int o) {
        sys_output &out = my_sys->out[o];
        if (!keep_mute)
            out.mute = 1;
        out.id_lsp = id;
        out.group_lsp = g;
    };
    if (needed < count) {
        for (int o = start; o < start + needed; o++)
            take(o);
        for (int o = start + needed; o < start + count; o++)
            free_output_channel(conn, o);
    } else {
        for (int o = start; o < start + count; o++)
            take(o);
        int missing = needed - count;
        for (int o = start + count; o < SYS_OUTPUTS && missing > 0; o++, missing--)
            take(o);
        for (int o = start - 1; o >= 0 && missing > 0; o--, missing--) {
            take(o);
            start = o;
        }
        if (missing > 0) {
            log_error("system_out_group_lsp_set: residual != 0 in (ch_have <= ch_needed)\n");
            free_short_groups(conn);
            report_output(36, conn, start, REPORT_FLAG_REFRESH, true);
            return;
        }
    }

    // The group keeps its own label, gain, delay, EQ and input rather than
    // those of the neighbour whose output became its first.
    if (start != holder)
        memcpy(&my_sys->out[start], &my_sys->out[holder], GROUP_VALUE_BYTES);
    my_sys->out[start].lsp = summary;
    for (int i = 0; i < needed; i++)
        my_sys->out[start + i].way = lspconfig_get_way(c.get(), i, 0)->way;
    sync_group_outputs(start);
    free_short_groups(conn);
    report_output(36, conn, start, REPORT_FLAG_LABEL | REPORT_FLAG_REFRESH, true);
}

void system_out_group_label(int conn, int group, const char *label)
{
    if (!group_ok(group, "system_out_group_label"))
        return;
    if (label == nullptr) {
        log_error("system_out_group_label: label==NULL\n");
        return;
    }
    size_t n = strnlen(label, SYS_LABEL_MAX);
    group_write(conn, group, 35, REPORT_FLAG_LABEL, [&](sys_output &o) {
        memcpy(o.label, label, n);
        memset(o.label + n, 0, sizeof o.label - n);
    });
}

void system_out_group_set_mute(int conn, int group, int mute)
{
    if (!group_ok(group, "system_out_group_set_mute"))
        return;
    if (mute != 0 && mute != 1) {
        log_error("system_out_group_set_mute: mute out of range\n");
        return;
    }
    if (find_first_out(group) < 0)
        return;
    for (int o = 0; o < SYS_OUTPUTS; o++) {
        if (my_sys->out[o].group_lsp != group)
            continue;
        my_sys->out[o].mute = mute;
        // The pass reports each output's mute as 44: the requester goes there too.
        report_output(37, conn, o, 0, false);
        report_output(44, conn, o, 0, false);
    }
}

void system_out_group_set_gain(int conn, int group, float gain)
{
    if (!group_ok(group, "system_out_group_set_gain"))
        return;
    if (!in_range(gain, -60.0f, 20.0f)) {
        log_error("system_out_group_set_gain: gain out of range\n");
        return;
    }
    group_write(conn, group, 38, 0, [&](sys_output &o) { o.gain = gain; });
}

void system_out_group_set_phase(int conn, int group, int phase)
{
    set_int("system_out_group_set_phase", "phase", &sys_output::phase, 0, 1, 39, conn, group, phase);
}

void system_out_group_set_grp_local(int conn, int group, int local)
{
    set_int("system_out_group_set_grp_local", "group", &sys_output::group_local, -1, 3, 40, conn, group, local);
}

void system_out_group_set_grp_net(int conn, int group, int net)
{
    set_int("system_out_group_set_grp_net", "group", &sys_output::group_net, -1, 7, 41, conn, group, net);
}

void system_out_group_set_input(int conn, int group, int bus)
{
    set_int("system_out_group_set_input", "input", &sys_output::bus_input, 0, SYS_BUSES - 1, 42, conn, group, bus);
}

void system_out_group_set_eq_flags(int conn, int group, int flags)
{
    if (!group_ok(group, "system_out_group_set_eq_flags"))
        return;
    group_write(conn, group, 49, 0, [&](sys_output &o) { o.eq_flags = flags; });
}

void system_out_group_set_peq(int conn, int group, int band, float freq, float q, float gain, int bypass)
{
    if (!group_ok(group, "system_out_group_set_peq"))
        return;
    if (!system_check_peq("system_out_group_set_peq", band, SYS_OUT_PEQ_BANDS, freq, q, gain))
        return;
    if (find_first_out(group) < 0) {
        log_error("system_out_group_set_peq: out not found\n");
        return;
    }
    group_write(conn, group, 45, 0, [&](sys_output &o) { o.peq[band] = sys_peq{freq, q, gain, bypass != 0}; });
}

void system_out_group_set_shelf(int conn, int group, int shelf, float freq, float gain, int bypass)
{
    if (!group_ok(group, "system_out_group_set_shelf"))
        return;
    if (!system_check_shelf("system_out_group_set_shelf", shelf, freq, gain))
        return;
    group_write(conn, group, 46, 0, [&](sys_output &o) {
        sys_shelf &s = o.shelf[shelf];
        s.freq = freq;
        s.gain = gain;
        s.bypass = bypass != 0;
    });
}

void system_out_group_set_hpf(int conn, int group, float freq, int kind, int bypass)
{
    if (!group_ok(group, "system_out_group_set_hpf"))
        return;
    if (kind < 0 || kind > 4) {
        log_error("system_out_group_set_hpf: type out of range\n");
        return;
    }
    // The outputs' high-pass only guards the speakers' low end.
    if (!in_range(freq, 16.0f, 1200.0f)) {
        log_error("system_out_group_set_hpf: freq out of range\n");
        return;
    }
    group_write(conn, group, 47, 0, [&](sys_output &o) {
        o.highpass.freq = freq;
        o.highpass.kind = kind;
        o.highpass.bypass = bypass != 0;
    });
}

void system_out_group_set_delay(int conn, int group, float value, int metres)
{
    if (!group_ok(group, "system_out_group_set_delay"))
        return;
    int unit = metres ? DELAY_UNIT_METRES : my_sys->delay_unit;
    if (!(value >= 0.0f && value <= delay_limit(unit))) {
        log_error("system_out_group_set_delay: delay out of range (%s)\n", system_delay_unit_word(unit));
        return;
    }
    float m, ms;
    system_delay_convert(value, unit, &m, &ms);
    group_write(conn, group, 43, 0, [&](sys_output &o) {
        o.delay_m = m;
        o.delay_ms = ms;
    });
}

void system_out_set_mute(int conn, int o, int mute)
{
    if (o < -1 || o >= SYS_OUTPUTS) {
        log_error("system_out_set_mute: outid out of range\n");
        return;
    }
    if (mute != 0 && mute != 1) {
        log_error("system_out_set_mute: mute out of range\n");
        return;
    }
    if (o >= 0) {
        my_sys->out[o].mute = mute;
        report_output(44, conn, o, 0, false);
    } else if (mute == 1) {
        alarm_mute(conn);
    }
}

void system_out_recompute_delays(int conn)
{
    bool keep_time = my_sys->delay_unit == DELAY_UNIT_MS;
    for (int o = 0; o < SYS_OUTPUTS; o++) {
        sys_output &out = my_sys->out[o];
        system_delay_recompute(&out.delay_m, &out.delay_ms, SYSTEM_OUT_DELAY_MAX_MS, keep_time);
        report_output(43, conn, o, 0, false);
    }
}

void system_out_group_copy(int conn, int dst, int src, uint32_t flags)
{
    if (dst == src) {
        log_error("system_out_group_copy: cannot copy on itself\n");
        return;
    }
    // An out-of-range group carries no output: the look-ups below stop.
    if ((unsigned)dst >= SYS_OUTPUTS)
        log_error("system_out_group_copy: dest_group_lsp out of range\n");
    if ((unsigned)src >= SYS_OUTPUTS)
        log_error("system_out_group_copy: source_group_lsp out of range\n");
    int s = find_first_out(src);
    if (s < 0) {
        log_error("system_out_group_copy: find_first_out()#1 out of range\n");
        return;
    }
    int d = find_first_out(dst);
    if (d < 0) {
        log_error("system_out_group_copy: find_first_out()#2 out of range\n");
        return;
    }

    // Through the setters, so each copied value is checked and reported.
    const sys_output &so = my_sys->out[s];
    if (flags & OUT_COPY_INPUT)
        system_out_group_set_input(0, dst, so.bus_input);
    if (flags & OUT_COPY_GAIN)
        system_out_group_set_gain(0, dst, so.gain);
    if (flags & OUT_COPY_PHASE)
        system_out_group_set_phase(0, dst, so.phase);
    if (flags & OUT_COPY_DELAY) {
        int unit = my_sys->delay_unit;
        // Rounding through the unit must not push a delay at the limit past it.
        float value = std::min((float)report_format_delay_in_unit(so.delay_m, so.delay_ms), delay_limit(unit));
        system_out_group_set_delay(0, dst, value, 0);
    }
    if (flags & OUT_COPY_HIGHPASS)
        system_out_group_set_hpf(0, dst, so.highpass.freq, so.highpass.kind, so.highpass.bypass);
    if (flags & OUT_COPY_PEQ)
        for (int i = 0; i < SYS_OUT_PEQ_BANDS; i++)
            system_out_group_set_peq(0, dst, i, so.peq[i].freq, so.peq[i].q, so.peq[i].gain, so.peq[i].bypass);
    if (flags & OUT_COPY_SHELF)
        for (int i = 0; i < 2; i++)
            system_out_group_set_shelf(0, dst, i, so.shelf[i].freq, so.shelf[i].gain, so.shelf[i].bypass);

    // As the bus copy: the bypass bit of each copied section comes along.
    int32_t mask = 0;
    if (flags & OUT_COPY_HIGHPASS)
        mask |= EQ_FLAG_HIGHPASS;
    if (flags & OUT_COPY_PEQ)
        mask |= EQ_FLAG_PEQ;
    if (flags & OUT_COPY_SHELF)
        mask |= EQ_FLAG_SHELF;
    int32_t target = my_sys->out[d].eq_flags;
    int32_t merged = (target & ~mask) | (so.eq_flags & mask);
    if (merged != target)
        system_out_group_set_eq_flags(0, dst, merged);

    report_message(conn, "Output copied.", 0);
}
