#include "dsp/dsp_update.h"

#include <cmath>
#include <cstring>
#include <string>
#include <unistd.h>

#include "common/hw_rev.h"
#include "dsp/curves.h"
#include "dsp/dsp_lowlevel.h"
#include "dsp/rt_thread.h"
#include "log.h"
#include "netlink.h"
#include "platform.h"
#include "report.h"
#include "report_format.h"
#include "report_source.h"
#include "system.h"
#include "system_lsp.h"
#include "system_saver.h"
#include "usb.h"

namespace {

constexpr float RATE = 96000.0f;

// Room a pass must find in the command stream before it starts, so a burst
// of changes spreads over several cycles instead of being cut. Each figure
// is well above the longest text its pass can write.
constexpr size_t BUS_PASS_ROOM = 6144;       // per bus, joining-group block included
constexpr size_t OUT_PASS_ROOM = 4096;       // per output of a group
constexpr size_t GROUP_REFRESH_ROOM = 18432; // group map and eight group blocks
constexpr size_t DEVICE_ROOM = 8192;
constexpr size_t PROJECT_ROOM = 8192;

struct pass {
    report_writer *w;
    int group_net;  // network link group of the bus or group, -1 for none
};

int requester(int id)
{
    return report_pending.requester[id];
}

size_t room(const report_writer *w)
{
    return w->size - 1 - w->len;
}

// Reports that stay on this device: patch, label, curves, applied delays.
bool forwarded(int id)
{
    return id != 8 && id != 9 && id != 13 && id != 48 && id != 50 && id != 61;
}

// Copies the line written since start behind the link prefix and hands it
// to the device link, unless it came from the link itself.
void forward(const pass &p, size_t start, int id, int conn)
{
    if (p.group_net < 0 || p.group_net > 9 || conn == REPORT_CONN_LINK || !forwarded(id))
        return;
    size_t n = p.w->len - start;
    if (n == 0 || n + 5 > LINKGROUP_BUF_SIZE)
        return;
    linkgroup_buf[0] = '|';
    linkgroup_buf[1] = '|';
    linkgroup_buf[2] = (char)('0' + p.group_net);
    linkgroup_buf[3] = '|';
    memcpy(linkgroup_buf + 4, p.w->buf + start, n);
    linkgroup_buf[4 + n] = 0;
    netlink_broadcast(linkgroup_buf, n + 5);
}

// One report line with the requester of its id, forwarded when it should be.
template <typename F>
void line(const pass &p, int id, F &&format)
{
    size_t start = p.w->len;
    int conn = requester(id);
    format(conn);
    forward(p, start, id, conn);
}

float applied_gain(float gain, int muted)
{
    return muted ? DSP_GAIN_SILENT : gain;
}

// ---------------------------------------------------------------- buses

bool peq_differs(const dsp_peq &m, const sys_peq &s)
{
    return m.freq != s.freq || m.q != s.q || m.gain != s.gain || m.bypass != s.bypass;
}

bool shelf_differs(const dsp_shelf &m, const sys_shelf &s)
{
    return m.freq != s.freq || m.gain != s.gain || m.bypass != s.bypass;
}

bool hpf_differs(const dsp_hpf &m, const sys_highpass &s)
{
    return m.freq != s.freq || m.kind != s.kind || m.bypass != s.bypass;
}

void store_peq(dsp_peq *m, const sys_peq &s)
{
    m->freq = s.freq;
    m->q = s.q;
    m->gain = s.gain;
    m->bypass = s.bypass;
}

void store_shelf(dsp_shelf *m, const sys_shelf &s)
{
    m->freq = s.freq;
    m->gain = s.gain;
    m->bypass = s.bypass;
}

void store_hpf(dsp_hpf *m, const sys_highpass &s)
{
    m->freq = s.freq;
    m->kind = s.kind;
    m->bypass = s.bypass;
}

// The parametric bands, shelves and high-pass of a bus or output in curve
// order from sec[n] on, nullptr for what is switched off or bypassed.
// Returns the new count.
template <size_t N>
int curve_filters(const filter_section **sec, int n, int32_t flags, const dsp_peq (&peq)[N],
                  const dsp_shelf (&shelf)[2], const dsp_hpf &hpf)
{
    for (const auto &p : peq)
        sec[n++] = !(flags & EQ_FLAG_PEQ) && !p.bypass ? &p.sec : nullptr;
    for (const auto &s : shelf)
        sec[n++] = !(flags & EQ_FLAG_SHELF) && !s.bypass ? &s.sec : nullptr;
    for (const auto &s : hpf.sec)
        sec[n++] = !(flags & EQ_FLAG_HIGHPASS) && !hpf.bypass ? &s : nullptr;
    return n;
}

static_assert(CURVE_BUS_SECTIONS == SYS_GEQ_BANDS + SYS_BUS_PEQ_BANDS + 4);
static_assert(CURVE_OUT_SECTIONS == SYS_OUT_PEQ_BANDS + 4);

void bus_curve(dsp_bus *m)
{
    const filter_section *sec[CURVE_BUS_SECTIONS];
    int n = 0;
    for (const auto &s : m->geq)
        sec[n++] = !(m->eq_flags & EQ_FLAG_GEQ) ? &s : nullptr;
    n = curve_filters(sec, n, m->eq_flags, m->peq, m->shelf, m->hpf);
    curve_cache_update(&m->curve_rows, sec, n, m->curve);
}

void bus_write_gain(int b)
{
    dsp_dyn_gain(dsp_dyn_bus(b), RATE, &my_device->bus[b].dyn);
}

float bus_delay_applied(const dsp_bus &m)
{
    return my_device->delay_unit == DELAY_UNIT_MS ? m.delay_ms : m.delay_m * dsp_ms_per_metre;
}

void bus_copy(int target, int source, report_writer *w);

// Returns another bus of local group g, or -1.
int bus_in_group(int b, int g)
{
    for (int i = 0; i < SYS_BUSES; i++)
        if (i != b && my_sys->bus[i].group_local == g)
            return i;
    return -1;
}

// Compares bus b with its mirror, uploads and reports what differs.
void bus_pass(int b, int redesign, report_writer *w)
{
    const sys_bus &s = my_sys->bus[b];
    dsp_bus &m = my_device->bus[b];
    pass p{w, s.group_net};
    uint32_t blk = dsp_dyn_bus(b);
    bool eq_changed = false;

    if (m.dyn.polarity != s.phase) {
        m.dyn.polarity = s.phase;
        bus_write_gain(b);
        line(p, 3, [&](int c) { report_format_bus_phase(w, c, b); });
    }
    bool thresholds = false;
    if (m.dyn.thres != s.comp_thres) {
        m.dyn.thres = s.comp_thres;
        m.dyn.peak_thres = m.dyn.thres + m.peak_overshoot;
        thresholds = true;
        line(p, 4, [&](int c) { report_format_bus_comp_thres(w, c, b); });
    }
    if (m.dyn.ratio != s.comp_ratio) {
        m.dyn.ratio = s.comp_ratio;
        thresholds = true;
        line(p, 5, [&](int c) { report_format_bus_comp_ratio(w, c, b); });
    }
    if (m.dyn.knee != s.comp_knee) {
        m.dyn.knee = s.comp_knee;
        thresholds = true;
        line(p, 6, [&](int c) { report_format_bus_comp_knee(w, c, b); });
    }
    if (m.peak_overshoot != s.peak_overshoot) {
        m.peak_overshoot = s.peak_overshoot;
        m.dyn.peak_thres = m.dyn.thres + m.peak_overshoot;
        thresholds = true;
        line(p, 7, [&](int c) { report_format_bus_peak_overshoot(w, c, b); });
    }
    if (thresholds)
        dsp_dyn_thresholds(blk, RATE, &m.dyn);
    bool times = false;
    if (m.dyn.attack != s.comp_attack) {
        m.dyn.attack = s.comp_attack;
        times = true;
        line(p, 113, [&](int c) { report_format_bus_comp_attack(w, c, b); });
    }
    if (m.dyn.release != s.comp_release) {
        m.dyn.release = s.comp_release;
        times = true;
        line(p, 114, [&](int c) { report_format_bus_comp_release(w, c, b); });
    }
    if (m.dyn.peak_release != s.peak_release) {
        m.dyn.peak_release = s.peak_release;
        times = true;
        line(p, 115, [&](int c) { report_format_bus_peak_release(w, c, b); });
    }
    if (times)
        dsp_dyn_times(blk, RATE, &m.dyn);

    uint16_t patch;
    memcpy(&patch, my_device->patch_msg + 2 + 2 * b, 2);
    if (patch != (uint16_t)s.patch) {
        dsp_write_patch(b, s.patch);
        line(p, 8, [&](int c) { report_format_bus_patch(w, c, b); });
    }
    if (report_pending.bus_label[b]) {
        report_pending.bus_label[b] = 0;
        line(p, 9, [&](int c) { report_format_bus_label(w, c, b); });
    }

    // The record has no graphic masks of its own: the wanted masks are 0.
    const uint32_t want_mask[2] = {0, 0};
    for (int band = 0; band < SYS_GEQ_BANDS; band++) {
        bool mask_differs = ((m.geq_mask[0] ^ want_mask[0]) >> band) & 1;
        if (m.geq_gain[band] == s.geq[band] && !mask_differs)
            continue;
        if (m.geq_mask[0] != want_mask[0] || m.geq_mask[1] != want_mask[1]) {
            m.geq_mask[0] = want_mask[0];
            m.geq_mask[1] = want_mask[1];
            line(p, 124, [&](int c) { report_format_bus_geq_masks(w, c, b, want_mask[0], want_mask[1]); });
        }
        m.geq_gain[band] = s.geq[band];
        update_device_bus_geq(b, redesign, band);
        eq_changed = true;
        line(p, 12, [&](int c) { report_format_bus_geq(w, c, b, band); });
    }
    for (int band = 0; band < SYS_BUS_PEQ_BANDS; band++) {
        if (!peq_differs(m.peq[band], s.peq[band]))
            continue;
        store_peq(&m.peq[band], s.peq[band]);
        update_device_bus_peq(b, redesign, band);
        eq_changed = true;
        line(p, 16, [&](int c) { report_format_bus_peq(w, c, b, band); });
    }
    for (int i = 0; i < 2; i++) {
        if (!shelf_differs(m.shelf[i], s.shelf[i]))
            continue;
        store_shelf(&m.shelf[i], s.shelf[i]);
        update_device_bus_shelfeq(b, redesign, i);
        eq_changed = true;
        line(p, 17, [&](int c) { report_format_bus_shelf(w, c, b, i); });
    }
    if (hpf_differs(m.hpf, s.highpass)) {
        store_hpf(&m.hpf, s.highpass);
        update_device_bus_hpf(b, redesign);
        eq_changed = true;
        line(p, 18, [&](int c) { report_format_bus_hpf(w, c, b); });
    }
    if (m.eq_flags != s.eq_flags) {
        int32_t changed = m.eq_flags ^ s.eq_flags;
        m.eq_flags = s.eq_flags;
        if (changed & EQ_FLAG_GEQ)
            for (int band = 0; band < SYS_GEQ_BANDS; band++)
                update_device_bus_geq(b, 0, band);
        if (changed & EQ_FLAG_PEQ)
            for (int band = 0; band < SYS_BUS_PEQ_BANDS; band++)
                update_device_bus_peq(b, 0, band);
        if (changed & EQ_FLAG_SHELF)
            for (int i = 0; i < 2; i++)
                update_device_bus_shelfeq(b, 0, i);
        if (changed & EQ_FLAG_HIGHPASS)
            update_device_bus_hpf(b, 0);
        eq_changed = true;
        line(p, 14, [&](int c) { report_format_bus_eq_flags(w, c, b); });
    }
    if (eq_changed) {
        if (redesign)
            bus_curve(&m);
        line(p, 13, [&](int) { report_format_bus_curve(w, 0, b, m.curve); });
    }

    if (m.gain != s.gain) {
        m.gain = s.gain;
        m.dyn.gain = applied_gain(m.gain, m.mute);
        bus_write_gain(b);
        line(p, 2, [&](int c) { report_format_bus_gain(w, c, b); });
    }
    if (m.mute != s.mute) {
        m.mute = s.mute;
        m.dyn.gain = applied_gain(m.gain, m.mute);
        bus_write_gain(b);
        line(p, 1, [&](int c) { report_format_bus_mute(w, c, b); });
    }
    if (m.delay_m != s.delay_m || m.delay_ms != s.delay_ms) {
        m.delay_m = s.delay_m;
        m.delay_ms = s.delay_ms;
        line(p, 60, [&](int c) { report_format_bus_delay(w, c, b); });
        line(p, 61, [&](int) { report_format_bus_delay_applied(w, b, bus_delay_applied(m)); });
    }
    if (m.group_net != s.group_net) {
        m.group_net = s.group_net;
        line(p, 11, [&](int c) { report_format_bus_group_net(w, c, b); });
    }
    if (m.group_local != s.group_local) {
        m.group_local = s.group_local;
        line(p, 10, [&](int c) { report_format_bus_group_local(w, c, b); });
        // Joining a group from a client takes over the group's settings.
        int other = s.group_local >= 0 && requester(10) > 0 ? bus_in_group(b, s.group_local) : -1;
        if (other >= 0) {
            bus_copy(b, other, w);
            report_format_bus_block(w, 0, b);
            report_format_bus_eq_block(w, 0, b);
        }
    }
}

// Copies the sound of a bus (dynamics, delay, EQ) into another, in the wanted
// state and in the designed sections, then lets the target's pass upload and
// report the differences without designing again.
void bus_copy(int target, int source, report_writer *w)
{
    sys_bus &t = my_sys->bus[target];
    const sys_bus &s = my_sys->bus[source];
    t.gain = s.gain;
    t.phase = s.phase;
    t.delay_m = s.delay_m;
    t.delay_ms = s.delay_ms;
    t.comp_thres = s.comp_thres;
    t.comp_ratio = s.comp_ratio;
    t.comp_knee = s.comp_knee;
    t.peak_overshoot = s.peak_overshoot;
    t.comp_attack = s.comp_attack;
    t.comp_release = s.comp_release;
    t.peak_release = s.peak_release;
    t.eq_flags = s.eq_flags;
    memcpy(t.geq, s.geq, sizeof t.geq);
    memcpy(t.peq, s.peq, sizeof t.peq);
    memcpy(t.shelf, s.shelf, sizeof t.shelf);
    t.highpass = s.highpass;

    dsp_bus &mt = my_device->bus[target];
    const dsp_bus &ms = my_device->bus[source];
    memcpy(mt.geq, ms.geq, sizeof mt.geq);
    for (int i = 0; i < SYS_BUS_PEQ_BANDS; i++)
        mt.peq[i].sec = ms.peq[i].sec;
    for (int i = 0; i < 2; i++)
        mt.shelf[i].sec = ms.shelf[i].sec;
    memcpy(mt.hpf.sec, ms.hpf.sec, sizeof mt.hpf.sec);
    memcpy(mt.curve, ms.curve, sizeof mt.curve);
    bus_pass(target, 0, w);
}

// ---------------------------------------------------------------- outputs

int group_outputs(int g, int outs[SYS_OUTPUTS])
{
    int n = 0;
    for (int o = 0; o < SYS_OUTPUTS; o++)
        if (my_sys->out[o].group_lsp == g)
            outs[n++] = o;
    return n;
}

void out_curve(dsp_out *m)
{
    const filter_section *sec[CURVE_OUT_SECTIONS];
    int n = curve_filters(sec, 0, m->eq_flags, m->peq, m->shelf, m->hpf);
    curve_cache_update(&m->curve_rows, sec, n, m->curve);
}

// The output's gain and polarity as the FPGA applies them: group values plus
// the preset way's, silence while muted.
void out_write_gain(int o)
{
    const sys_output &s = my_sys->out[o];
    dsp_out &m = my_device->out[o];
    m.dyn.gain = applied_gain(m.group_gain + s.way.gain, m.mute);
    m.dyn.polarity = (m.group_phase ? 1 : 0) ^ (s.way.polarity ? 1 : 0);
    if (!my_device->alarm_active)
        dsp_dyn_gain(dsp_dyn_out(o), RATE, &m.dyn);
}

float out_delay_applied(int o)
{
    return (float)dsp_out_delay_samples(o) / 96.0f;
}

}  // namespace

