// The panel's copy of the device's channels, kept from the server's
// reports: every input bus's parameters and level, every output's mute,
// group, way and level, every output group's parameters, and the delay
// settings. The screens read it and register their own listeners of the
// same reports after channels_init, so that they see the new values.
#pragma once
#include <cstddef>
#include <string>

constexpr int CHANNELS_BUSES = 8;
constexpr int CHANNELS_OUTPUTS = 8;
constexpr int CHANNELS_GROUP_OUTPUTS = 4;  // the most outputs a group has
constexpr int CHANNELS_DIGITAL_INPUTS = 8;
constexpr int CHANNELS_PHYSICAL_INPUTS = 4 + CHANNELS_DIGITAL_INPUTS;  // patch bits 0..11
constexpr float CHANNELS_SILENT = -382.3f;  // the level line of a silent channel, dBFS
constexpr float CHANNELS_RATIO_INFINITE = 100000000.0f;
constexpr float CHANNELS_OVERSHOOT_OFF = 256.0f;

struct channels_bus {
    std::string label;  // decoded
    unsigned patch;     // bit i: physical input i summed into the bus
    int mute;
    float gain;
    int polarity;
    float delay;     // in the delay unit
    float delay_ms;  // applied by the DSP
    float thres, ratio, knee, overshoot, attack, release, peak_release;
    int group_local, group_net;  // -1 none
    float level, gr;             // dBFS and gain reduction dB, from the level lines
};

struct channels_output {
    int mute;
    int group;  // -1 unknown
    int lsp_id;
    int way;  // way index held in its group: 0 full range, 1 high ... 8; -1 unknown
    float level, gr;
};

struct channels_group {
    std::string label, lsp_name;  // decoded
    int input;                    // input bus
    float gain;
    int polarity;
    float delay;     // in the delay unit
    float delay_ms;  // applied by the DSP
    int group_local, group_net;
};

struct channels_delay {
    int unit;  // 0 metres, 1 feet, 2 milliseconds
    float temperature;
    float max_output, max_bus;  // the largest delays, in the unit
};

// Registers the listeners (before the screens' own). Called once per
// network_init; resets the records to the server's start-up values.
void channels_init();
// Called after each change of a name or of the group map.
void channels_add_listener(void (*changed)());

// The records; nullptr for an index out of range.
channels_bus *channels_bus_get(int bus);
channels_output *channels_output_get(int output);
channels_group *channels_group_get(int group);
channels_delay &channels_delay_get();
int channels_system_flags();
int channels_digital_status();  // report 29's input status value
int channels_digital_io();      // the digital I/O word (report 63)

// The label of bus 0..7 ("" when unknown or out of range).
const char *channels_bus_label(int bus);
// The output group of output 0..7 (-1 when unknown or out of range).
int channels_output_group(int output);
// The outputs of a group in increasing order into out (the rest -1); the
// number of them.
int channels_group_outputs(int group, int out[CHANNELS_GROUP_OUTPUTS]);
const char *channels_group_label(int group);
// Whether every output of the group is muted (false for a group without).
bool channels_group_muted(int group);

// Screen names: "IN 3 VOCALS" for bus 2, "OUT 1+2 MAIN" for the group of
// outputs 0 and 1 ("OUT -" for a group without outputs).
const char *channels_bus_name(int bus, char *buf, size_t size);
const char *channels_group_name(int group, char *buf, size_t size);
// The group's outputs counted from 1: "1+2" ("-" when it has none).
const char *channels_group_outputs_text(int group, char *buf, size_t size);
// The physical inputs of a patch: "A+B", "C+DIG1", "-" for none.
const char *channels_patch_text(unsigned patch, char *buf, size_t size);
// The name of a way index on the output map ("HIGH" ... "RES"; "" for full range).
const char *channels_way_name(int way);
// The delay unit's name ("meter", "feet", "milliseconds").
const char *channels_delay_unit_name(int unit);
// A delay as shown: "12.0 milliseconds", or "4.1 meter (12.00 ms)".
const char *channels_delay_text(float delay, float delay_ms, char *buf, size_t size);
