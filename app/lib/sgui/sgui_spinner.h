// The spinner: a value edited with the encoder, shown as a number or as one
// of the texts of its type. Values are 16.16 fixed point.
#pragma once
#include "sgui/sgui.h"

enum sgui_spinner_type {
    SPINNER_ETHSWITCHMODE = -20,
    SPINNER_INT_INF = -18,  // "%d", "∞" at the maximum
    SPINNER_OFF_MAX = -17,  // "OFF" at the maximum
    SPINNER_AUTO = -16,     // "AUTO" at 0
    SPINNER_ANALOG = -15,
    SPINNER_MAGNITUDE = -14,
    SPINNER_NETMODE = -13,
    SPINNER_OUTPAIR = -12,
    SPINNER_AVB = -11,
    SPINNER_HPFTYPE = -10,
    SPINNER_FREQ = -9,
    SPINNER_GEQ = -8,
    SPINNER_INT_INF2 = -7,
    SPINNER_DELAYUNIT = -6,
    SPINNER_ONOFF = -5,
    SPINNER_KNEE = -4,      // 0, 3, 6, 9, 12
    SPINNER_RATIO = -3,     // 1, 2, 4, 8, 12, 20, ∞
    SPINNER_POLARITY = -2,
    SPINNER_DASH = -1,      // "–" at 0
    SPINNER_FLOAT1 = 1,
    SPINNER_FLOAT2 = 2,
};

struct sgui_spinner_data {
    int val, max, min, step;  // 16.16
    int type;
    int immediate;  // 1: every change is reported; 0: Enter commits; < 0: Enter is not ours
    int committed;
    char text[32];
    int fine;
};

// immediate > 0 reports every change; otherwise a change is only shown
// until Enter commits it (key 32 goes back to the committed value).
sgui_widget *sgui_widget_spinner(sgui_widget *par, int flags, int w, int h, double min, double value, double max,
                                 int type, double step, int immediate);

void sgui_spinner_set_value(sgui_widget *w, double value);
int sgui_spinner_get_value(sgui_widget *w);  // integer part
double sgui_spinner_get_double(sgui_widget *w);
void sgui_spinner_set_range(sgui_widget *w, double min, double max);
const char *sgui_spinner_get_text(sgui_widget *w);
sgui_spinner_data *sgui_spinner_data_of(sgui_widget *w);
