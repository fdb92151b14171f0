// The channel lists of the main menu: "INPUT BUSES" (one row per bus) and
// "OUTPUTS" (one row per output group); Enter on a row opens the EQ editor
// of that channel. Back returns to the main menu.
#pragma once
#include "sgui/sgui.h"

// Builds both lists, registers them as the main menu's entries and keeps
// their names from the server's reports. The editors are the roots that
// eq_init built for buses and for outputs.
void chanlist_init(sgui_widget *bus_eq, sgui_widget *out_eq);

// The screens and their rows (row i: bus i, or the group whose first
// output is output i), for tests.
struct chanlist_widgets {
    sgui_widget *inputs, *outputs;
    sgui_widget *input_rows[8], *output_rows[8];
};
const chanlist_widgets &chanlist_get();
