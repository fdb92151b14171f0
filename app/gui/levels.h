// The level unit shared by the channel screens: levels and thresholds come
// from the server in dBFS and are shown in the chosen unit. With "dBGR" the
// maps' meters show the gain reduction instead of the level.
#pragma once
#include <cstddef>

constexpr int LEVELS_UNITS = 5;
constexpr int LEVELS_UNIT_GR = 4;

struct levels_unit {
    int index;     // 0 dBu, 1 dBm, 2 dBV, 3 dBFS, 4 dBGR
    float offset;  // shown = server value - offset
};

// Allocates the record (once) and resets it to dBu.
levels_unit *levels_unit_init();
levels_unit *levels_unit_get();
// An index outside 0..4 changes nothing. Tells the listeners when it changed.
void levels_unit_set(int index);
// The next unit after the current one (dBGR is followed by dBu).
void levels_unit_next();
// Called after each change of the unit (screens show it in their texts).
void levels_unit_add_listener(void (*changed)());
const char *levels_unit_name(int index);
const char *levels_unit_short_name(int index);
// Whether the meters show the gain reduction.
bool levels_shows_gr();
float levels_to_shown(float server_value);
float levels_to_server(float shown_value);
// A level line's value in the shown unit, one decimal ("-inf" below -120 dBFS).
const char *levels_text(float server_value, char *buf, size_t size);
