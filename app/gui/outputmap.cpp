#include "gui/outputmap.h"

#include <cstdio>
#include <string>

#include "gui/channels.h"
#include "gui/chanstatus.h"
#include "gui/eq.h"
#include "gui/levels.h"
#include "gui/outputmap_properties.h"
#include "gui/screen.h"
#include "ids.h"
#include "network.h"
#include "sgui/sgui_widget.h"

namespace {

// Row: mute, number, way, group mute, input bus, group name, meter.
constexpr int WAY_PX = 50, INPUT_PX = 36, GROUP_PX = 100;
constexpr int METER_PX = SGUI_SCREEN_W - 2 * CHANMAP_MUTE_PX - CHANMAP_NUMBER_PX - WAY_PX - INPUT_PX - GROUP_PX;

outputmap_widgets *m;
sgui_widget *out_editor;

// Where output o stands in its group: its index there, and the group's size.
int place_in_group(int o, int *size)
{
    int outs[CHANNELS_GROUP_OUTPUTS];
    *size = channels_group_outputs(channels_output_group(o), outs);
    for (int i = 0; i < *size; i++)
        if (outs[i] == o)
            return i;
    return -1;
}

void link_focus()
{
    sgui_widget *order[CHANMAP_ROWS][3];
    for (int o = 0; o < CHANMAP_ROWS; o++) {
        order[o][0] = m->rows[o].mute;
        order[o][1] = m->rows[o].name;
        order[o][2] = m->rows[o].group_mute->focusable ? m->rows[o].group_mute : nullptr;
    }
    chanmap_link_focus(&m->frame, &order[0][0], 3);
    sgui_widget *f = sgui_focus();
    int row = f != nullptr ? chanmap_row_of(&m->frame, f) : -1;
    if (row >= 0 && !f->focusable)
        sgui_focus_set(m->rows[row].name);
}

// The rows after a change of the group map, the names or the inputs.
void show_groups()
{
    if (m == nullptr)
        return;
    for (int o = 0; o < CHANNELS_OUTPUTS; o++) {
        outputmap_row &r = m->rows[o];
        channels_output *out = channels_output_get(o);
        channels_group *g = channels_group_get(out->group);
        int size = 0, at = place_in_group(o, &size);
        // A full-range output has no way name.
        const char *way = channels_way_name(out->way);
        sgui_set_text(r.name, way[0] != 0 ? way : "OUT");
        chanmap_group_box(r.group_mute, at <= 0, at + 1 < size);
        sgui_checkbox_set_ticked(r.group_mute, channels_group_muted(out->group));
        std::string name, input;
        if (g != nullptr && at == 0) {
            name = g->label.empty() ? g->lsp_name : g->label;
            input = "IN" + std::to_string(g->input + 1);
        } else if (g != nullptr && at == 1 && !g->label.empty()) {
            name = g->lsp_name;  // the loudspeaker under the group's label
        }
        sgui_set_text(r.input, input.c_str());
        sgui_set_text(r.group, name.c_str());
    }
    link_focus();
}

void show_mutes()
{
    if (m == nullptr)
        return;
    for (int o = 0; o < CHANNELS_OUTPUTS; o++) {
        sgui_checkbox_set_ticked(m->rows[o].mute, channels_output_get(o)->mute);
        sgui_checkbox_set_ticked(m->rows[o].group_mute, channels_group_muted(channels_output_group(o)));
    }
}

void on_mute(const command_arg *, intptr_t)
{
    show_mutes();
}

void on_group_report(const command_arg *, intptr_t)
{
    show_groups();
}

void on_level(const command_arg *a, intptr_t)
{
    channels_output *o = channels_output_get(a->v[0].i);
    if (m != nullptr && o != nullptr)
        meter_set(m->rows[a->v[0].i].meter, o->level, o->gr);
}

void on_unit()
{
    if (m == nullptr)
        return;
    chanmap_show_unit(&m->frame);
    meter_map_invalidate(&m->frame.meters);
}

void send_output_mute(int o, int mute)
{
    char line[64];
    snprintf(line, sizeof line, "%d,%d,%d,%d\n", ID_OUTPUT_MUTE, network_get_conn_id(), o, mute);
    network_output_command(line);
    channels_output_get(o)->mute = mute;
}

void send_group_mute(int group, int mute)
{
    char line[64];
    snprintf(line, sizeof line, "%d,%d,%d,%d\n", ID_GROUP_MUTE, network_get_conn_id(), group, mute);
    network_output_command(line);
    for (int o = 0; o < CHANNELS_OUTPUTS; o++)
        if (channels_output_group(o) == group)
            channels_output_get(o)->mute = mute;
}

// Enter toggles a check box; a turn has set it already.
int box_value(sgui_widget *x, int value)
{
    if (value < 0)
        sgui_checkbox_set_ticked(x, !sgui_checkbox_get_ticked(x));
    return sgui_checkbox_get_ticked(x);
}

void on_value(sgui_widget *x, int value, const char *)
{
    if (m == nullptr)
        return;
    int row = chanmap_row_of(&m->frame, x);
    int selected_group = channels_output_group(m->frame.selected);
    if (row >= 0 && x == m->rows[row].mute) {
        send_output_mute(row, box_value(x, value));
        show_mutes();
    } else if (row >= 0 && x == m->rows[row].group_mute) {
        send_group_mute(channels_output_group(row), box_value(x, value));
        show_mutes();
    } else if (row >= 0 && x == m->rows[row].name) {
        outputmap_properties_open(channels_output_group(row));
    } else if (x == m->frame.props) {
        outputmap_properties_open(selected_group);
    } else if (x == m->frame.eq) {
        eq_open(out_editor, m->frame.selected);
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

void outputmap_init(sgui_widget *out_eq)
{
    out_editor = out_eq;
    m = new outputmap_widgets{};
    chanmap_build(&m->frame, "OUTPUTS", on_value);
    m->frame.root->free_data = free_map;
    for (int o = 0; o < CHANMAP_ROWS; o++) {
        sgui_widget *row = m->frame.rows[o];
        outputmap_row &r = m->rows[o];
        r.mute = chanmap_mute_box(row, SGUI_HORIZONTAL);
        chanmap_number(row, o);
        r.name = chanmap_button(row, WAY_PX, "");
        r.group_mute = chanmap_mute_box(row, SGUI_HORIZONTAL);
        r.input = chanmap_text(row, INPUT_PX, "", FONT_LEFT);
        r.group = chanmap_text(row, GROUP_PX, "", FONT_LEFT);
        r.meter = meter_new(&m->frame.meters, row, SGUI_HORIZONTAL, chanmap_w(METER_PX), chanmap_h(CHANMAP_ROW_PX));
    }
    show_groups();
    show_mutes();
    channels_add_listener(show_groups);
    levels_unit_add_listener(on_unit);
    network_add_listener(ID_OUTPUT_MUTE, on_mute, 0);
    network_add_listener(ID_GROUP_MAP, on_mute, 0);
    network_add_listener(ID_GROUP_LOUDSPEAKER, on_group_report, 0);
    network_add_listener(ID_OUTPUT_LEVEL, on_level, 0);
    outputmap_properties_init(out_eq);
}

void outputmap_open()
{
    if (m == nullptr)
        return;
    sgui_widget *focus = m->rows[m->frame.selected].name;
    if (screen_open(m->frame.root))
        sgui_focus_set(focus);
}

void outputmap_refresh_meters()
{
    if (m != nullptr)
        meter_map_refresh(&m->frame.meters);
}

outputmap_widgets *outputmap_get()
{
    return m;
}
