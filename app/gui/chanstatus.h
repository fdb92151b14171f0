// The channel status page ("CHANNEL STATUS"): the level and the gain
// reduction of every input bus and output in the shown level unit, the
// digital input's state and rate, and whether loading a project mutes the
// outputs. The level texts follow the level lines at most four times a
// second, and only while the page is on the screen.
#pragma once
#include <cstdint>

#include "sgui/sgui.h"

constexpr int CHANSTATUS_CHANNELS = 8;
constexpr uint32_t CHANSTATUS_PERIOD_MS = 250;

struct chanstatus_widgets {
    sgui_widget *root, *unit, *out_unit;  // the level columns' unit
    sgui_widget *bus_level[CHANSTATUS_CHANNELS], *bus_gr[CHANSTATUS_CHANNELS];
    sgui_widget *out_level[CHANSTATUS_CHANNELS], *out_gr[CHANSTATUS_CHANNELS];
    sgui_widget *digital, *load_mute;
    uint32_t shown_at;  // SDL ticks of the last level texts
};

// Builds the page and registers its listeners.
void chanstatus_init();
// Opens the page over the current screen.
void chanstatus_open();
// After each batch of reports: the level texts, when it is their time.
void chanstatus_refresh();
// The level texts now (tests).
void chanstatus_show_levels();
// The page, for tests (nullptr before init).
chanstatus_widgets *chanstatus_get();
