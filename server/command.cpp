#include "command.h"

#include <cctype>
#include <climits>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "common/db_text.h"
#include "log.h"
#include "system_bus.h"
#include "system_lsp.h"
#include "system_out.h"
#include "system_prj.h"
#include "system_sys.h"

namespace {

// Whether the number at the start of field fits the conversion ('d' int,
// 'u' unsigned; glibc's "%u" takes a sign and negates modulo 2^32). Text
// that is no number fits: sscanf refuses it the same way everywhere.
bool number_fits(const char *field, char conv)
{
    while (isspace((unsigned char)*field))
        field++;
    bool negative = *field == '-';
    if (*field == '-' || *field == '+')
        field++;
    unsigned long long v = 0;
    for (; isdigit((unsigned char)*field); field++) {
        v = v * 10 + (unsigned)(*field - '0');
        if (v > UINT_MAX)
            return false;
    }
    if (conv == 'u')
        return true;
    return v <= (negative ? (unsigned long long)INT_MAX + 1 : (unsigned long long)INT_MAX);
}

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

// "%d,%d": bus or group, integer value with a range check of its own.
template <void (*op)(int, int, int)>
void entry_index_int(int conn, const char *line)
{
    int index = ARG_NONE, v = ARG_NONE;
    command_scan(line, "%*d,%*d,%d,%d", &index, &v);
    op(conn, index, v);
}

// "%d,%d": bus or group, integer value that a missing argument must not
// become (masks, flags, or link groups where -1 means none).
template <void (*op)(int, int, int)>
void entry_index_word(int conn, const char *line)
{
    int index = ARG_NONE, v = ARG_NONE;
    if (complete(command_scan(line, "%*d,%*d,%d,%d", &index, &v), 2, line))
        op(conn, index, v);
}

// "%d,%f": bus or group, real value.
template <void (*op)(int, int, float)>
void entry_index_float(int conn, const char *line)
{
    int index = ARG_NONE;
    float v = NAN;
    command_scan(line, "%*d,%*d,%d,%f", &index, &v);
    op(conn, index, v);
}

// "%d": one integer with a range check of its own (-1 when missing).
template <void (*op)(int, int)>
void entry_int(int conn, const char *line)
{
    int v = ARG_NONE;
    command_scan(line, "%*d,%*d,%d", &v);
    op(conn, v);
}

// "%d": one integer that a missing argument must not become.
template <void (*op)(int, int)>
void entry_word(int conn, const char *line)
{
    int v = ARG_NONE;
    if (complete(command_scan(line, "%*d,%*d,%d", &v), 1, line))
        op(conn, v);
}

// "%d,%201s": bus, group or project, label (empty when missing).
template <void (*op)(int, int, const char *)>
void entry_index_label(int conn, const char *line)
{
    int index = ARG_NONE;
    command_text[0] = 0;
    command_scan(line, "%*d,%*d,%d,%201s", &index, command_text);
    op(conn, index, command_text);
}

// "%d,%d,%f,%f,%f,%d": bus or group, band, freq, q, gain, bypass.
template <void (*op)(int, int, int, float, float, float, int)>
void entry_peq(int conn, const char *line)
{
    int index = ARG_NONE, band = ARG_NONE, bypass = ARG_NONE;
    float freq = NAN, q = NAN, gain = NAN;
    int n = command_scan(line, "%*d,%*d,%d,%d,%f,%f,%f,%d", &index, &band, &freq, &q, &gain, &bypass);
    if (complete(n, 6, line))
        op(conn, index, band, freq, q, gain, bypass);
}

// "%d,%d,%f,%f,%d": bus or group, shelf, freq, gain, bypass.
template <void (*op)(int, int, int, float, float, int)>
void entry_shelf(int conn, const char *line)
{
    int index = ARG_NONE, shelf = ARG_NONE, bypass = ARG_NONE;
    float freq = NAN, gain = NAN;
    int n = command_scan(line, "%*d,%*d,%d,%d,%f,%f,%d", &index, &shelf, &freq, &gain, &bypass);
    if (complete(n, 5, line))
        op(conn, index, shelf, freq, gain, bypass);
}

// "%d,%f,%d,%d": bus or group, freq, type, bypass.
template <void (*op)(int, int, float, int, int)>
void entry_hpf(int conn, const char *line)
{
    int index = ARG_NONE, kind = ARG_NONE, bypass = ARG_NONE;
    float freq = NAN;
    int n = command_scan(line, "%*d,%*d,%d,%f,%d,%d", &index, &freq, &kind, &bypass);
    if (complete(n, 4, line))
        op(conn, index, freq, kind, bypass);
}

// "%d,%f": bus or group, delay in the current unit.
template <void (*op)(int, int, float, int)>
void entry_delay(int conn, const char *line)
{
    int index = ARG_NONE;
    float value = NAN;
    command_scan(line, "%*d,%*d,%d,%f", &index, &value);
    op(conn, index, value, 0);
}

// "%d,%d,%u": target, source, flags.
template <void (*op)(int, int, int, uint32_t)>
void entry_copy(int conn, const char *line)
{
    int dst = ARG_NONE, src = ARG_NONE;
    unsigned flags = 0;
    if (complete(command_scan(line, "%*d,%*d,%d,%d,%u", &dst, &src, &flags), 3, line))
        op(conn, dst, src, flags);
}

void entry_bus_geq(int conn, const char *line)
{
    int bus = ARG_NONE, band = ARG_NONE;
    float gain = NAN;
    command_scan(line, "%*d,%*d,%d,%d,%f", &bus, &band, &gain);
    system_bus_set_geq(conn, bus, band, gain);
}

void entry_bus_geq_reset(int conn, const char *line)
{
    int bus = ARG_NONE;
    command_scan(line, "%*d,%*d,%d", &bus);
    system_bus_geq_reset(conn, bus);
}

void entry_bus_geq_ibt(int conn, const char *line)
{
    int bus = ARG_NONE;
    unsigned plus = 0, minus = 0;
    command_scan(line, "%*d,%*d,%d,%u,%u", &bus, &plus, &minus);
    system_bus_set_geq_ibt(conn, bus, plus, minus);
}

void entry_network(int conn, const char *line)
{
    int ignored = ARG_NONE, mode = ARG_NONE, bits = ARG_NONE;
    int ip[4] = {ARG_NONE, ARG_NONE, ARG_NONE, ARG_NONE};
    int gw[4] = {ARG_NONE, ARG_NONE, ARG_NONE, ARG_NONE};
    int n = command_scan(line, "%*d,%*d,%d,%d,%d,%d,%d,%d,%d,%d,%d,%d,%d", &ignored, &mode, &ip[0], &ip[1], &ip[2],
                         &ip[3], &bits, &gw[0], &gw[1], &gw[2], &gw[3]);
    if (complete(n, 11, line))
        system_net_set_network(conn, ignored, mode, ip, bits, gw);
}

// "%201s": a name (empty when missing).
template <void (*op)(int, const char *)>
void entry_name(int conn, const char *line)
{
    command_text[0] = 0;
    command_scan(line, "%*d,%*d,%201s", command_text);
    op(conn, command_text);
}

// "%d,%d,%*d,%*d,%201s": project id, lock value, two skipped integers, name.
// The name comes last, so a cut line always lacks it and is refused.
void entry_prj_stat(int conn, const char *line)
{
    int id = ARG_NONE, lock = ARG_NONE;
    command_text[0] = 0;
    command_scan(line, "%*d,%*d,%d,%d,%*d,%*d,%201s", &id, &lock, command_text);
    system_prj_stat_project(conn, id, lock, command_text);
}

// "%d,%4097s": project id (not used), description (empty when missing: a
// client clears the description this way).
void entry_prj_desc(int conn, const char *line)
{
    int id = ARG_NONE;
    command_text[0] = 0;
    command_scan(line, "%*d,%*d,%d,%4097s", &id, command_text);
    system_prj_desc_set(conn, id, command_text);
}

void entry_amplifiers(int conn, const char *line)
{
    int o = ARG_NONE, gain = ARG_NONE, peak = ARG_NONE;
    command_scan(line, "%*d,%*d,%d,%d,%d", &o, &gain, &peak);
    system_misc_set_amplifiers(conn, o, gain, peak);
}

void entry_ply_volume(int conn, const char *line)
{
    float gain = NAN;
    command_scan(line, "%*d,%*d,%f", &gain);
    system_ply_volume(conn, gain);
}

void entry_wlan_passphrase(int conn, const char *line)
{
    command_text[0] = 0;
    command_scan(line, "%*d,%*d,%257s", command_text);
    system_sys_wlan_passphrase(conn, command_text);
}

// "%d,%d,%d,%*d,%d,%d,%201s": entry, folder, version, (skipped), new lock,
// unlock code, label. A cut line would lock the entry with -1 and blank
// its label, so every field must be there.
void entry_lsp_save(int conn, const char *line)
{
    int id = ARG_NONE, folder = ARG_NONE, version = ARG_NONE, lock = ARG_NONE, unlock = ARG_NONE;
    command_text[0] = 0;
    int n = command_scan(line, "%*d,%*d,%d,%d,%d,%*d,%d,%d,%201s", &id, &folder, &version, &lock, &unlock, command_text);
    if (complete(n, 6, line))
        system_lsp_save(conn, id, folder, version, lock, unlock, command_text);
}

// "%d,%d,%4096s": entry, unlock code, configuration text, which the
// operation takes decoded.
void entry_lsp_prop(int conn, const char *line)
{
    int id = ARG_NONE, unlock = ARG_NONE;
    command_text[0] = 0;
    command_scan(line, "%*d,%*d,%d,%d,%4096s", &id, &unlock, command_text);
    system_lsp_prop(conn, id, unlock, db_text_decode(command_text).c_str());
}

// "%d,%d": group, loudspeaker entry. A client's assignment starts where the
// group is and mutes the outputs it takes.
void entry_out_group_lsp_set(int conn, const char *line)
{
    int group = ARG_NONE, id = ARG_NONE;
    command_scan(line, "%*d,%*d,%d,%d", &group, &id);
    system_out_group_lsp_set(conn, group, id, 0, -1);
}

// Accepted for compatibility with older clients; they mean nothing here.
void entry_ignored(int, const char *) {}

constexpr std::array<command_fn, COMMAND_COUNT> command_table()
{
    std::array<command_fn, COMMAND_COUNT> t{};
    t[1] = entry_index_int<system_bus_set_mute>;
    t[2] = entry_index_float<system_bus_set_gain>;
    t[3] = entry_index_int<system_bus_set_phase>;
    t[4] = entry_index_float<system_bus_set_comp_thres>;
    t[5] = entry_index_float<system_bus_set_comp_ratio>;
    t[6] = entry_index_float<system_bus_set_comp_knee>;
    t[7] = entry_index_float<system_bus_set_peak_overshoot>;
    t[8] = entry_index_word<system_bus_set_patch>;
    t[9] = entry_index_label<system_bus_set_label>;
    t[10] = entry_index_word<system_bus_set_group_local>;
    t[11] = entry_index_word<system_bus_set_group_net>;
    t[12] = entry_bus_geq;
    t[14] = entry_index_word<system_bus_set_eq_flags>;
    t[15] = entry_bus_geq_reset;
    t[16] = entry_peq<system_bus_set_peq>;
    t[17] = entry_shelf<system_bus_set_shelf>;
    t[18] = entry_hpf<system_bus_set_hpf>;
    t[20] = entry_word<system_sys_service_mode>;
    t[21] = entry_network;
    t[22] = entry_name<system_sys_device_name>;
    t[23] = entry_index_float<system_misc_set_delayunit>;
    t[24] = entry_amplifiers;
    t[26] = entry_int<system_sys_firmware_update>;
    t[27] = entry_int<system_sys_keylock>;
    t[35] = entry_index_label<system_out_group_label>;
    t[36] = entry_out_group_lsp_set;
    t[37] = entry_index_int<system_out_group_set_mute>;
    t[38] = entry_index_float<system_out_group_set_gain>;
    t[39] = entry_index_int<system_out_group_set_phase>;
    t[40] = entry_index_word<system_out_group_set_grp_local>;
    t[41] = entry_index_word<system_out_group_set_grp_net>;
    t[42] = entry_index_int<system_out_group_set_input>;
    t[43] = entry_delay<system_out_group_set_delay>;
    t[44] = entry_index_int<system_out_set_mute>;
    t[45] = entry_peq<system_out_group_set_peq>;
    t[46] = entry_shelf<system_out_group_set_shelf>;
    t[47] = entry_hpf<system_out_group_set_hpf>;
    t[49] = entry_index_word<system_out_group_set_eq_flags>;
    t[60] = entry_delay<system_bus_set_delay>;
    t[62] = entry_int<system_sys_flags>;
    t[63] = entry_int<system_sys_digitalmode>;
    t[64] = entry_lsp_save;
    t[67] = entry_lsp_prop;
    t[70] = entry_index_word<system_lsp_new>;
    t[71] = entry_int<system_lsp_remove>;
    t[83] = entry_ignored;
    t[84] = entry_ignored;
    t[85] = entry_int<system_ply_seek>;
    t[86] = entry_ply_volume;
    t[99] = entry_int<system_prj_load_project>;
    t[100] = entry_prj_stat;
    t[101] = entry_int<system_prj_save_project>;
    t[102] = entry_index_label<system_prj_saveas_project>;
    t[103] = entry_int<system_prj_delete_project>;
    t[104] = entry_name<system_prj_new_project>;
    t[106] = entry_int<system_prj_delete_lock>;
    t[112] = entry_wlan_passphrase;
    t[113] = entry_index_float<system_bus_set_comp_attack>;
    t[114] = entry_index_float<system_bus_set_comp_release>;
    t[115] = entry_index_float<system_bus_set_peak_release>;
    t[117] = entry_int<system_lsp_duplicate>;
    t[118] = entry_index_int<system_lsp_move>;
    t[119] = entry_prj_desc;
    t[120] = entry_copy<system_bus_copy>;
    t[121] = entry_copy<system_out_group_copy>;
    t[124] = entry_bus_geq_ibt;
    t[125] = entry_ignored;
    return t;
}

}  // namespace

