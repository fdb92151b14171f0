// The input bus properties screen: every parameter of one bus (label,
// physical inputs, gain, polarity, delay, dynamics, link groups) with one
// command line per change, kept in step with the server's reports; and its
// sub-screens "LABEL" and "ASSIGN PHYSICAL INPUTS".
#pragma once
#include "gui/chanmap.h"
#include "gui/chanprops.h"
#include "gui/labeledit.h"
#include "sgui/sgui.h"

constexpr int INPUTMAP_PHYSICAL_INPUTS = 12;
// The overshoot spinner's top, shown "OFF" and sent as 256.
constexpr double INPUTMAP_OVERSHOOT_OFF_AT = 31.0;

struct inputmap_properties_widgets {
    chanprops_screen s;
    int bus;  // shown
    sgui_widget *label, *assign, *eq;
    sgui_widget *gain, *polarity, *delay, *delay_info;
    sgui_widget *thres, *ratio, *knee, *overshoot, *attack, *release, *peak_release;
    sgui_widget *local, *net;
    labeledit_screen *labels;
    sgui_widget *label_root;  // freed with this screen
    // "ASSIGN PHYSICAL INPUTS"
    sgui_widget *assign_root, *assign_header;
    sgui_widget *inputs[INPUTMAP_PHYSICAL_INPUTS];  // bit i of the patch
};

// Builds the screens and registers their listeners (bus_eq: the bus EQ
// editor the "EQ..." entry opens).
void inputmap_properties_init(sgui_widget *bus_eq);
// Shows a bus and opens the screen over the current one.
void inputmap_properties_open(int bus);
// The screen, for tests (nullptr before init).
inputmap_properties_widgets *inputmap_properties_get();
