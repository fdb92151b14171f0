#include "report_format.h"

#include <cmath>
#include <cstring>

#include "common/db_text.h"
#include "lspconfig.h"
#include "report_source.h"
#include "system.h"
#include "system_bus.h"
#include "system_out.h"

namespace {

// The text fields of the record hold at most their size less one byte; a
// record from a damaged file may lack the NUL, so never read past the field.
template <size_t N>
int text_len(const char (&field)[N])
{
    return (int)strnlen(field, N - 1);
}

template <size_t N>
report_text text_of(const char (&field)[N])
{
    return {field, (size_t)text_len(field)};
}

// A NUL-terminated text (not a record field: those go through the template).
report_text text_of_string(const char *s)
{
    return {s, strlen(s)};
}

bool bus_ok(int b)
{
    return (unsigned)b < SYS_BUSES;
}

bool out_ok(int o)
{
    return (unsigned)o < SYS_OUTPUTS;
}

// The shapes most lines share: id, connection, index, one value.
void line_int(report_writer *w, int id, int c, int index, int v)
{
    report_line(w, id, c, index, v);
}

void line_gain(report_writer *w, int id, int c, int index, float v)
{
    report_line(w, id, c, index, report_f21(v));
}

void line_delay(report_writer *w, int id, int c, int index, double v)
{
    report_line(w, id, c, index, report_f12(v));
}

void line_curve(report_writer *w, int id, int c, int index, const float curve[CURVE_POINTS])
{
    // 128 values of at most 16 bytes each behind a comma.
    char text[CURVE_POINTS * 17 + 1];
    size_t n = 0;
    for (int i = 0; i < CURVE_POINTS; i++) {
        text[n++] = ',';
        n += report_number_tenths(text + n, curve[i]);
    }
    text[n++] = '\n';
    report_fields(w, id, c, index);
    report_writer_bytes(w, text, n);
}

void line_peq(report_writer *w, int id, int c, int index, int band, const sys_peq &p)
{
    report_line(w, id, c, index, band, report_f20(p.freq), report_f21(p.q), report_f21(p.gain), p.bypass);
}

void line_shelf(report_writer *w, int id, int c, int index, int shelf, const sys_shelf &s)
{
    report_line(w, id, c, index, shelf, report_f20(s.freq), report_f21(s.gain), s.bypass);
}

void line_hpf(report_writer *w, int id, int c, int index, const sys_highpass &h)
{
    report_line(w, id, c, index, report_f20(h.freq), h.kind, h.bypass);
}

// The rest of a line: text percent-encoded into the space left, then the line end.
void append_encoded_end(report_writer *w, const char *text)
{
    if (w->len + 1 < w->size)
        w->len += db_text_encode(w->buf + w->len, w->size - w->len - 1, text);
    report_writer_bytes(w, "\n", 1);
}

template <size_t N>
void line_text(report_writer *w, int id, int c, int index, const char (&field)[N])
{
    report_line(w, id, c, index, text_of(field));
}

const sys_bus &bus(int b)
{
    return my_sys->bus[b];
}

const sys_output &out(int o)
{
    return my_sys->out[o];
}

int group_of(int o)
{
    return my_sys->out[o].group_lsp;
}

}  // namespace

size_t report_format_curve_value(char *out, float value)
{
    size_t n = report_number_tenths(out, value);
    out[n] = 0;
    return n;
}

double report_format_delay_in_unit(float delay_m, float delay_ms)
{
    switch (my_sys->delay_unit) {
    case DELAY_UNIT_FEET:
        return delay_m * 3.280839895;
    case DELAY_UNIT_MS:
        return delay_ms;
    default:
        return delay_m;
    }
}

// ---- input bus ----

void report_format_bus_mute(report_writer *w, int c, int b)
{
    if (bus_ok(b))
        line_int(w, 1, c, b, bus(b).mute);
}

void report_format_bus_gain(report_writer *w, int c, int b)
{
    if (bus_ok(b))
        line_gain(w, 2, c, b, bus(b).gain);
}

void report_format_bus_phase(report_writer *w, int c, int b)
{
    if (bus_ok(b))
        line_int(w, 3, c, b, bus(b).phase);
}

void report_format_bus_comp_thres(report_writer *w, int c, int b)
{
    if (bus_ok(b))
        line_gain(w, 4, c, b, bus(b).comp_thres);
}

