#include "system_bus.h"

#include <cstring>

#include "log.h"
#include "report.h"
#include "system.h"

namespace {

// Inclusive, and false for NaN.
bool in_range(float v, float lo, float hi)
{
    return v >= lo && v <= hi;
}

// The bus record, or nullptr after the operation's "busid out of range" line.
sys_bus *bus_or_log(int bus, const char *op)
{
    if ((unsigned)bus >= SYS_BUSES) {
        log_error("%s: busid out of range\n", op);
        return nullptr;
    }
    return &my_sys->bus[bus];
}

// Metres of sound travel per millisecond at the current temperature.
double metres_per_ms()
{
    return system_speed_of_sound(my_sys->temperature) * 0.001;
}

// One float field with its range: a setter of its own per field keeps the
// messages and report ids in one table.
struct float_field {
    const char *op;
    const char *message;
    float sys_bus::*field;
    float lo, hi;
    int report_id;
};

constexpr float_field FIELD_GAIN = {"system_bus_set_gain", "gain", &sys_bus::gain, -60.0f, 20.0f, 2};
constexpr float_field FIELD_THRES = {"system_bus_set_comp_thres", "thres", &sys_bus::comp_thres, -60.0f, 0.0f, 4};
constexpr float_field FIELD_KNEE = {"system_bus_set_comp_knee", "knee", &sys_bus::comp_knee, 0.0f, 12.0f, 6};
constexpr float_field FIELD_OVERSHOOT = {"system_bus_set_peak_overshoot", "overshoot", &sys_bus::peak_overshoot,
                                         0.0f, 256.0f, 7};
constexpr float_field FIELD_ATTACK = {"system_bus_set_comp_attack", "attack", &sys_bus::comp_attack, 0.0f, 500.0f,
                                      113};
constexpr float_field FIELD_PEAK_RELEASE = {"system_bus_set_peak_release", "release", &sys_bus::peak_release, 0.0f,
                                            500.0f, 115};

void set_float(const float_field &f, int conn, int bus, float v)
{
    sys_bus *b = bus_or_log(bus, f.op);
    if (b == nullptr)
        return;
    if (!in_range(v, f.lo, f.hi)) {
        log_error("%s: %s out of range\n", f.op, f.message);
        return;
    }
    b->*f.field = v;
    report_bus(f.report_id, conn, bus, 0);
}

// mute, phase: 0 or 1.
void set_flag(const char *op, const char *message, int32_t sys_bus::*field, int report_id, int conn, int bus, int v)
{
    sys_bus *b = bus_or_log(bus, op);
    if (b == nullptr)
        return;
    if (v != 0 && v != 1) {
        log_error("%s: %s out of range\n", op, message);
        return;
    }
    b->*field = v;
    report_bus(report_id, conn, bus, 0);
}

void set_group(const char *op, int32_t sys_bus::*field, int hi, int report_id, int conn, int bus, int group)
{
    sys_bus *b = bus_or_log(bus, op);
    if (b == nullptr)
        return;
    if (group < -1 || group > hi) {
        log_error("%s: group out of range\n", op);
        return;
    }
    b->*field = group;
    report_bus(report_id, conn, bus, 0);
}

}  // namespace

bool system_check_peq(const char *op, int band, int bands, float freq, float q, float gain)
{
    const char *bad = nullptr;
    if ((unsigned)band >= (unsigned)bands)
        bad = "peqid";
    else if (!in_range(freq, 16.0f, 24000.0f))
        bad = "freq";
    else if (!in_range(q, 0.3f, 20.0f))
        bad = "q";
    else if (!in_range(gain, -15.0f, 15.0f))
        bad = "gain";
    if (bad != nullptr)
        log_error("%s: %s out of range\n", op, bad);
    return bad == nullptr;
}

bool system_check_shelf(const char *op, int shelf, float freq, float gain)
{
    const char *bad = nullptr;
    if (shelf != 0 && shelf != 1)
        bad = "shelfid";
    else if (shelf == 0 ? !in_range(freq, 16.0f, 500.0f) : !in_range(freq, 1000.0f, 24000.0f))
        bad = "freq";
    else if (!in_range(gain, -15.0f, 15.0f))
        bad = "gain";
    if (bad != nullptr)
        log_error("%s: %s out of range\n", op, bad);
    return bad == nullptr;
}

