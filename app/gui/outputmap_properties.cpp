#include "gui/outputmap_properties.h"

#include <algorithm>
#include <cstdio>
#include <iterator>
#include <string>

#include "common/db_text.h"
#include "gui/channels.h"
#include "gui/eq.h"
#include "gui/lspselect.h"
#include "gui/screen.h"
#include "ids.h"
#include "network.h"
#include "sgui/sgui_spinner.h"
#include "sgui/sgui_widget.h"

namespace {

constexpr const char *WHO = "outputmap_properties";
constexpr const char *group_words[] = {"<CLEAR>", "PA",  "LEFT",  "RIGHT", "MONO",  "SUB", "FRONT",
                                       "NEAR",    "MON", "DELAY", "UPPER", "MID",   "LOWER"};

outputmap_properties_widgets *p;
sgui_widget *out_editor;

using widgets = outputmap_properties_widgets;

// Controls whose command carries the spinner's text, parsed back into the copy.
struct text_field {
    sgui_widget *widgets::*control;
    int id;
    float channels_group::*field;
};
constexpr text_field text_fields[] = {
    {&widgets::gain, ID_GROUP_GAIN, &channels_group::gain},
    {&widgets::delay, ID_GROUP_DELAY, &channels_group::delay},
};

// Controls whose command carries the selection, less offset.
struct choice_field {
    sgui_widget *widgets::*control;
    int id;
    int offset;
    int channels_group::*field;
};
constexpr choice_field choice_fields[] = {
    {&widgets::input, ID_GROUP_INPUT, 1, &channels_group::input},
    {&widgets::polarity, ID_GROUP_POLARITY, 0, &channels_group::polarity},
    {&widgets::local, ID_GROUP_LOCAL_LINK, 1, &channels_group::group_local},
    {&widgets::net, ID_GROUP_NETWORK_LINK, 1, &channels_group::group_net},
};

channels_group &shown()
{
    return *channels_group_get(p->group);
}

void show_names()
{
    char name[256];
    sgui_set_text(p->s.header, channels_group_name(p->group, name, sizeof name));
    sgui_set_text(p->loudspeaker_info, shown().lsp_name.c_str());
}

void show_delay()
{
    channels_group &g = shown();
    char text[64];
    sgui_spinner_set_range(p->delay, 0, std::max(0.0f, channels_delay_get().max_output));
    sgui_spinner_set_value(p->delay, g.delay);
    sgui_set_text(p->delay_info, channels_delay_text(g.delay, g.delay_ms, text, sizeof text));
}

void show_field(int id)
{
    channels_group &g = shown();
    for (const text_field &t : text_fields)
        if (t.id == id && t.id != ID_GROUP_DELAY)
            sgui_spinner_set_value(p->*t.control, g.*t.field);
    for (const choice_field &k : choice_fields)
        if (k.id == id)
            sgui_spinner_set_value(p->*k.control, g.*k.field + k.offset);
    if (id == ID_GROUP_DELAY || id == ID_GROUP_APPLIED_DELAY || id == ID_DELAY_SETTINGS)
        show_delay();
    if (id == ID_GROUP_LOUDSPEAKER || id == ID_GROUP_LABEL)
        show_names();
}

constexpr int shown_fields[] = {ID_GROUP_GAIN,         ID_GROUP_POLARITY,   ID_GROUP_INPUT,
                                ID_GROUP_LOCAL_LINK,   ID_GROUP_NETWORK_LINK, ID_GROUP_DELAY,
                                ID_GROUP_APPLIED_DELAY, ID_GROUP_LOUDSPEAKER, ID_GROUP_LABEL};

void show_all()
{
    for (int id : shown_fields)
        show_field(id);
}

// A report of the group shown: its control follows, unless it is the
// echo of our own change.
void on_report(const command_arg *a, intptr_t)
{
    if (p == nullptr)
        return;
    if (a->id == ID_DELAY_SETTINGS) {
        show_delay();
        return;
    }
    if (a->count < 1 || a->v[0].i != p->group)
        return;
    int me = network_get_conn_id();
    if (me > 0 && a->org == me && a->id != ID_GROUP_LABEL && a->id != ID_GROUP_LOUDSPEAKER)
        return;
    show_field(a->id);
}

// The group map changed: the group's outputs (header), and after an
// assignment the group's values arrive again.
void on_names()
{
    if (p != nullptr)
        show_names();
}

void send_label(int group, const char *label)
{
    std::string enc = db_text_encode(labeledit_cut(label));
    if (chanprops_send(WHO, "%d,%d,%d,%s\n", ID_GROUP_LABEL, network_get_conn_id(), group, enc.c_str()))
        channels_group_get(group)->label = labeledit_cut(label);
}

void send_control(sgui_widget *x, int value, const char *text)
{
    channels_group &g = shown();
    int c = network_get_conn_id(), group = p->group;
    for (const text_field &t : text_fields) {
        float f;
        if (x == p->*t.control && chanprops_send(WHO, "%d,%d,%d,%s\n", t.id, c, group, text) &&
            sscanf(text, "%f", &f) == 1)
            g.*t.field = f;
    }
    for (const choice_field &k : choice_fields)
        if (x == p->*k.control && chanprops_send(WHO, "%d,%d,%d,%d\n", k.id, c, group, value - k.offset))
            g.*k.field = value - k.offset;
}

void on_value(sgui_widget *x, int value, const char *text)
{
    if (p == nullptr)
        return;
    char name[256];
    int outs[CHANNELS_GROUP_OUTPUTS];
    if (x == p->label) {
        labeledit_open(p->labels, p->group, channels_group_name(p->group, name, sizeof name), shown().label.c_str());
    } else if (x == p->loudspeaker) {
        lspselect_open(p->group);
    } else if (x == p->eq) {
        if (channels_group_outputs(p->group, outs) > 0)
            eq_open(out_editor, outs[0]);
    } else if (x->kind == SGUI_KIND_SPINNER) {
        send_control(x, value, text != nullptr ? text : "");
    }
}

void free_screen(sgui_widget *root)
{
    if (p != nullptr && p->s.root == root) {
        if (sgui_widget_alive(p->label_root))
            sgui_widget_free(p->label_root);
        delete p;
        p = nullptr;
    }
}

void build()
{
    chanprops_screen &s = p->s;
    chanprops_build(&s, "OUTPUT", on_value);
    s.root->free_data = free_screen;
    p->label = chanprops_button(&s, "LABEL...");
    p->loudspeaker = chanprops_button(&s, "LOUDSPEAKER...");
    p->loudspeaker_info = chanprops_info(&s);
    p->eq = chanprops_button(&s, "EQ...");
    p->input = chanprops_spinner(&s, "INPUT BUS", 1, 1, CHANNELS_BUSES, 0, 1);
    p->gain = chanprops_spinner(&s, "GAIN dB", -60, 0, 20, SPINNER_FLOAT1, 0.1);
    p->polarity = chanprops_spinner(&s, "POLARITY", 0, 0, 1, SPINNER_POLARITY, 1);
    p->delay = chanprops_spinner(&s, "DELAY", 0, 0, 0, SPINNER_FLOAT1, 0.1);
    p->delay_info = chanprops_info(&s);
    chanprops_section(&s, "OUTPUT LINK GROUPS");
    p->local = chanprops_spinner(&s, "LOCAL LINK", 0, 0, 4, SPINNER_DASH, 1);
    p->net = chanprops_spinner(&s, "NETWORK LINK", 0, 0, 8, SPINNER_DASH, 1);
    chanprops_finish(&s);
    p->labels = labeledit_new(group_words, std::size(group_words), send_label);
    p->label_root = p->labels->root;  // may be freed before this screen (tests free the one shown first)
}

}  // namespace

void outputmap_properties_init(sgui_widget *out_eq)
{
    out_editor = out_eq;
    p = new outputmap_properties_widgets{};
    build();
    show_all();
    for (int id : shown_fields)
        network_add_listener(id, on_report, 0);
    network_add_listener(ID_DELAY_SETTINGS, on_report, 0);
    channels_add_listener(on_names);
    lspselect_init();
}

void outputmap_properties_open(int group)
{
    if (p == nullptr || channels_group_get(group) == nullptr)
        return;
    p->group = group;
    show_names();
    show_all();
    if (screen_open(p->s.root))
        chanprops_focus_first(&p->s);
}

outputmap_properties_widgets *outputmap_properties_get()
{
    return p;
}
