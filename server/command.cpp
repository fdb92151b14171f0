#include "command.h"

#include <cmath>
#include <cstdio>

#include "log.h"
#include "system_bus.h"

namespace {

// One text buffer for every entry, one byte larger than the widest text
// argument ("%4097s"). Commands run one at a time under the command lock.
constexpr size_t COMMAND_TEXT_SIZE = 4097 + 1;
char command_text[COMMAND_TEXT_SIZE];

// Every argument starts out invalid, so a missing one is refused by the
// operation's own range check: indexes -1, reals NaN.
constexpr int ARG_NONE = -1;

// Arguments that no range check could refuse (masks, flags, bypass) must be
// present: a cut line must not store -1 as a bit mask.
bool complete(int converted, int wanted, const char *line)
{
    if (converted >= wanted)
        return true;
    log_error("command_work: missing argument ('%s')\n", line);
    return false;
}

// "%d,%d": bus, integer value with a range check of its own.
template <void (*op)(int, int, int)>
void entry_bus_int(int conn, const char *line)
{
    int bus = ARG_NONE, v = ARG_NONE;
    sscanf(line, "%*d,%*d,%d,%d", &bus, &v);
    op(conn, bus, v);
}

// "%d,%d": bus, integer value that any number is valid for.
template <void (*op)(int, int, int)>
void entry_bus_word(int conn, const char *line)
{
    int bus = ARG_NONE, v = ARG_NONE;
    if (complete(sscanf(line, "%*d,%*d,%d,%d", &bus, &v), 2, line))
        op(conn, bus, v);
}

// "%d,%f": bus, real value.
template <void (*op)(int, int, float)>
void entry_bus_float(int conn, const char *line)
{
    int bus = ARG_NONE;
    float v = NAN;
    sscanf(line, "%*d,%*d,%d,%f", &bus, &v);
    op(conn, bus, v);
}

void entry_bus_label(int conn, const char *line)
{
    int bus = ARG_NONE;
    command_text[0] = 0;
    sscanf(line, "%*d,%*d,%d,%201s", &bus, command_text);
    system_bus_set_label(conn, bus, command_text);
}

void entry_bus_geq(int conn, const char *line)
{
    int bus = ARG_NONE, band = ARG_NONE;
    float gain = NAN;
    sscanf(line, "%*d,%*d,%d,%d,%f", &bus, &band, &gain);
    system_bus_set_geq(conn, bus, band, gain);
}

void entry_bus_geq_reset(int conn, const char *line)
{
    int bus = ARG_NONE;
    sscanf(line, "%*d,%*d,%d", &bus);
    system_bus_geq_reset(conn, bus);
}

void entry_bus_peq(int conn, const char *line)
{
    int bus = ARG_NONE, band = ARG_NONE, bypass = ARG_NONE;
    float freq = NAN, q = NAN, gain = NAN;
    int n = sscanf(line, "%*d,%*d,%d,%d,%f,%f,%f,%d", &bus, &band, &freq, &q, &gain, &bypass);
    if (complete(n, 6, line))
        system_bus_set_peq(conn, bus, band, freq, q, gain, bypass);
}

void entry_bus_shelf(int conn, const char *line)
{
    int bus = ARG_NONE, shelf = ARG_NONE, bypass = ARG_NONE;
    float freq = NAN, gain = NAN;
    int n = sscanf(line, "%*d,%*d,%d,%d,%f,%f,%d", &bus, &shelf, &freq, &gain, &bypass);
    if (complete(n, 5, line))
        system_bus_set_shelf(conn, bus, shelf, freq, gain, bypass);
}

void entry_bus_hpf(int conn, const char *line)
{
    int bus = ARG_NONE, kind = ARG_NONE, bypass = ARG_NONE;
    float freq = NAN;
    int n = sscanf(line, "%*d,%*d,%d,%f,%d,%d", &bus, &freq, &kind, &bypass);
    if (complete(n, 4, line))
        system_bus_set_hpf(conn, bus, freq, kind, bypass);
}

void entry_bus_delay(int conn, const char *line)
{
    int bus = ARG_NONE;
    float value = NAN;
    sscanf(line, "%*d,%*d,%d,%f", &bus, &value);
    system_bus_set_delay(conn, bus, value, 0);
}

void entry_bus_copy(int conn, const char *line)
{
    int dst = ARG_NONE, src = ARG_NONE;
    unsigned flags = 0;
    if (complete(sscanf(line, "%*d,%*d,%d,%d,%u", &dst, &src, &flags), 3, line))
        system_bus_copy(conn, dst, src, flags);
}

void entry_bus_geq_ibt(int conn, const char *line)
{
    int bus = ARG_NONE;
    unsigned plus = 0, minus = 0;
    sscanf(line, "%*d,%*d,%d,%u,%u", &bus, &plus, &minus);
    system_bus_set_geq_ibt(conn, bus, plus, minus);
}

// Accepted for compatibility with older clients; they mean nothing here.
void entry_ignored(int, const char *) {}

constexpr std::array<command_fn, COMMAND_COUNT> command_table()
{
    std::array<command_fn, COMMAND_COUNT> t{};
    t[1] = entry_bus_int<system_bus_set_mute>;
    t[2] = entry_bus_float<system_bus_set_gain>;
    t[3] = entry_bus_int<system_bus_set_phase>;
    t[4] = entry_bus_float<system_bus_set_comp_thres>;
    t[5] = entry_bus_float<system_bus_set_comp_ratio>;
    t[6] = entry_bus_float<system_bus_set_comp_knee>;
    t[7] = entry_bus_float<system_bus_set_peak_overshoot>;
    t[8] = entry_bus_word<system_bus_set_patch>;
    t[9] = entry_bus_label;
    t[10] = entry_bus_int<system_bus_set_group_local>;
    t[11] = entry_bus_int<system_bus_set_group_net>;
    t[12] = entry_bus_geq;
    t[14] = entry_bus_word<system_bus_set_eq_flags>;
    t[15] = entry_bus_geq_reset;
    t[16] = entry_bus_peq;
    t[17] = entry_bus_shelf;
    t[18] = entry_bus_hpf;
    t[60] = entry_bus_delay;
    t[83] = entry_ignored;
    t[84] = entry_ignored;
    t[113] = entry_bus_float<system_bus_set_comp_attack>;
    t[114] = entry_bus_float<system_bus_set_comp_release>;
    t[115] = entry_bus_float<system_bus_set_peak_release>;
    t[120] = entry_bus_copy;
    t[124] = entry_bus_geq_ibt;
    t[125] = entry_ignored;
    return t;
}

}  // namespace

constexpr std::array<command_fn, COMMAND_COUNT> command_dispatch = command_table();

void command_work(const char *line, int internal)
{
    if (line == nullptr || line[0] < '0' || line[0] > '9') {
        log_error("command_work: defect command ('%s')\n", line != nullptr ? line : "");
        return;
    }
    int id = -1, conn = 0;
    sscanf(line, "%d,%d", &id, &conn);
    command_fn entry = id >= 0 && id < COMMAND_COUNT ? command_dispatch[(size_t)id] : nullptr;
    if (entry == nullptr) {
        log_error("command_work: error (command_id=%d; command_dispatch[command_id]=%zx)\n", id, (size_t)0);
        return;
    }
    entry(internal ? COMMAND_CONN_INTERNAL : conn, line);
}