const char *system_delay_unit_word(int unit)
{
    switch (unit) {
    case DELAY_UNIT_FEET:
        return "feet";
    case DELAY_UNIT_MS:
        return "ms";
    default:
        return "meter";
    }
}

void system_delay_convert(float value, int unit, float *delay_m, float *delay_ms)
{
    double mpms = metres_per_ms();
    value += 0.0f;  // -0 becomes 0
    switch (unit) {
    case DELAY_UNIT_FEET:
        *delay_m = (float)(value * SYSTEM_METRES_PER_FOOT);
        *delay_ms = (float)(*delay_m / mpms);
        break;
    case DELAY_UNIT_MS:
        *delay_m = (float)(value * mpms);
        *delay_ms = value;
        break;
    default:
        *delay_m = value;
        *delay_ms = (float)(value / mpms);
        break;
    }
}

void system_delay_recompute(float *delay_m, float *delay_ms, float max_ms, bool keep_time)
{
    double mpms = metres_per_ms();
    double ms = keep_time ? *delay_ms : *delay_m / mpms;
    if (!(ms >= 0.0))
        ms = 0.0;
    if (ms > max_ms)
        ms = max_ms;
    *delay_ms = (float)ms;
    *delay_m = (float)(mpms * ms);
}

double system_delay_limit_in_unit(float max_ms, int unit)
{
    double metres = max_ms * metres_per_ms();
    switch (unit) {
    case DELAY_UNIT_FEET:
        return metres * SYSTEM_FEET_PER_METRE;
    case DELAY_UNIT_MS:
        return max_ms;
    default:
        return metres;
    }
}

void system_bus_set_mute(int conn, int bus, int mute)
{
    set_flag("system_bus_set_mute", "mute", &sys_bus::mute, 1, conn, bus, mute);
}

void system_bus_set_gain(int conn, int bus, float gain)
{
    set_float(FIELD_GAIN, conn, bus, gain);
}

void system_bus_set_phase(int conn, int bus, int phase)
{
    set_flag("system_bus_set_phase", "phase", &sys_bus::phase, 3, conn, bus, phase);
}

void system_bus_set_comp_thres(int conn, int bus, float thres)
{
    set_float(FIELD_THRES, conn, bus, thres);
}

void system_bus_set_comp_ratio(int conn, int bus, float ratio)
{
    sys_bus *b = bus_or_log(bus, "system_bus_set_comp_ratio");
    if (b == nullptr)
        return;
    if (!in_range(ratio, 1.0f, 1e8f)) {
        log_error("system_bus_set_comp_ratio: ratio out of range\n");
        return;
    }
    b->comp_ratio = ratio > 20.0f ? 1e8f : ratio;
    report_bus(5, conn, bus, 0);
}

void system_bus_set_comp_knee(int conn, int bus, float knee)
{
    set_float(FIELD_KNEE, conn, bus, knee);
}

void system_bus_set_peak_overshoot(int conn, int bus, float overshoot)
{
    set_float(FIELD_OVERSHOOT, conn, bus, overshoot);
}

void system_bus_set_comp_attack(int conn, int bus, float attack_ms)
{
    set_float(FIELD_ATTACK, conn, bus, attack_ms);
}

void system_bus_set_comp_release(int conn, int bus, float release_ms)
{
    sys_bus *b = bus_or_log(bus, "system_bus_set_comp_release");
    if (b == nullptr)
        return;
    // The one field with a fallback: the compressor needs some release time.
    if (!in_range(release_ms, 50.0f, 5000.0f)) {
        log_error("system_bus_set_comp_release: release out of range\n");
        release_ms = 80.0f;
    }
    b->comp_release = release_ms;
    report_bus(114, conn, bus, 0);
}

void system_bus_set_peak_release(int conn, int bus, float release_ms)
{
    set_float(FIELD_PEAK_RELEASE, conn, bus, release_ms);
}

void system_bus_set_patch(int conn, int bus, int patch)
{
    sys_bus *b = bus_or_log(bus, "system_bus_set_patch");
    if (b == nullptr)
        return;
    b->patch = patch;
    report_bus(8, conn, bus, 0);
}

