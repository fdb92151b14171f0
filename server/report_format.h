// Report lines: one formatter per line kind, the blocks built from them and
// the full dump. Everything appends to a bounded writer, so a reply that
// would outgrow its buffer is cut at the buffer's end and never past it.
//
// Line formatters read the live record (my_sys); the values the record does
// not hold (applied delays, curves, interface address, passphrase) are
// arguments. The blocks fetch those from report_source. No line goes
// through printf (report_writer's fields).
#pragma once
#include <cstddef>
#include <cstdint>

#include "dsp/curves.h"
#include "report_writer.h"

struct cfglsp;

// A curve value with one decimal: value times 10 rounded ties to even, no
// sign on zero ("0.0", "-0.5", "12.3"). Writes at most 16 bytes plus NUL
// into out; returns the length.
size_t report_format_curve_value(char *out, float value);

// Delay of a bus or output in the current delay unit (reports 43 and 60).
double report_format_delay_in_unit(float delay_m, float delay_ms);

// ---- input bus b (c: connection id of the line) ----
void report_format_bus_mute(report_writer *w, int c, int b);             // 1
void report_format_bus_gain(report_writer *w, int c, int b);             // 2
void report_format_bus_phase(report_writer *w, int c, int b);            // 3
void report_format_bus_comp_thres(report_writer *w, int c, int b);       // 4
void report_format_bus_comp_ratio(report_writer *w, int c, int b);       // 5
void report_format_bus_comp_knee(report_writer *w, int c, int b);        // 6
void report_format_bus_peak_overshoot(report_writer *w, int c, int b);   // 7
void report_format_bus_patch(report_writer *w, int c, int b);            // 8
void report_format_bus_label(report_writer *w, int c, int b);            // 9
void report_format_bus_group_local(report_writer *w, int c, int b);      // 10
void report_format_bus_group_net(report_writer *w, int c, int b);        // 11
void report_format_bus_geq(report_writer *w, int c, int b, int band);    // 12
void report_format_bus_curve(report_writer *w, int c, int b, const float curve[CURVE_POINTS]);  // 13
void report_format_bus_eq_flags(report_writer *w, int c, int b);         // 14
void report_format_bus_peq(report_writer *w, int c, int b, int band);    // 16
void report_format_bus_shelf(report_writer *w, int c, int b, int shelf); // 17
void report_format_bus_hpf(report_writer *w, int c, int b);              // 18
void report_format_bus_delay(report_writer *w, int c, int b);            // 60
void report_format_bus_delay_applied(report_writer *w, int b, float ms); // 61, always connection 0
void report_format_bus_comp_attack(report_writer *w, int c, int b);      // 113
void report_format_bus_comp_release(report_writer *w, int c, int b);     // 114
void report_format_bus_peak_release(report_writer *w, int c, int b);     // 115
void report_format_bus_geq_masks(report_writer *w, int c, int b, uint32_t plus, uint32_t minus);  // 124

// ---- output groups: o is any output of the group, the line names its group ----
void report_format_group_map(report_writer *w, int c);                    // 32
void report_format_out_way_map(report_writer *w, int c, int o);           // 33
void report_format_out_lsp_name(report_writer *w, int c, int o);          // 34
void report_format_out_label(report_writer *w, int c, int o);             // 35
void report_format_out_gain(report_writer *w, int c, int o);              // 38
void report_format_out_phase(report_writer *w, int c, int o);             // 39
void report_format_out_group_local(report_writer *w, int c, int o);       // 40
void report_format_out_group_net(report_writer *w, int c, int o);         // 41
void report_format_out_input(report_writer *w, int c, int o);             // 42
void report_format_out_delay(report_writer *w, int c, int o);             // 43
void report_format_out_mute(report_writer *w, int c, int o);              // 44, names the output
void report_format_out_peq(report_writer *w, int c, int o, int band);     // 45
void report_format_out_shelf(report_writer *w, int c, int o, int shelf);  // 46
void report_format_out_hpf(report_writer *w, int c, int o);               // 47
void report_format_out_curve(report_writer *w, int c, int o, const float curve[CURVE_POINTS]);  // 48
void report_format_out_eq_flags(report_writer *w, int c, int o);          // 49
void report_format_out_delay_applied(report_writer *w, int o, float ms);  // 50, always connection 0

// ---- device ----
void report_format_service_mode(report_writer *w, int c);                 // 20
// iface_address: the interface's current address, most significant octet first.
void report_format_network(report_writer *w, int c, uint32_t iface_address, bool ap_running);  // 21
void report_format_device_name(report_writer *w, int c);                  // 22
void report_format_delay_settings(report_writer *w, int c);               // 23
void report_format_amplifier(report_writer *w, int c, int o);             // 24
void report_format_user_message(report_writer *w, int c, int level, const char *text);  // 25, text encoded here
void report_format_firmware(report_writer *w, int c, int result);         // 26
void report_format_key_lock(report_writer *w, int c);                     // 27
void report_format_system_flags(report_writer *w, int c);                 // 62
void report_format_digital_mode(report_writer *w, int c);                 // 63
void report_format_lsp_new(report_writer *w, int c, int id);              // 70
// The sections of entry id as its ways go to outputs; nullptr (a folder)
// gives the empty line.
void report_format_lsp_sections(report_writer *w, int c, int id, const cfglsp *cfg);  // 69
void report_format_lsp_warnings(report_writer *w, int c, int id, const char *text);   // 116, text encoded here
void report_format_wlan_passphrase(report_writer *w, int c, const char *passphrase);  // 112
void report_format_alarm(report_writer *w, bool active);                  // 123
// The two version lines (behind 1036 and behind 122).
void report_format_version_lines(report_writer *w, int c, const uint8_t mac[6], const char *system_encoded);

// ---- project ----
void report_format_project(report_writer *w, int c, int stored_lock);     // 100
void report_format_project_desc(report_writer *w, int c, int id, const char *desc);  // 119
void report_format_project_list_changed(report_writer *w);                // 105
void report_format_usb_export(report_writer *w, int result);              // 107
void report_format_usb_import(report_writer *w, int result);              // 108

// ---- blocks ----
void report_format_bus_block(report_writer *w, int c, int b);
void report_format_bus_eq_block(report_writer *w, int c, int b);
// Group g's lines followed by its EQ block; nothing when no output carries g.
void report_format_out_group_block(report_writer *w, int c, int g);
void report_format_out_group_eq_block(report_writer *w, int c, int g);
void report_format_device_block(report_writer *w, int c);
void report_format_version_block(report_writer *w, int c);
// Project line 100 and the project list.
void report_format_project_block(report_writer *w, int c, int list_id);
// Everything a client needs to know: sent to each new client and on 1037.
void report_format_full_dump(report_writer *w);

// Lowest output of group g, or -1.
int report_format_first_out(int g);