void report_format_bus_comp_ratio(report_writer *w, int c, int b)
{
    if (bus_ok(b))
        line_gain(w, 5, c, b, bus(b).comp_ratio);
}

void report_format_bus_comp_knee(report_writer *w, int c, int b)
{
    if (bus_ok(b))
        line_gain(w, 6, c, b, bus(b).comp_knee);
}

void report_format_bus_peak_overshoot(report_writer *w, int c, int b)
{
    if (bus_ok(b))
        line_gain(w, 7, c, b, bus(b).peak_overshoot);
}

void report_format_bus_patch(report_writer *w, int c, int b)
{
    if (bus_ok(b))
        line_int(w, 8, c, b, bus(b).patch);
}

void report_format_bus_label(report_writer *w, int c, int b)
{
    if (bus_ok(b))
        line_text(w, 9, c, b, bus(b).label);
}

void report_format_bus_group_local(report_writer *w, int c, int b)
{
    if (bus_ok(b))
        line_int(w, 10, c, b, bus(b).group_local);
}

void report_format_bus_group_net(report_writer *w, int c, int b)
{
    if (bus_ok(b))
        line_int(w, 11, c, b, bus(b).group_net);
}

void report_format_bus_geq(report_writer *w, int c, int b, int band)
{
    if (bus_ok(b) && (unsigned)band < SYS_GEQ_BANDS)
        report_line(w, 12, c, b, band, report_f21(bus(b).geq[band]));
}

void report_format_bus_curve(report_writer *w, int c, int b, const float curve[CURVE_POINTS])
{
    if (bus_ok(b))
        line_curve(w, 13, c, b, curve);
}

void report_format_bus_eq_flags(report_writer *w, int c, int b)
{
    if (bus_ok(b))
        line_int(w, 14, c, b, bus(b).eq_flags);
}

void report_format_bus_peq(report_writer *w, int c, int b, int band)
{
    if (bus_ok(b) && (unsigned)band < SYS_BUS_PEQ_BANDS)
        line_peq(w, 16, c, b, band, bus(b).peq[band]);
}

void report_format_bus_shelf(report_writer *w, int c, int b, int shelf)
{
    if (bus_ok(b) && (unsigned)shelf < 2)
        line_shelf(w, 17, c, b, shelf, bus(b).shelf[shelf]);
}

void report_format_bus_hpf(report_writer *w, int c, int b)
{
    if (bus_ok(b))
        line_hpf(w, 18, c, b, bus(b).highpass);
}

void report_format_bus_delay(report_writer *w, int c, int b)
{
    if (bus_ok(b))
        line_delay(w, 60, c, b, report_format_delay_in_unit(bus(b).delay_m, bus(b).delay_ms));
}

void report_format_bus_delay_applied(report_writer *w, int b, float ms)
{
    if (bus_ok(b))
        line_delay(w, 61, 0, b, ms);
}

void report_format_bus_comp_attack(report_writer *w, int c, int b)
{
    if (bus_ok(b))
        line_gain(w, 113, c, b, bus(b).comp_attack);
}

void report_format_bus_comp_release(report_writer *w, int c, int b)
{
    if (bus_ok(b))
        line_gain(w, 114, c, b, bus(b).comp_release);
}

void report_format_bus_peak_release(report_writer *w, int c, int b)
{
    if (bus_ok(b))
        line_gain(w, 115, c, b, bus(b).peak_release);
}

void report_format_bus_geq_masks(report_writer *w, int c, int b, uint32_t plus, uint32_t minus)
{
    if (bus_ok(b))
        report_line(w, 124, c, b, plus, minus);
}

// ---- output groups ----

int report_format_first_out(int g)
{
    for (int o = 0; o < SYS_OUTPUTS; o++)
        if (my_sys->out[o].group_lsp == g)
            return o;
    return -1;
}

void report_format_group_map(report_writer *w, int c)
{
    const sys_output *o = my_sys->out;
    report_line(w, 32, c, o[0].group_lsp, o[1].group_lsp, o[2].group_lsp, o[3].group_lsp, o[4].group_lsp,
                o[5].group_lsp, o[6].group_lsp, o[7].group_lsp, o[0].id_lsp, o[1].id_lsp, o[2].id_lsp, o[3].id_lsp,
                o[4].id_lsp, o[5].id_lsp, o[6].id_lsp, o[7].id_lsp);
}

