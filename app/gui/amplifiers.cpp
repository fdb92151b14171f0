#include "gui/amplifiers.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "gui/chanmap.h"
#include "gui/project.h"
#include "gui/screen.h"
#include "network.h"
#include "sgui/sgui_spinner.h"
#include "sgui/sgui_widget.h"

namespace {

constexpr int TITLE_PX = 25, ROW_PX = 23, STEP_W = 50, GAIN_MAX = 48;

amplifiers_widgets w;
int peak[AMPLIFIERS_OUTPUTS];

void send(int o)
{
    peak[o] = amplifiers_peak_of_pmax(sgui_spinner_get_value(w.pmax[o]));
    char line[64];
    snprintf(line, sizeof line, "%d,%d,%d\n", o, sgui_spinner_get_value(w.gain[o]), peak[o]);
    project_send(24, line);
}

void on_value(sgui_widget *x, int, const char *)
{
    for (int o = 0; o < AMPLIFIERS_OUTPUTS; o++)
        if (x == w.gain[o] || x == w.pmax[o])
            send(o);
}

void on_amplifier(const command_arg *a, intptr_t)
{
    int o = a->v[0].i;
    if (a->count < 3 || o < 0 || o >= AMPLIFIERS_OUTPUTS)
        return;
    peak[o] = a->v[2].i;
    sgui_spinner_set_value(w.gain[o], a->v[1].i);
    sgui_spinner_set_value(w.pmax[o], amplifiers_pmax_of_peak(a->v[2].i));
}

sgui_widget *cell(sgui_widget *row, int px, const char *text)
{
    sgui_widget *l = sgui_widget_label(row, SGUI_HORIZONTAL, chanmap_w(px), chanmap_h(ROW_PX), text, 0);
    sgui_set_font(l, CHANMAP_SMALL_FONT);
    return l;
}

}  // namespace

int amplifiers_pmax_of_peak(int v)
{
    double p = (double)v * v / 8.0;
    if (p > AMPLIFIERS_PMAX_TOP)
        return AMPLIFIERS_PMAX_TOP + STEP_W;
    return std::max(STEP_W, (int)std::lround(p / STEP_W) * STEP_W);
}

int amplifiers_peak_of_pmax(int p)
{
    if (p > AMPLIFIERS_PMAX_TOP)
        return AMPLIFIERS_PEAK_UNLIMITED;
    return std::max(20, (int)std::lround(std::sqrt(8.0 * p)));
}

void amplifiers_init()
{
    w = {};
    sgui_widget *page;
    w.root = screen_new_page("AMPLIFIERS", TITLE_PX, on_value, &page);
    page->flags |= SGUI_NOSCROLL;
    sgui_widget *head = sgui_widget_container(page, SGUI_VERTICAL, SGUI_UNITS, chanmap_h(ROW_PX));
    cell(head, 80, "");
    cell(head, 110, "GAIN dB");
    cell(head, 130, "Pmax 4\u03A9");
    sgui_widget *order[2 * AMPLIFIERS_OUTPUTS];
    for (int o = 0; o < AMPLIFIERS_OUTPUTS; o++) {
        sgui_widget *row = sgui_widget_container(page, SGUI_VERTICAL, SGUI_UNITS, chanmap_h(ROW_PX));
        char name[16];
        snprintf(name, sizeof name, "OUT %d", o + 1);
        cell(row, 80, name);
        w.gain[o] = sgui_widget_spinner(row, SGUI_HORIZONTAL, chanmap_w(110), chanmap_h(ROW_PX), 0, 32, GAIN_MAX, 0,
                                        1, 1);
        w.pmax[o] = sgui_widget_spinner(row, SGUI_HORIZONTAL, chanmap_w(130), chanmap_h(ROW_PX), STEP_W,
                                        AMPLIFIERS_PMAX_TOP + STEP_W, AMPLIFIERS_PMAX_TOP + STEP_W, SPINNER_INT_INF,
                                        STEP_W, 1);
        order[2 * o] = w.gain[o];
        order[2 * o + 1] = w.pmax[o];
        peak[o] = AMPLIFIERS_PEAK_UNLIMITED;
    }
    sgui_focus_chain(order, 2 * AMPLIFIERS_OUTPUTS);
    network_add_listener(24, on_amplifier, 0);
}

void amplifiers_open()
{
    if (screen_open(w.root))
        sgui_focus_set(w.gain[0]);
}

amplifiers_widgets *amplifiers_get()
{
    return &w;
}