void system_bus_set_label(int conn, int bus, const char *label)
{
    sys_bus *b = bus_or_log(bus, "system_bus_set_label");
    if (b == nullptr)
        return;
    if (label == nullptr) {
        log_error("system_bus_set_label: label==NULL\n");
        return;
    }
    size_t n = strnlen(label, SYS_LABEL_MAX);
    memcpy(b->label, label, n);
    memset(b->label + n, 0, sizeof b->label - n);
    report_bus(9, conn, bus, REPORT_FLAG_LABEL);
}

void system_bus_set_group_local(int conn, int bus, int group)
{
    set_group("system_bus_set_group_local", &sys_bus::group_local, 3, 10, conn, bus, group);
}

void system_bus_set_group_net(int conn, int bus, int group)
{
    set_group("system_bus_set_group_net", &sys_bus::group_net, 7, 11, conn, bus, group);
}

void system_bus_set_eq_flags(int conn, int bus, int flags)
{
    sys_bus *b = bus_or_log(bus, "system_bus_set_eq_flags");
    if (b == nullptr)
        return;
    b->eq_flags = flags;
    report_bus(14, conn, bus, 0);
}

void system_bus_geq_reset(int conn, int bus)
{
    sys_bus *b = bus_or_log(bus, "system_bus_geq_reset");
    if (b == nullptr)
        return;
    for (float &g : b->geq)
        g = 0.0f;
    report_bus(12, conn, bus, 0);
}

void system_bus_set_geq(int conn, int bus, int band, float gain)
{
    sys_bus *b = bus_or_log(bus, "system_bus_set_geq");
    if (b == nullptr)
        return;
    if ((unsigned)band >= SYS_GEQ_BANDS) {
        log_error("system_bus_set_geq: geqid out of range\n");
        return;
    }
    if (!in_range(gain, -15.0f, 15.0f)) {
        log_error("system_bus_set_geq: gain out of range\n");
        return;
    }
    b->geq[band] = gain;
    report_bus(12, conn, bus, 0);
}

void system_bus_set_peq(int conn, int bus, int band, float freq, float q, float gain, int bypass)
{
    sys_bus *b = bus_or_log(bus, "system_bus_set_peq");
    if (b == nullptr)
        return;
    if (!system_check_peq("system_bus_set_peq", band, SYS_BUS_PEQ_BANDS, freq, q, gain))
        return;
    b->peq[band] = sys_peq{freq, q, gain, bypass != 0};
    report_bus(16, conn, bus, 0);
}

void system_bus_set_shelf(int conn, int bus, int shelf, float freq, float gain, int bypass)
{
    sys_bus *b = bus_or_log(bus, "system_bus_set_shelf");
    if (b == nullptr)
        return;
    if (!system_check_shelf("system_bus_set_shelf", shelf, freq, gain))
        return;
    sys_shelf &s = b->shelf[shelf];
    s.freq = freq;
    s.gain = gain;
    s.bypass = bypass != 0;
    report_bus(17, conn, bus, 0);
}

void system_bus_set_hpf(int conn, int bus, float freq, int kind, int bypass)
{
    sys_bus *b = bus_or_log(bus, "system_bus_set_hpf");
    if (b == nullptr)
        return;
    if (kind < 0 || kind > 4) {
        log_error("system_bus_set_hpf: type out of range\n");
        return;
    }
    if (!in_range(freq, 16.0f, 24000.0f)) {
        log_error("system_bus_set_hpf: freq out of range\n");
        return;
    }
    sys_highpass &h = b->highpass;
    h.freq = freq;
    h.kind = kind;
    h.bypass = bypass != 0;
    report_bus(18, conn, bus, 0);
}

void system_bus_set_delay(int conn, int bus, float value, int metres)
{
    sys_bus *b = bus_or_log(bus, "system_bus_set_delay");
    if (b == nullptr)
        return;
    int unit = metres ? DELAY_UNIT_METRES : my_sys->delay_unit;
    double max = system_delay_limit_in_unit(SYSTEM_BUS_DELAY_MAX_MS, unit);
    if (!(value >= 0.0f && value <= max)) {
        log_error("system_bus_set_delay: delay out of range (%s)\n", system_delay_unit_word(unit));
        return;
    }
    system_delay_convert(value, unit, &b->delay_m, &b->delay_ms);
    report_bus(60, conn, bus, 0);
}

