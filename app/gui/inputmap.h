// The input bus map: one row per input bus with its mute, its name (Enter
// opens its properties), the physical inputs it sums, its level meter and
// the outputs it feeds; at the bottom the entries for the selected bus's
// properties, EQ and channel status, and the level unit.
#pragma once
#include "gui/chanmap.h"
#include "sgui/sgui.h"

struct inputmap_row {
    sgui_widget *mute, *name, *patch, *meter, *route;
};

struct inputmap_widgets {
    chanmap_frame frame;
    inputmap_row rows[CHANMAP_ROWS];
};

// Builds the map and the bus properties screens and registers their
// listeners; bus_eq is the root of the bus EQ editor.
void inputmap_init(sgui_widget *bus_eq);
// Opens the map over the current screen.
void inputmap_open();
// After each batch of reports: the meters' band goes to the screen.
void inputmap_refresh_meters();
// The map, for tests (nullptr before inputmap_init).
inputmap_widgets *inputmap_get();
