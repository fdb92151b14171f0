// The level unit shared by the channel screens: levels and thresholds come
// from the server in dBFS and are shown in the chosen unit.
#pragma once

constexpr int LEVELS_UNITS = 5;

struct levels_unit {
    int index;     // 0 dBu, 1 dBm, 2 dBV, 3 dBFS, 4 dBGR
    float offset;  // shown = server value - offset
};

// Allocates the record (once) and resets it to dBu.
levels_unit *levels_unit_init();
levels_unit *levels_unit_get();
// An index outside 0..4 changes nothing.
void levels_unit_set(int index);
const char *levels_unit_name(int index);
const char *levels_unit_short_name(int index);
float levels_to_shown(float server_value);
float levels_to_server(float shown_value);
