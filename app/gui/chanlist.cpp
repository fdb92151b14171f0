#include "gui/chanlist.h"

#include <string>

#include "gui/channels.h"
#include "gui/eq.h"
#include "gui/mainmenu.h"
#include "gui/screen.h"
#include "sgui/sgui_widget.h"

namespace {

chanlist_widgets w;
sgui_widget *bus_editor, *out_editor;

// A row for every bus; for the outputs a row for the first output of each
// group, the others hidden.
void show_names()
{
    char name[256];
    for (int b = 0; b < CHANNELS_BUSES; b++)
        sgui_set_text(w.input_rows[b], channels_bus_name(b, name, sizeof name));
    for (int o = 0; o < CHANNELS_OUTPUTS; o++) {
        int g = channels_output_group(o);
        int outs[CHANNELS_GROUP_OUTPUTS];
        bool first = g >= 0 && channels_group_outputs(g, outs) > 0 && outs[0] == o;
        if (first)
            sgui_set_text(w.output_rows[o], channels_group_name(g, name, sizeof name));
        if (w.output_rows[o]->hidden == first)
            sgui_set_hidden(w.output_rows[o], !first);
    }
}

void on_row(sgui_widget *x, int, const char *)
{
    for (int i = 0; i < 8; i++) {
        if (x == w.input_rows[i])
            eq_open(bus_editor, i);
        else if (x == w.output_rows[i])
            eq_open(out_editor, i);
    }
}

int on_key(sgui_widget *, int keys, int)
{
    keys = mainmenu_lock_keys(keys);
    if (keys & SGUI_KEY_BACK) {
        screen_back();
        keys &= ~SGUI_KEY_BACK;
    }
    return keys;
}

sgui_widget *build(const char *title, sgui_widget *rows[8])
{
    sgui_widget *root = sgui_widget_container(nullptr, 0, SGUI_UNITS, SGUI_UNITS);
    root->key = on_key;
    sgui_widget *page = sgui_widget_container(root, SGUI_HORIZONTAL, SGUI_UNITS, SGUI_UNITS);
    page->event_val = on_row;
    sgui_widget *top = sgui_widget_container(page, SGUI_VERTICAL, SGUI_UNITS, SGUI_LABEL_H);
    top->colour[0] = top->colour[1] = top->colour[2] = 48;
    sgui_widget_label(top, SGUI_HORIZONTAL, SGUI_UNITS, SGUI_LABEL_H, ("\x60" + std::string(title)).c_str(), 1);
    for (int i = 0; i < 8; i++)
        rows[i] = sgui_widget_button(page, SGUI_VERTICAL, -1, -1, "");
    return root;
}

void open_inputs()
{
    screen_open(w.inputs);
}

void open_outputs()
{
    screen_open(w.outputs);
}

}  // namespace

void chanlist_init(sgui_widget *bus_eq, sgui_widget *out_eq)
{
    bus_editor = bus_eq;
    out_editor = out_eq;
    w.inputs = build("INPUT BUSES", w.input_rows);
    w.outputs = build("OUTPUTS", w.output_rows);
    show_names();
    channels_add_listener(show_names);
    mainmenu_set_opener(MAINMENU_INPUT_BUSES, open_inputs);
    mainmenu_set_opener(MAINMENU_OUTPUTS, open_outputs);
}

const chanlist_widgets &chanlist_get()
{
    return w;
}