void system_bus_set_geq_ibt(int, int bus, uint32_t, uint32_t)
{
    if (bus_or_log(bus, "system_bus_set_geq_ibt") == nullptr)
        return;
    log_error("system_bus_set_geq_ibt: bits_plus/bits_minus inconsistent\n");
}

void system_bus_recompute_delays(int conn)
{
    for (int i = 0; i < SYS_BUSES; i++) {
        sys_bus &b = my_sys->bus[i];
        system_delay_recompute(&b.delay_m, &b.delay_ms, SYSTEM_BUS_DELAY_MAX_MS, false);
        report_bus(60, conn, i, 0);
    }
}

void system_bus_copy(int conn, int dst, int src, uint32_t flags)
{
    if (dst == src) {
        log_error("system_bus_copy: cannot copy on itself\n");
        return;
    }
    if ((unsigned)dst >= SYS_BUSES) {
        log_error("system_bus_copy: dest_busid out of range\n");
        return;
    }
    if ((unsigned)src >= SYS_BUSES) {
        log_error("system_bus_copy: source_busid out of range\n");
        return;
    }
    // Through the setters, so each copied value is checked and reported.
    const sys_bus &s = my_sys->bus[src];
    if (flags & BUS_COPY_PATCH)
        system_bus_set_patch(0, dst, s.patch);
    if (flags & BUS_COPY_GAIN)
        system_bus_set_gain(0, dst, s.gain);
    if (flags & BUS_COPY_PHASE)
        system_bus_set_phase(0, dst, s.phase);
    if (flags & BUS_COPY_DYNAMICS) {
        system_bus_set_comp_thres(0, dst, s.comp_thres);
        system_bus_set_comp_ratio(0, dst, s.comp_ratio);
        system_bus_set_comp_knee(0, dst, s.comp_knee);
        system_bus_set_peak_overshoot(0, dst, s.peak_overshoot);
        system_bus_set_comp_attack(0, dst, s.comp_attack);
        system_bus_set_comp_release(0, dst, s.comp_release);
        system_bus_set_peak_release(0, dst, s.peak_release);
    }
    if (flags & BUS_COPY_DELAY) {
        float value = (float)report_format_delay_in_unit(s.delay_m, s.delay_ms);
        system_bus_set_delay(0, dst, value, 0);
    }
    if (flags & BUS_COPY_HIGHPASS)
        system_bus_set_hpf(0, dst, s.highpass.freq, s.highpass.kind, s.highpass.bypass);
    if (flags & BUS_COPY_PEQ)
        for (int i = 0; i < SYS_BUS_PEQ_BANDS; i++)
            system_bus_set_peq(0, dst, i, s.peq[i].freq, s.peq[i].q, s.peq[i].gain, s.peq[i].bypass);
    if (flags & BUS_COPY_SHELF)
        for (int i = 0; i < 2; i++)
            system_bus_set_shelf(0, dst, i, s.shelf[i].freq, s.shelf[i].gain, s.shelf[i].bypass);
    if (flags & BUS_COPY_GEQ)
        for (int i = 0; i < SYS_GEQ_BANDS; i++)
            system_bus_set_geq(0, dst, i, s.geq[i]);

    // The bypass bit of each copied section comes along; the others stay.
    int32_t mask = 0;
    if (flags & BUS_COPY_HIGHPASS)
        mask |= EQ_FLAG_HIGHPASS;
    if (flags & BUS_COPY_PEQ)
        mask |= EQ_FLAG_PEQ;
    if (flags & BUS_COPY_SHELF)
        mask |= EQ_FLAG_SHELF;
    if (flags & BUS_COPY_GEQ)
        mask |= EQ_FLAG_GEQ;
    int32_t merged = (my_sys->bus[dst].eq_flags & ~mask) | (s.eq_flags & mask);
    if (merged != my_sys->bus[dst].eq_flags)
        system_bus_set_eq_flags(0, dst, merged);

    report_message(conn, "Input Bus copied.", 0);
}
