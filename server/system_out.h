// Output groups and outputs. A group (group_lsp 0 to 7) is a run of
// consecutive outputs that play one loudspeaker preset, one way each. Its
// group-level values (gain, phase, delay, EQ, label, input, link groups)
// live in the group's first output and are copied into the others after
// every change; only the mute is also per output.
//
// Operations check their group and values (limits inclusive, NaN
// rejected), write the first output, sync the group and mark it with
// report_output; a rejected call prints one line and changes nothing.
#pragma once
#include <cstdint>

// The longest output delay, ms (the float nearest 156.66667).
constexpr float SYSTEM_OUT_DELAY_MAX_MS = 156.66667f;

// Lowest output of the group, or -1 after "find_first_out: group not active".
int find_first_out(int group);

// Copies the group-level head of output o's record (up to its way) into
// every other output of its group and marks each of them.
void sync_group_outputs(int o);

// Takes output o out of its group: muted, into the lowest unused group
// number with library entry 0 ("Direct%20Out", one full-range way; the
// record's built-in copy of it when the library cannot be read), reported
// with the group map.
void free_output_channel(int conn, int o);

// Assigns library entry id to group g: the group takes as many consecutive
// outputs as the loudspeaker has ways, one way each (first its own outputs,
// then those after it, then those before it), frees outputs it no longer
// needs, and frees every output of a group left with fewer outputs than its
// loudspeaker needs. Taken outputs are muted unless keep_mute is set. With
// first_out >= 0 (project loading) the group starts at that output instead
// of where it is now. The group keeps its own group-level values. Reported
// with the group map; the whole group is uploaded again.
void system_out_group_lsp_set(int conn, int g, int id, int keep_mute, int first_out);

void system_out_group_label(int conn, int group, const char *label);
// Sets the mute of every output of the group.
void system_out_group_set_mute(int conn, int group, int mute);
void system_out_group_set_gain(int conn, int group, float gain);
void system_out_group_set_phase(int conn, int group, int phase);
void system_out_group_set_grp_local(int conn, int group, int local);
void system_out_group_set_grp_net(int conn, int group, int net);
void system_out_group_set_input(int conn, int group, int bus);
void system_out_group_set_eq_flags(int conn, int group, int flags);
void system_out_group_set_peq(int conn, int group, int band, float freq, float q, float gain, int bypass);
void system_out_group_set_shelf(int conn, int group, int shelf, float freq, float gain, int bypass);
void system_out_group_set_hpf(int conn, int group, float freq, int kind, int bypass);
// value in the current delay unit, or in metres when metres is set (project loading).
void system_out_group_set_delay(int conn, int group, float value, int metres);

// Output 0 to 7: its own mute. Output -1 with mute 1: the alarm mute, which
// silences every output at once for 80 real-time cycles (again from now
// when repeated) without touching the stored mutes. The caller holds the
// command lock: the alarm writes the output gain words itself.
void system_out_set_mute(int conn, int o, int mute);

// Recomputes every output delay from its distance after the temperature or
// the delay unit changed, and marks each output with id 43. In milliseconds
// the time is kept and the distance follows it.
void system_out_recompute_delays(int conn);

// Copy flags of system_out_group_copy.
constexpr uint32_t OUT_COPY_INPUT = 0x1;
constexpr uint32_t OUT_COPY_GAIN = 0x2;
constexpr uint32_t OUT_COPY_PHASE = 0x4;
constexpr uint32_t OUT_COPY_DELAY = 0x8;
constexpr uint32_t OUT_COPY_HIGHPASS = 0x10;
constexpr uint32_t OUT_COPY_PEQ = 0x20;
constexpr uint32_t OUT_COPY_SHELF = 0x40;

// Copies the flagged values of group src onto group dst through the group
// setters (connection 0), with the bypass bits of the copied EQ sections,
// and tells conn "Output copied.".
void system_out_group_copy(int conn, int dst, int src, uint32_t flags);
