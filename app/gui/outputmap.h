// The output map: one row per output with its mute, its number and way
// (Enter opens its group's properties), its group's mute, input bus and
// name (on the group's first row; the rows of one group are joined by a
// line), and its level meter; at the bottom the entries for the selected
// output's group properties, EQ and channel status, and the level unit.
#pragma once
#include "gui/chanmap.h"
#include "sgui/sgui.h"

struct outputmap_row {
    sgui_widget *mute, *name, *group_mute, *input, *group, *meter;
};

struct outputmap_widgets {
    chanmap_frame frame;
    outputmap_row rows[CHANMAP_ROWS];
};

// Builds the map, the output properties and the loudspeaker selection and
// registers their listeners; out_eq is the root of the output EQ editor.
void outputmap_init(sgui_widget *out_eq);
void outputmap_open();
// After each batch of reports: the meters' band goes to the screen.
void outputmap_refresh_meters();
// The map, for tests (nullptr before outputmap_init).
outputmap_widgets *outputmap_get();