void report_format_out_way_map(report_writer *w, int c, int o)
{
    if (!out_ok(o))
        return;
    int g = group_of(o);
    int first = report_format_first_out(g);
    int ways = out(first).lsp.ways;
    report_fields(w, 33, c, g);
    // The group's ways sit on consecutive outputs from its first one.
    for (int j = 0; j < SYS_OUTPUTS; j++) {
        bool in_group = j >= first && j - first < ways && out(j).group_lsp == g;
        report_writer_bytes(w, ",", 1);
        report_put(w, in_group ? out(j).way.way_index : -1);
    }
    report_writer_bytes(w, "\n", 1);
}

void report_format_out_lsp_name(report_writer *w, int c, int o)
{
    if (out_ok(o))
        line_text(w, 34, c, group_of(o), out(o).lsp.label);
}

void report_format_out_label(report_writer *w, int c, int o)
{
    if (out_ok(o))
        line_text(w, 35, c, group_of(o), out(o).label);
}

void report_format_out_gain(report_writer *w, int c, int o)
{
    if (out_ok(o))
        line_gain(w, 38, c, group_of(o), out(o).gain);
}

void report_format_out_phase(report_writer *w, int c, int o)
{
    if (out_ok(o))
        line_int(w, 39, c, group_of(o), out(o).phase);
}

void report_format_out_group_local(report_writer *w, int c, int o)
{
    if (out_ok(o))
        line_int(w, 40, c, group_of(o), out(o).group_local);
}

void report_format_out_group_net(report_writer *w, int c, int o)
{
    if (out_ok(o))
        line_int(w, 41, c, group_of(o), out(o).group_net);
}

void report_format_out_input(report_writer *w, int c, int o)
{
    if (out_ok(o))
        line_int(w, 42, c, group_of(o), out(o).bus_input);
}

void report_format_out_delay(report_writer *w, int c, int o)
{
    if (out_ok(o))
        line_delay(w, 43, c, group_of(o), report_format_delay_in_unit(out(o).delay_m, out(o).delay_ms));
}

void report_format_out_mute(report_writer *w, int c, int o)
{
    if (out_ok(o))
        line_int(w, 44, c, o, out(o).mute);
}

void report_format_out_peq(report_writer *w, int c, int o, int band)
{
    if (out_ok(o) && (unsigned)band < SYS_OUT_PEQ_BANDS)
        line_peq(w, 45, c, group_of(o), band, out(o).peq[band]);
}

void report_format_out_shelf(report_writer *w, int c, int o, int shelf)
{
    if (out_ok(o) && (unsigned)shelf < 2)
        line_shelf(w, 46, c, group_of(o), shelf, out(o).shelf[shelf]);
}

void report_format_out_hpf(report_writer *w, int c, int o)
{
    if (out_ok(o))
        line_hpf(w, 47, c, group_of(o), out(o).highpass);
}

void report_format_out_curve(report_writer *w, int c, int o, const float curve[CURVE_POINTS])
{
    if (out_ok(o))
        line_curve(w, 48, c, group_of(o), curve);
}

void report_format_out_eq_flags(report_writer *w, int c, int o)
{
    if (out_ok(o))
        line_int(w, 49, c, group_of(o), out(o).eq_flags);
}

void report_format_out_delay_applied(report_writer *w, int o, float ms)
{
    if (out_ok(o))
        line_delay(w, 50, 0, group_of(o), ms);
}

// ---- device ----

void report_format_service_mode(report_writer *w, int c)
{
    report_line(w, 20, c, my_sys->service_mode);
}

void report_format_network(report_writer *w, int c, uint32_t iface_address, bool ap_running)
{
    const sys_file *s = my_sys;
    int flags = ap_running ? (s->net_flags | 0x100) : s->net_flags;
    report_line(w, 21, c, iface_address, flags, s->ip[0], s->ip[1], s->ip[2], s->ip[3], s->netmask_bits,
                s->gateway[0], s->gateway[1], s->gateway[2], s->gateway[3]);
}

void report_format_device_name(report_writer *w, int c)
{
    report_line(w, 22, c, text_of(my_sys->device_name));
}

void report_format_delay_settings(report_writer *w, int c)
{
    int unit = my_sys->delay_unit;
    report_line(w, 23, c, unit, report_f12(my_sys->temperature),
                report_f12(system_delay_limit_in_unit(SYSTEM_OUT_DELAY_MAX_MS, unit)),
                report_f12(system_delay_limit_in_unit(SYSTEM_BUS_DELAY_MAX_MS, unit)));
}

