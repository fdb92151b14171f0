// The names of the device's channels as the screens show them, kept from
// the server's reports: the input bus labels (report 9), the output group
// of each output (report 32) and the output group labels (report 35).
#pragma once
#include <cstddef>

constexpr int CHANNELS_BUSES = 8;
constexpr int CHANNELS_OUTPUTS = 8;
constexpr int CHANNELS_GROUP_OUTPUTS = 4;  // the most outputs a group has

// Registers the listeners (before the screens that read the names, so that
// their own listeners of the same reports see the new names). Called once.
void channels_init();
// Called after each change of a name or of the group map.
void channels_add_listener(void (*changed)());

// The label of bus 0..7 ("" when unknown or out of range).
const char *channels_bus_label(int bus);
// The output group of output 0..7 (-1 when unknown or out of range).
int channels_output_group(int output);
// The outputs of a group in increasing order into out (the rest -1); the
// number of them.
int channels_group_outputs(int group, int out[CHANNELS_GROUP_OUTPUTS]);
const char *channels_group_label(int group);

// Screen names: "IN 3 VOCALS" for bus 2, "OUT 1+2 MAIN" for the group of
// outputs 0 and 1 ("OUT -" for a group without outputs).
const char *channels_bus_name(int bus, char *buf, size_t size);
const char *channels_group_name(int group, char *buf, size_t size);
