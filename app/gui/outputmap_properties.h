// The output properties screen: every parameter of one output group
// (label, loudspeaker, input bus, gain, polarity, delay, link groups) with
// one command line per change, kept in step with the server's reports.
#pragma once
#include "gui/chanprops.h"
#include "gui/labeledit.h"
#include "sgui/sgui.h"

struct outputmap_properties_widgets {
    chanprops_screen s;
    int group;  // shown
    sgui_widget *label, *loudspeaker, *loudspeaker_info, *eq;
    sgui_widget *input, *gain, *polarity, *delay, *delay_info, *local, *net;
    labeledit_screen *labels;
    sgui_widget *label_root;  // freed with this screen
};

// Builds the screen (and the loudspeaker selection) and registers their
// listeners; out_eq is the output EQ editor the "EQ..." entry opens.
void outputmap_properties_init(sgui_widget *out_eq);
// Shows a group and opens the screen over the current one.
void outputmap_properties_open(int group);
// The screen, for tests (nullptr before init).
outputmap_properties_widgets *outputmap_properties_get();