void report_format_amplifier(report_writer *w, int c, int o)
{
    if (out_ok(o))
        report_line(w, 24, c, o, my_sys->amp[o].gain, my_sys->amp[o].peak_voltage);
}

void report_format_user_message(report_writer *w, int c, int level, const char *text)
{
    report_fields(w, 25, c, level);
    report_writer_bytes(w, ",", 1);
    append_encoded_end(w, text);
}

void report_format_firmware(report_writer *w, int c, int result)
{
    report_line(w, 26, c, result);
}

void report_format_key_lock(report_writer *w, int c)
{
    report_line(w, 27, c, my_sys->key_lock);
}

void report_format_system_flags(report_writer *w, int c)
{
    report_line(w, 62, c, my_sys->system_flags);
}

void report_format_digital_mode(report_writer *w, int c)
{
    report_line(w, 63, c, my_sys->digital_mode);
}

void report_format_lsp_new(report_writer *w, int c, int id)
{
    report_line(w, 70, c, id);
}

void report_format_lsp_sections(report_writer *w, int c, int id, const cfglsp *cfg)
{
    int ways = cfg != nullptr ? lspconfig_channels(cfg) : 0;
    report_fields(w, 69, c, id, ways, cfg != nullptr ? SYS_WAY_SECTIONS : 0);
    for (int i = 0; i < ways; i++) {
        const lspconfig_way *way = lspconfig_get_way(cfg, i, 0);
        if (way == nullptr)
            break;
        const sys_way &wr = way->way;
        // The way's gain as a power ratio, its sign the polarity.
        float factor = fast_pow10(wr.gain / 10.0f);
        report_format_append(w, ",%d,%f", wr.way_index, wr.polarity ? -factor : factor);
        for (const filter_record &r : wr.sections)
            report_format_append(w, ",%.9e,%.9e,%.9e,%.9e,%.9e", r.a1, r.a2, r.b0, r.b1, r.b2);
    }
    report_writer_bytes(w, "\n", 1);
}

void report_format_lsp_warnings(report_writer *w, int c, int id, const char *text)
{
    report_fields(w, 116, c, id);
    report_writer_bytes(w, ",", 1);
    append_encoded_end(w, text != nullptr ? text : "");
}

void report_format_wlan_passphrase(report_writer *w, int c, const char *passphrase)
{
    report_line(w, 112, c, text_of_string(passphrase));
}

void report_format_alarm(report_writer *w, bool active)
{
    report_line(w, 123, 0, text_of_string(active ? "ALARM" : ""));
}

void report_format_version_lines(report_writer *w, int c, const uint8_t mac[6], const char *system_encoded)
{
    unsigned mac_high = (unsigned)mac[0] << 8 | mac[1];
    unsigned mac_low = (unsigned)mac[2] << 24 | (unsigned)mac[3] << 16 | (unsigned)mac[4] << 8 | mac[5];
    // Room for the numbers and the longest encoded system text (127 x 6 bytes).
    char text[64 + REPORT_SYSTEM_TEXT_MAX * DB_TEXT_MAX_ESCAPE];
    report_writer t;
    report_writer_init(&t, text, sizeof text);
    report_fields(&t, c, 2, 2, 0, 0, report_hex{13664}, report_hex{mac_high}, report_hex{mac_low},
                  text_of_string(system_encoded));
    report_text line{text, t.len};
    report_line(w, 1036, line);
    report_line(w, 122, line);
}

// ---- project ----

void report_format_project(report_writer *w, int c, int stored_lock)
{
    const sys_file *s = my_sys;
    report_line(w, 100, c, s->project_id, s->project_lock, stored_lock, s->modified, text_of(s->project_label));
}

void report_format_project_desc(report_writer *w, int c, int id, const char *desc)
{
    report_line(w, 119, c, id, text_of_string(desc));
}

void report_format_project_list_changed(report_writer *w)
{
    report_line(w, 105, 0);
}

void report_format_usb_export(report_writer *w, int result)
{
    report_line(w, 107, 0, result);
}

void report_format_usb_import(report_writer *w, int result)
{
    report_line(w, 108, 0, result);
}

// ---- blocks ----