constexpr std::array<command_fn, COMMAND_COUNT> command_dispatch = command_table();

int command_scan(const char *line, const char *fmt, ...)
{
    // The format up to the conversion of the first field that does not fit.
    char cut[64];
    const char *use = fmt;
    const char *field = line;
    for (const char *f = strchr(fmt, '%'); f != nullptr && field != nullptr; f = strchr(f, '%')) {
        const char *conv = f + 1;
        while (*conv == '*' || isdigit((unsigned char)*conv))
            conv++;
        if (*conv == 's')
            break;  // a text is the last field and may hold anything
        if ((*conv == 'd' || *conv == 'u') && !number_fits(field, *conv)) {
            size_t n = (size_t)(f - fmt);
            if (n >= sizeof cut)
                return 0;
            memcpy(cut, fmt, n);
            cut[n] = 0;
            use = cut;
            break;
        }
        f = conv + 1;
        field = strchr(field, ',');
        if (field != nullptr)
            field++;
    }
    va_list ap;
    va_start(ap, fmt);
    int n = vsscanf(line, use, ap);
    va_end(ap);
    return n;
}

void command_work(const char *line, int internal)
{
    const char *second = line != nullptr ? strchr(line, ',') : nullptr;
    if (line == nullptr || line[0] < '0' || line[0] > '9' || !number_fits(line, 'd') ||
        (second != nullptr && !number_fits(second + 1, 'd'))) {
        log_error("command_work: defect command ('%s')\n", line != nullptr ? line : "");
        return;
    }
    int id = -1, conn = 0;
    command_scan(line, "%d,%d", &id, &conn);
    command_fn entry = id >= 0 && id < COMMAND_COUNT ? command_dispatch[(size_t)id] : nullptr;
    if (entry == nullptr) {
        log_error("command_work: error (command_id=%d; command_dispatch[command_id]=%zx)\n", id, (size_t)0);
        return;
    }
    entry(internal ? COMMAND_CONN_INTERNAL : conn, line);
}