void dsp_output_limiter(int o)
{
    const sys_output &s = my_sys->out[o];
    dsp_out &m = my_device->out[o];
    float vp = (float)my_device->amp_peak[o];
    float ga = (float)my_device->amp_gain[o];
    float v1 = s.way.rms_limit, v2 = s.way.peak_limit;
    float va = (v1 == 0.0f || vp <= v1) ? vp : v1;
    float vb = (v2 != 0.0f && vp > v2) ? v2 : vp;
    const float ref = 1.2903225806451613f;  // 1 / 0.775 V
    m.dyn.thres = (float)(20.0 * fast_log10(va * ref) - hw::limiter_reference_db - ga);
    m.dyn.peak_thres = (float)(20.0 * fast_log10(vb * ref) - hw::limiter_reference_db - ga);
    m.dyn.ratio = DSP_RATIO_INFINITE;
    m.dyn.rms = s.way.rms_time;
    m.dyn.attack = s.way.attack;
    m.dyn.release = s.way.release;
    m.dyn.peak_release = s.way.peak_release;
    dsp_dyn_thresholds(dsp_dyn_out(o), RATE, &m.dyn);
    dsp_dyn_times(dsp_dyn_out(o), RATE, &m.dyn);
}

namespace {

// Compares the group of output o with the mirror and updates all its
// outputs; refresh treats every item as changed.
void out_pass(int o, int redesign, bool refresh, report_writer *w)
{
    int outs[SYS_OUTPUTS];
    int g = my_sys->out[o].group_lsp;
    int n = group_outputs(g, outs);
    if (n == 0)
        return;
    int f = outs[0];  // the group's first output holds the group values
    const sys_output &s = my_sys->out[f];
    dsp_out &m = my_device->out[f];
    pass p{w, s.group_net};
    bool eq_changed = false;
    auto each = [&](auto &&fn) {
        for (int i = 0; i < n; i++)
            fn(outs[i], my_device->out[outs[i]]);
    };

    if (refresh || m.group_phase != s.phase) {
        each([&](int x, dsp_out &mx) {
            mx.group_phase = s.phase;
            out_write_gain(x);
        });
        line(p, 39, [&](int c) { report_format_out_phase(w, c, f); });
    }
    bool label = false;
    for (int i = 0; i < n; i++)
        if (report_pending.out_flags[outs[i]] & REPORT_FLAG_LABEL)
            label = true;
    if (refresh || label)
        line(p, 35, [&](int c) { report_format_out_label(w, c, f); });

    bool way_delay = false;
    each([&](int x, dsp_out &mx) { way_delay |= mx.way_delay != my_sys->out[x].way.delay; });
    if (refresh || way_delay || m.delay_m != s.delay_m || m.delay_ms != s.delay_ms) {
        each([&](int x, dsp_out &mx) {
            mx.delay_m = s.delay_m;
            mx.delay_ms = s.delay_ms;
            mx.way_delay = my_sys->out[x].way.delay;
        });
        dsp_write_out_delays();
        line(p, 43, [&](int c) { report_format_out_delay(w, c, f); });
        line(p, 50, [&](int) { report_format_out_delay_applied(w, f, out_delay_applied(f)); });
    }

    bool preset = refresh;
    each([&](int x, dsp_out &mx) { preset |= mx.id_lsp != my_sys->out[x].id_lsp; });
    if (preset) {
        each([&](int x, dsp_out &mx) {
            mx.id_lsp = my_sys->out[x].id_lsp;
            update_device_out_preset(x, &my_sys->out[x].way);
            dsp_output_limiter(x);
        });
    }

    for (int band = 0; band < SYS_OUT_PEQ_BANDS; band++) {
        if (!refresh && !peq_differs(m.peq[band], s.peq[band]))
            continue;
        each([&](int x, dsp_out &mx) {
            store_peq(&mx.peq[band], s.peq[band]);
            if (x != f && !redesign)
                mx.peq[band].sec = m.peq[band].sec;
            update_device_out_peq(x, redesign, band);
        });
        eq_changed = true;
        line(p, 45, [&](int c) { report_format_out_peq(w, c, f, band); });
    }
    for (int i = 0; i < 2; i++) {
        if (!refresh && !shelf_differs(m.shelf[i], s.shelf[i]))
            continue;
        each([&](int x, dsp_out &mx) {
            store_shelf(&mx.shelf[i], s.shelf[i]);
            if (x != f && !redesign)
                mx.shelf[i].sec = m.shelf[i].sec;
            update_device_out_shelfeq(x, redesign, i);
        });
        eq_changed = true;
        line(p, 46, [&](int c) { report_format_out_shelf(w, c, f, i); });
    }
    if (refresh || hpf_differs(m.hpf, s.highpass)) {
        each([&](int x, dsp_out &mx) {
            store_hpf(&mx.hpf, s.highpass);
            if (x != f && !redesign)
                memcpy(mx.hpf.sec, m.hpf.sec, sizeof mx.hpf.sec);
            update_device_out_hpf(x, redesign);
        });
        eq_changed = true;
        line(p, 47, [&](int c) { report_format_out_hpf(w, c, f); });
    }
    if (refresh || m.eq_flags != s.eq_flags) {
        int32_t changed = refresh ? ~0 : (m.eq_flags ^ s.eq_flags);
        each([&](int x, dsp_out &mx) {
            mx.eq_flags = s.eq_flags;
            if (changed & EQ_FLAG_PEQ)
                for (int band = 0; band < SYS_OUT_PEQ_BANDS; band++)
                    update_device_out_peq(x, 0, band);
            if (changed & EQ_FLAG_SHELF)
                for (int i = 0; i < 2; i++)
                    update_device_out_shelfeq(x, 0, i);
            if (changed & EQ_FLAG_HIGHPASS)
                update_device_out_hpf(x, 0);
        });
        eq_changed = true;
        line(p, 49, [&](int c) { report_format_out_eq_flags(w, c, f); });
    }
    if (refresh || m.bus_input != s.bus_input) {
        each([&](int x, dsp_out &mx) {
            mx.bus_input = s.bus_input;
            dsp_write_source_bus(x, s.bus_input);
        });
        line(p, 42, [&](int c) { report_format_out_input(w, c, f); });
    }
    if (eq_changed) {
        if (redesign)
            out_curve(&m);
        each([&](int, dsp_out &mx) { memcpy(mx.curve, m.curve, sizeof mx.curve); });
        line(p, 48, [&](int) { report_format_out_curve(w, 0, f, m.curve); });
    }
    if (refresh || m.group_local != s.group_local) {
        each([&](int, dsp_out &mx) { mx.group_local = s.group_local; });
        line(p, 40, [&](int c) { report_format_out_group_local(w, c, f); });
    }
    if (refresh || preset || m.group_gain != s.gain) {
        bool gain_changed = refresh || m.group_gain != s.gain;
        each([&](int x, dsp_out &mx) {
            mx.group_gain = s.gain;
            out_write_gain(x);
        });
        if (gain_changed)
            line(p, 38, [&](int c) { report_format_out_gain(w, c, f); });
    }
    each([&](int x, dsp_out &mx) {
        if (!refresh && mx.mute == my_sys->out[x].mute)
            return;
        mx.mute = my_sys->out[x].mute;
        out_write_gain(x);
        line(p, 44, [&](int c) { report_format_out_mute(w, c, x); });
    });
    if (refresh || m.group_net != s.group_net) {
        each([&](int, dsp_out &mx) { mx.group_net = s.group_net; });
        line(p, 41, [&](int c) { report_format_out_group_net(w, c, f); });
    }
}

// Copies the group values and EQ of one output's group into another's.
void out_copy(int target, int source, report_writer *w)
{
    sys_output &t = my_sys->out[target];
    const sys_output &s = my_sys->out[source];
    t.gain = s.gain;
    t.phase = s.phase;
    t.delay_m = s.delay_m;
    t.delay_ms = s.delay_ms;
    t.eq_flags = s.eq_flags;
    memcpy(t.peq, s.peq, sizeof t.peq);
    memcpy(t.shelf, s.shelf, sizeof t.shelf);
    t.highpass = s.highpass;
    // Keep the target's group consistent: every output carries the group values.
    for (int o = 0; o < SYS_OUTPUTS; o++)
        if (o != target && my_sys->out[o].group_lsp == t.group_lsp)
            memcpy(&my_sys->out[o], &t, offsetof(sys_output, reserved1));

    dsp_out &mt = my_device->out[target];
    const dsp_out &ms = my_device->out[source];
    for (int i = 0; i < SYS_OUT_PEQ_BANDS; i++)
        mt.peq[i].sec = ms.peq[i].sec;
    for (int i = 0; i < 2; i++)
        mt.shelf[i].sec = ms.shelf[i].sec;
    memcpy(mt.hpf.sec, ms.hpf.sec, sizeof mt.hpf.sec);
    memcpy(mt.curve, ms.curve, sizeof mt.curve);
    out_pass(target, 0, false, w);
}

// ---------------------------------------------------------------- steps

void rebuild_group_table()
{
    for (auto &row : my_device->group_table)
        for (auto &e : row)
            e = -1;
    for (int o = 0; o < SYS_OUTPUTS; o++) {
        int g = my_sys->out[o].group_lsp;
        my_device->out[o].group = g;
        if ((unsigned)g >= SYS_OUTPUTS)
            continue;
        for (auto &e : my_device->group_table[g])
            if (e < 0) {
                e = (int8_t)o;
                break;
            }
    }
}

bool full_refresh(report_writer *w)
{
    if (!report_pending.group_map)
        return true;
    if (room(w) < GROUP_REFRESH_ROOM)
        return false;
    rebuild_group_table();
    report_format_group_map(w, 0);
    for (int g = 0; g < SYS_OUTPUTS; g++)
        report_format_out_group_block(w, 0, g);
    report_pending.group_map = 0;
    return true;
}

void alarm_expiry(report_writer *w)
{
    if (!my_device->alarm_active || (int32_t)(rt_cycle_counter - my_device->alarm_end) <= 0)
        return;
    my_device->alarm_active = 0;
    for (int o = 0; o < SYS_OUTPUTS; o++) {
        report_pending.out[o] = 1;
        report_pending.out_flags[o] |= REPORT_FLAG_REFRESH;
    }
    report_format_alarm(w, false);
}

// Bus passes, then link-group copies; a bus that finds no room stays pending.
bool buses(report_writer *w)
{
    bool any = false;
    bool done[SYS_BUSES] = {};
    for (int b = 0; b < SYS_BUSES; b++) {
        if (!report_pending.bus[b])
            continue;
        int g = my_sys->bus[b].group_local;
        size_t need = BUS_PASS_ROOM;
        for (int i = 0; i < SYS_BUSES; i++)
            if (g >= 0 && i != b && my_sys->bus[i].group_local == g)
                need += BUS_PASS_ROOM;
        if (room(w) < need)
            continue;
        bus_pass(b, 1, w);
        done[b] = true;
    }
    for (int b = 0; b < SYS_BUSES; b++) {
        if (!done[b])
            continue;
        int g = my_sys->bus[b].group_local;
        if (g >= 0)
            for (int i = 0; i < SYS_BUSES; i++)
                if (i != b && my_sys->bus[i].group_local == g)
                    bus_copy(i, b, w);
        report_pending.bus[b] = 0;
        any = true;
    }
    return any;
}

bool outputs(report_writer *w)
{
    bool any = false;
    bool done[SYS_OUTPUTS] = {};
    bool group_done[SYS_OUTPUTS] = {};
    for (int o = 0; o < SYS_OUTPUTS; o++) {
        if (!report_pending.out[o])
            continue;
        int g = my_sys->out[o].group_lsp;
        int l = my_sys->out[o].group_local;
        size_t need = OUT_PASS_ROOM;
        for (int i = 0; i < SYS_OUTPUTS; i++)
            if (i != o && (my_sys->out[i].group_lsp == g || (l >= 0 && my_sys->out[i].group_local == l)))
                need += OUT_PASS_ROOM;
        if (room(w) < need)
            continue;
        // One pass covers the whole group; its other pending outputs ride along.
        if ((unsigned)g >= SYS_OUTPUTS || !group_done[g]) {
            bool refresh = false;
            for (int i = 0; i < SYS_OUTPUTS; i++)
                if (my_sys->out[i].group_lsp == g && report_pending.out[i] &&
                    (report_pending.out_flags[i] & REPORT_FLAG_REFRESH))
                    refresh = true;
            out_pass(o, 1, refresh, w);
            if ((unsigned)g < SYS_OUTPUTS)
                group_done[g] = true;
        }
        done[o] = true;
    }
    for (int o = 0; o < SYS_OUTPUTS; o++) {
        if (!done[o])
            continue;
        int l = my_sys->out[o].group_local;
        int g = my_sys->out[o].group_lsp;
        if (l >= 0)
            for (int i = 0; i < SYS_OUTPUTS; i++)
                if (my_sys->out[i].group_lsp != g && my_sys->out[i].group_local == l)
                    out_copy(i, o, w);
        report_pending.out[o] = 0;
        report_pending.out_flags[o] = 0;
        any = true;
    }
    return any;
}

void system_information(report_writer *w)
{
    if (report_pending.device[21]) {
        // The network manager works from what is reported.
        netlink_settings_refresh();
        report_format_network(w, requester(21), report_source_iface_address(), report_source_ap_running());
        report_pending.device[21] = 0;
    }
    if (report_pending.device[112]) {
        report_format_wlan_passphrase(w, requester(112), report_source_wlan_passphrase());
        report_pending.device[112] = 0;
    }
}

// Mounts the stick and lets the system script prepare the update; 0 on failure.
int firmware_update(int key)
{
    // Through the saver, so an older generation it still holds cannot land
    // on top of this one.
    system_saver_wait(system_saver_request(), -1);
    usb_sync();
    if (!usb_mount())
        return 0;
    int status = platform_exec({platform_path("/bin/copy_firmware.sh")});
    usb_umount();
    if (status != 0)
        return 0;
    my_device->audio_enabled = 0;
    dsp_write_control();
    return key;
}

void delay_settings(report_writer *w)
{
    my_device->delay_unit = my_sys->delay_unit;
    my_device->temperature = my_sys->temperature;
    float celsius = my_sys->temperature - 273.15f;
    dsp_ms_per_metre = (float)(1.0 / ((331.5 + 0.596 * celsius) * 0.001));
    dsp_write_out_delays();
    report_format_delay_settings(w, requester(23));
    int prev = -1;
    for (int o = 0; o < SYS_OUTPUTS; o++) {
        int g = my_sys->out[o].group_lsp;
        if (g != prev) {
            report_format_out_delay(w, 0, o);
            report_format_out_delay_applied(w, o, out_delay_applied(o));
        }
        prev = g;
    }
    for (int b = 0; b < SYS_BUSES; b++) {
        report_format_bus_delay(w, 0, b);
        report_format_bus_delay_applied(w, b, bus_delay_applied(my_device->bus[b]));
    }
}

bool device_pending()
{
    for (int id = 0; id < REPORT_IDS; id++)
        if (id != 21 && id != 112 && report_pending.device[id])
            return true;
    return my_device->alarm_announce != 0;
}

// Device settings, each compared with its mirror; a query mark reports
// the value even when it did not change.
void device_settings(report_writer *w)
{
    // A mark alone reports nothing new; a query mark reports the value as it is.
    auto mark = [](int id) {
        bool query = report_pending.device[id] && report_pending.device_value[id][1] == REPORT_VALUE_QUERY;
        report_pending.device[id] = 0;
        return query;
    };
    // The alarm's mark only wakes this step; the announce flag says what to do.
    report_pending.device[123] = 0;
    if (my_device->alarm_announce) {
        my_device->alarm_announce = 0;
        report_format_alarm(w, true);
        for (int o = 0; o < SYS_OUTPUTS; o++)
            report_line(w, 44, 0, o, 1);
    }
    bool asked = mark(63);
    if (my_device->digital_mode != my_sys->digital_mode) {
        my_device->digital_mode = my_sys->digital_mode;
        dsp_write_control();
        asked = true;
    }
    if (asked)
        report_format_digital_mode(w, requester(63));
    asked = mark(62);
    if (my_device->system_flags != my_sys->system_flags) {
        my_device->system_flags = my_sys->system_flags;
        asked = true;
    }
    if (asked)
        report_format_system_flags(w, requester(62));
    asked = mark(20);
    if (my_device->service_mode != my_sys->service_mode) {
        my_device->service_mode = my_sys->service_mode;
        dsp_write_control();
        asked = true;
    }
    if (asked)
        report_format_service_mode(w, requester(20));
    asked = mark(27);
    if (my_device->key_lock != my_sys->key_lock) {
        my_device->key_lock = my_sys->key_lock;
        asked = true;
    }
    if (asked)
        report_format_key_lock(w, requester(27));
    asked = mark(23);
    if (asked || my_device->delay_unit != my_sys->delay_unit || my_device->temperature != my_sys->temperature)
        delay_settings(w);
    mark(24);
    for (int o = 0; o < SYS_OUTPUTS; o++) {
        if (my_device->amp_gain[o] == my_sys->amp[o].gain && my_device->amp_peak[o] == my_sys->amp[o].peak_voltage)
            continue;
        my_device->amp_gain[o] = my_sys->amp[o].gain;
        my_device->amp_peak[o] = my_sys->amp[o].peak_voltage;
        dsp_output_limiter(o);
        report_format_amplifier(w, requester(24), o);
    }
    asked = mark(22);
    if (strcmp(my_device->device_name, my_sys->device_name) != 0) {
        memcpy(my_device->device_name, my_sys->device_name, sizeof my_device->device_name);
        asked = true;
    }
    if (asked)
        report_format_device_name(w, requester(22));
    if (report_pending.device[26]) {
        int key = report_pending.device_value[26][0];
        report_pending.device[26] = 0;
        report_format_firmware(w, requester(26), firmware_update(key));
    }
    // Marks no step here handles (the database's) stay for their owners.
}

// The library's results and listings, written when their commands ran (so
// this thread never waits on the database), in command order; what does not
// fit waits for the next cycle.
void library(report_writer *w)
{
    if (system_lsp_reports_pending())
        system_lsp_reports_take(w);
}

// The project line when the project, its lock values or the modified flag
// differ from what was last reported (or a project command asks for it
// anyway), the description and the list-changed notice when asked for.
// The stored lock is the one the project operations keep: this thread
// never waits on the database.
bool project_information(report_writer *w)
{
    bool forced = report_pending.device[100];
    if (!report_pending.project && !forced && !report_pending.device[119] && !report_pending.device[105])
        return true;
    if (room(w) < PROJECT_ROOM)
        return false;
    int stored = report_project_stored_lock();
    if (forced || my_device->project_id != my_sys->project_id || my_device->project_lock != my_sys->project_lock ||
        my_device->project_modified != my_sys->modified || my_device->project_stored_lock != stored) {
        my_device->project_id = my_sys->project_id;
        my_device->project_lock = my_sys->project_lock;
        my_device->project_modified = my_sys->modified;
        my_device->project_stored_lock = stored;
        report_format_project(w, requester(100), stored);
    }
    if (report_pending.device[119])
        report_format_project_desc(w, requester(119), my_sys->project_id, my_sys->project_description);
    if (report_pending.device[105])
        report_format_project_list_changed(w);
    report_pending.project = 0;
    report_pending.device[100] = report_pending.device[119] = report_pending.device[105] = 0;
    return true;
}

}  // namespace

int dsp_update_pending(char *stream, size_t cap, size_t *len)
{
    report_writer w;
    report_writer_init(&w, stream, cap);
    int changed = 0;
    full_refresh(&w);
    alarm_expiry(&w);
    if (buses(&w))
        changed = 1;
    if (outputs(&w))
        changed = 1;
    if (room(&w) >= DEVICE_ROOM) {
        system_information(&w);
        if (device_pending()) {
            device_settings(&w);
            changed = 1;
        }
        library(&w);
    }
    project_information(&w);
    *len = w.len;
    return changed;
}

float dsp_bus_delay_applied(int b)
{
    return bus_delay_applied(my_device->bus[b]);
}

float dsp_out_delay_applied(int o)
{
    return out_delay_applied(o);
}