void report_format_bus_block(report_writer *w, int c, int b)
{
    if (!bus_ok(b))
        return;
    report_format_bus_label(w, c, b);
    report_format_bus_patch(w, c, b);
    report_format_bus_gain(w, c, b);
    report_format_bus_phase(w, c, b);
    report_format_bus_comp_thres(w, c, b);
    report_format_bus_comp_ratio(w, c, b);
    report_format_bus_peak_overshoot(w, c, b);
    report_format_bus_comp_knee(w, c, b);
    report_format_bus_comp_attack(w, c, b);
    report_format_bus_comp_release(w, c, b);
    report_format_bus_peak_release(w, c, b);
    report_format_bus_group_local(w, c, b);
    report_format_bus_group_net(w, c, b);
    report_format_bus_mute(w, c, b);
    report_format_delay_settings(w, c);
    report_format_bus_delay(w, c, b);
    report_format_bus_delay_applied(w, b, report_source_bus_delay_applied(b));
}

void report_format_bus_eq_block(report_writer *w, int c, int b)
{
    if (!bus_ok(b))
        return;
    report_format_bus_eq_flags(w, c, b);
    for (int i = 0; i < SYS_GEQ_BANDS; i++)
        report_format_bus_geq(w, c, b, i);
    for (int i = 0; i < SYS_BUS_PEQ_BANDS; i++)
        report_format_bus_peq(w, c, b, i);
    report_format_bus_shelf(w, c, b, 0);
    report_format_bus_shelf(w, c, b, 1);
    report_format_bus_hpf(w, c, b);
    float curve[CURVE_POINTS];
    report_source_bus_curve(b, curve);
    report_format_bus_curve(w, c, b, curve);
}

void report_format_out_group_eq_block(report_writer *w, int c, int g)
{
    int o = report_format_first_out(g);
    if (o < 0)
        return;
    report_format_out_eq_flags(w, c, o);
    for (int i = 0; i < SYS_OUT_PEQ_BANDS; i++)
        report_format_out_peq(w, c, o, i);
    report_format_out_shelf(w, c, o, 0);
    report_format_out_shelf(w, c, o, 1);
    report_format_out_hpf(w, c, o);
    float curve[CURVE_POINTS];
    report_source_out_curve(o, curve);
    report_format_out_curve(w, c, o, curve);
}

void report_format_out_group_block(report_writer *w, int c, int g)
{
    int o = report_format_first_out(g);
    if (o < 0)
        return;
    report_format_out_lsp_name(w, c, o);
    report_format_out_label(w, c, o);
    report_format_out_gain(w, c, o);
    report_format_out_phase(w, c, o);
    report_format_out_group_local(w, c, o);
    report_format_out_group_net(w, c, o);
    report_format_out_input(w, c, o);
    report_format_out_delay(w, c, o);
    report_format_out_delay_applied(w, o, report_source_out_delay_applied(o));
    report_format_out_way_map(w, c, o);
    report_format_out_group_eq_block(w, c, g);
}

void report_format_version_block(report_writer *w, int c)
{
    uint8_t mac[6];
    report_source_mac(mac);
    report_format_version_lines(w, c, mac, report_source_system());
}

void report_format_device_block(report_writer *w, int c)
{
    report_format_network(w, c, report_source_iface_address(), report_source_ap_running());
    report_format_wlan_passphrase(w, c, report_source_wlan_passphrase());
    report_format_service_mode(w, c);
    report_format_device_name(w, c);
    report_format_delay_settings(w, c);
    report_format_key_lock(w, c);
    report_format_digital_mode(w, c);
    report_format_system_flags(w, c);
    for (int o = 0; o < SYS_OUTPUTS; o++)
        report_format_amplifier(w, c, o);
    report_format_version_block(w, c);
}

void report_format_project_block(report_writer *w, int c, int list_id)
{
    report_format_project(w, c, report_source_project_stored_lock(my_sys->project_id));
    report_source_list_projects(w, list_id, c);
}

void report_format_full_dump(report_writer *w)
{
    for (int b = 0; b < SYS_BUSES; b++) {
        report_format_bus_block(w, 0, b);
        report_format_bus_eq_block(w, 0, b);
    }
    report_format_group_map(w, 0);
    for (int o = 0; o < SYS_OUTPUTS; o++)
        report_format_out_mute(w, 0, o);
    for (int g = 0; g < SYS_OUTPUTS; g++)
        report_format_out_group_block(w, 0, g);
    report_format_device_block(w, 0);
    report_format_project_block(w, 0, -1);
}
