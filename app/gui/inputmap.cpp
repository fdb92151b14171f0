#include "gui/inputmap.h"

#include <cstdio>
#include <string>

#include "gui/channels.h"
#include "gui/chanstatus.h"
#include "gui/eq.h"
#include "gui/inputmap_properties.h"
#include "gui/levels.h"
#include "gui/screen.h"
#include "ids.h"
#include "network.h"
#include "sgui/sgui_widget.h"

namespace {

// Row: mute, number, name, patch, meter, outputs fed.
constexpr int NAME_PX = 106, PATCH_PX = 48, ROUTE_PX = 56;
constexpr int METER_PX = SGUI_SCREEN_W - CHANMAP_MUTE_PX - CHANMAP_NUMBER_PX - NAME_PX - PATCH_PX - ROUTE_PX;
constexpr int CELL_PX = 5, CELL_PITCH_PX = 6, CELL_H_PX = 10;

inputmap_widgets *m;
sgui_widget *bus_editor;

// Whether output o plays bus.
bool feeds(int bus, int o)
{
    channels_group *g = channels_group_get(channels_output_group(o));
    return g != nullptr && g->input == bus;
}

// The outputs a bus feeds: a cell per output, lit where the bus plays,
// the cells of one output group joined.
void route_draw(sgui_widget *w)
{
    if (!sgui_leaf_surface(w, w->view.w, w->view.h))
        return;
    sgui_fill_background(w);
    int y = (w->view.h - CELL_H_PX) / 2, x0 = (w->view.w - CHANNELS_OUTPUTS * CELL_PITCH_PX) / 2;
    for (int o = 0; o < CHANNELS_OUTPUTS; o++) {
        bool joined = o + 1 < CHANNELS_OUTPUTS && channels_output_group(o) == channels_output_group(o + 1);
        SDL_Rect cell = {(Sint16)(x0 + o * CELL_PITCH_PX), (Sint16)y,
                         (Uint16)(joined ? CELL_PITCH_PX : CELL_PX), (Uint16)CELL_H_PX};
        if (feeds(w->user, o))
            sgui_fill(w->s.get(), &cell, 0, 202, 24);
        else
            sgui_fill(w->s.get(), &cell, 60, 60, 60);
    }
    sgui_add_damage(w, 0, 0, INT_MAX, INT_MAX);
}

// In words: the groups the bus feeds, "1+2 5".
const char *route_describe(sgui_widget *w, char *text, size_t size)
{
    std::string t;
    for (int g = 0; g < CHANNELS_OUTPUTS; g++) {
        char outs[32];
        if (channels_group_get(g)->input != w->user || channels_group_outputs_text(g, outs, sizeof outs)[0] == '-')
            continue;
        t += (t.empty() ? "" : " ") + std::string(outs);
    }
    snprintf(text, size, "%s", t.empty() ? "-" : t.c_str());
    return "route";
}

void show_names()
{
    if (m == nullptr)
        return;
    for (int b = 0; b < CHANNELS_BUSES; b++) {
        sgui_set_text(m->rows[b].name, channels_bus_label(b));
        sgui_invalidate(m->rows[b].route);
    }
}

void show_bus(int bus)
{
    channels_bus *b = channels_bus_get(bus);
    if (m == nullptr || b == nullptr)
        return;
    char text[64];
    sgui_checkbox_set_ticked(m->rows[bus].mute, b->mute);
    sgui_set_text(m->rows[bus].patch, channels_patch_text(b->patch, text, sizeof text));
}

void on_bus_report(const command_arg *a, intptr_t)
{
    if (a->count >= 1)
        show_bus(a->v[0].i);
}

void on_level(const command_arg *a, intptr_t)
{
    channels_bus *b = channels_bus_get(a->v[0].i);
    if (m != nullptr && b != nullptr)
        meter_set(m->rows[a->v[0].i].meter, b->level, b->gr);
}

void on_unit()
{
    if (m == nullptr)
        return;
    chanmap_show_unit(&m->frame);
    meter_map_invalidate(&m->frame.meters);
}

void send_mute(int bus, int mute)
{
    char line[64];
    snprintf(line, sizeof line, "%d,%d,%d,%d\n", ID_BUS_MUTE, network_get_conn_id(), bus, mute);
    network_output_command(line);
    channels_bus_get(bus)->mute = mute;
}

void on_value(sgui_widget *x, int value, const char *)
{
    if (m == nullptr)
        return;
    int row = chanmap_row_of(&m->frame, x);
    if (row >= 0 && x == m->rows[row].mute) {
        // Enter toggles, a turn sets.
        if (value < 0) {
            sgui_checkbox_set_ticked(x, !sgui_checkbox_get_ticked(x));
            value = sgui_checkbox_get_ticked(x);
        }
        send_mute(row, value);
    } else if (row >= 0 && x == m->rows[row].name) {
        inputmap_properties_open(row);
    } else if (x == m->frame.props) {
        inputmap_properties_open(m->frame.selected);
    } else if (x == m->frame.eq) {
        eq_open(bus_editor, m->frame.selected);
    } else if (x == m->frame.status) {
        chanstatus_open();
    }
}

void free_map(sgui_widget *root)
{
    if (m != nullptr && m->frame.root == root) {
        chanmap_forget(&m->frame);
        delete m;
        m = nullptr;
    }
    root->data = nullptr;
}

}  // namespace

void inputmap_init(sgui_widget *bus_eq)
{
    bus_editor = bus_eq;
    m = new inputmap_widgets{};
    chanmap_build(&m->frame, "INPUT BUSES", on_value);
    m->frame.root->free_data = free_map;
    sgui_widget *order[CHANMAP_ROWS][2];
    for (int b = 0; b < CHANMAP_ROWS; b++) {
        sgui_widget *row = m->frame.rows[b];
        inputmap_row &r = m->rows[b];
        r.mute = chanmap_mute_box(row, SGUI_HORIZONTAL);
        chanmap_number(row, b);
        r.name = chanmap_button(row, NAME_PX, "");
        r.patch = chanmap_text(row, PATCH_PX, "", FONT_LEFT);
        r.meter = meter_new(&m->frame.meters, row, SGUI_HORIZONTAL, chanmap_w(METER_PX), chanmap_h(CHANMAP_ROW_PX));
        r.route = sgui_widget_box(row, SGUI_HORIZONTAL, chanmap_w(ROUTE_PX), chanmap_h(CHANMAP_ROW_PX), 0, route_draw);
        r.route->user = b;
        r.route->describe = route_describe;
        order[b][0] = r.mute;
        order[b][1] = r.name;
        show_bus(b);
    }
    chanmap_link_focus(&m->frame, &order[0][0], 2);
    show_names();
    channels_add_listener(show_names);
    levels_unit_add_listener(on_unit);
    network_add_listener(ID_BUS_MUTE, on_bus_report, 0);
    network_add_listener(ID_BUS_PATCH, on_bus_report, 0);
    network_add_listener(ID_BUS_LEVEL, on_level, 0);
    inputmap_properties_init(bus_eq);
}

void inputmap_open()
{
    if (m == nullptr)
        return;
    sgui_widget *focus = m->rows[m->frame.selected].name;
    if (screen_open(m->frame.root))
        sgui_focus_set(focus);
}

void inputmap_refresh_meters()
{
    if (m != nullptr)
        meter_map_refresh(&m->frame.meters);
}

inputmap_widgets *inputmap_get()
{
    return m;
}
