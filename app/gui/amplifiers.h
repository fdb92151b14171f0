// "AMPLIFIERS": per output the gain of the amplifier behind it and its
// power at 4 Ω, from which the server derives the output limiter.
#pragma once
#include "sgui/sgui.h"

constexpr int AMPLIFIERS_OUTPUTS = 8;
// The largest power the page offers, W; one step above it is "no limit".
constexpr int AMPLIFIERS_PMAX_TOP = 5000;
// The peak voltage the server keeps for an amplifier without a limit.
constexpr int AMPLIFIERS_PEAK_UNLIMITED = 100000000;

struct amplifiers_widgets {
    sgui_widget *root;
    sgui_widget *gain[AMPLIFIERS_OUTPUTS], *pmax[AMPLIFIERS_OUTPUTS];
};

void amplifiers_init();
void amplifiers_open();
amplifiers_widgets *amplifiers_get();

// Power at 4 Ω of a sine with the peak voltage, rounded to the page's
// 50 W steps (the top step + 50 when unlimited), and back.
int amplifiers_pmax_of_peak(int peak_voltage);
int amplifiers_peak_of_pmax(int pmax);
