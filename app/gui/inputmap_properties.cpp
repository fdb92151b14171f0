#include "gui/inputmap_properties.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <iterator>
#include <string>

#include "common/db_text.h"
#include "gui/channels.h"
#include "gui/eq.h"
#include "gui/levels.h"
#include "gui/screen.h"
#include "ids.h"
#include "network.h"
#include "sgui/sgui_spinner.h"
#include "sgui/sgui_widget.h"

namespace {

constexpr const char *WHO = "inputmap_properties";
constexpr const char *bus_words[] = {"<CLEAR>", "PA",  "LEFT",  "RIGHT", "MONO",  "SUB", "FRONT",
                                     "NEAR",    "MON", "DELAY", "UPPER", "MID",   "LOWER", "PLAYER"};
constexpr const char *input_names[INPUTMAP_PHYSICAL_INPUTS] = {
    "ANALOG A",  "ANALOG B",  "ANALOG C",  "ANALOG D",  "DIGITAL 1", "DIGITAL 2",
    "DIGITAL 3", "DIGITAL 4", "DIGITAL 5", "DIGITAL 6", "DIGITAL 7", "DIGITAL 8"};
constexpr double THRES_MIN = -60, THRES_MAX = 0;  // dBFS
constexpr int RATIO_INFINITE_AT = 21;             // the ratio spinner's "∞"
constexpr int ASSIGN_TITLE_PX = 25, ASSIGN_HEADER_PX = 23, ASSIGN_ROW_PX = 24, CHECK_PX = 24;

inputmap_properties_widgets *p;
sgui_widget *bus_editor;

channels_bus &shown()
{
    return *channels_bus_get(p->bus);
}

void show_header()
{
    char name[256];
    channels_bus_name(p->bus, name, sizeof name);
    sgui_set_text(p->s.header, name);
    sgui_set_text(p->assign_header, name);
}

void show_delay()
{
    channels_bus &b = shown();
    char text[64];
    sgui_spinner_set_range(p->delay, 0, std::max(0.0f, channels_delay_get().max_bus));
    sgui_spinner_set_value(p->delay, b.delay);
    sgui_set_text(p->delay_info, channels_delay_text(b.delay, b.delay_ms, text, sizeof text));
}

void show_threshold()
{
    char caption[32];
    int unit = levels_unit_get() != nullptr ? levels_unit_get()->index : 0;
    snprintf(caption, sizeof caption, "THRESHOLD %s", levels_unit_short_name(unit));
    sgui_set_text(chanprops_caption_of(p->thres), caption);
    sgui_spinner_set_range(p->thres, levels_to_shown((float)THRES_MIN), levels_to_shown((float)THRES_MAX));
    sgui_spinner_set_value(p->thres, levels_to_shown(shown().thres));
}

void show_patch()
{
    for (int i = 0; i < INPUTMAP_PHYSICAL_INPUTS; i++)
        sgui_checkbox_set_ticked(p->inputs[i], (shown().patch >> i) & 1);
}

// Shows the field a report id carries.
void show_field(int id)
{
    channels_bus &b = shown();
    switch (id) {
    case ID_BUS_GAIN:
        sgui_spinner_set_value(p->gain, b.gain);
        break;
    case ID_BUS_POLARITY:
        sgui_spinner_set_value(p->polarity, b.polarity != 0);
        break;
    case ID_BUS_THRESHOLD:
        show_threshold();
        break;
    case ID_BUS_RATIO:
        sgui_spinner_set_value(p->ratio, b.ratio >= RATIO_INFINITE_AT ? RATIO_INFINITE_AT : b.ratio);
        break;
    case ID_BUS_KNEE:
        sgui_spinner_set_value(p->knee, b.knee);
        break;
    case ID_BUS_OVERSHOOT:
        sgui_spinner_set_value(p->overshoot, std::min<double>(b.overshoot, INPUTMAP_OVERSHOOT_OFF_AT));
        break;
    case ID_BUS_ATTACK:
        sgui_spinner_set_value(p->attack, b.attack);
        break;
    case ID_BUS_RELEASE:
        sgui_spinner_set_value(p->release, b.release);
        break;
    case ID_BUS_PEAK_RELEASE:
        sgui_spinner_set_value(p->peak_release, b.peak_release);
        break;
    case ID_BUS_LOCAL_LINK:
        sgui_spinner_set_value(p->local, b.group_local + 1);
        break;
    case ID_BUS_NETWORK_LINK:
        sgui_spinner_set_value(p->net, b.group_net + 1);
        break;
    case ID_BUS_PATCH:
        show_patch();
        break;
    case ID_BUS_DELAY:
    case ID_BUS_APPLIED_DELAY:
    case ID_DELAY_SETTINGS:
        show_delay();
        break;
    default:
        break;
    }
}

constexpr int shown_fields[] = {ID_BUS_GAIN,   ID_BUS_POLARITY,     ID_BUS_THRESHOLD,    ID_BUS_RATIO,
                                ID_BUS_KNEE,   ID_BUS_OVERSHOOT,    ID_BUS_ATTACK,       ID_BUS_RELEASE,
                                ID_BUS_PEAK_RELEASE, ID_BUS_LOCAL_LINK, ID_BUS_NETWORK_LINK, ID_BUS_PATCH,
                                ID_BUS_DELAY,  ID_BUS_APPLIED_DELAY};

void show_all()
{
    show_header();
    for (int id : shown_fields)
        show_field(id);
}

// A report of the bus shown: its control follows, unless it is the echo
// of our own change (the control already shows it, maybe a newer one).
void on_report(const command_arg *a, intptr_t)
{
    if (p == nullptr)
        return;
    if (a->id == ID_DELAY_SETTINGS) {
        show_delay();
        return;
    }
    if (a->count < 1 || a->v[0].i != p->bus)
        return;
    int me = network_get_conn_id();
    if (me > 0 && a->org == me && a->id != ID_BUS_APPLIED_DELAY)
        return;
    show_field(a->id);
}

void on_names()
{
    if (p != nullptr)
        show_header();
}

void on_unit()
{
    if (p != nullptr)
        show_threshold();
}

void send_label(int bus, const char *label)
{
    std::string enc = db_text_encode(labeledit_cut(label));
    if (chanprops_send(WHO, "%d,%d,%d,%s\n", ID_BUS_LABEL, network_get_conn_id(), bus, enc.c_str()))
        channels_bus_get(bus)->label = labeledit_cut(label);
}

void send_patch()
{
    unsigned patch = 0;
    for (int i = 0; i < INPUTMAP_PHYSICAL_INPUTS; i++)
        if (sgui_checkbox_get_ticked(p->inputs[i]))
            patch |= 1u << i;
    if (chanprops_send(WHO, "%d,%d,%d,%d\n", ID_BUS_PATCH, network_get_conn_id(), p->bus, (int)patch))
        shown().patch = patch;
}

using widgets = inputmap_properties_widgets;

// Controls whose command carries the spinner's text, parsed back into the copy.
struct text_field {
    sgui_widget *widgets::*control;
    int id;
    float channels_bus::*field;
};
constexpr text_field text_fields[] = {
    {&widgets::gain, ID_BUS_GAIN, &channels_bus::gain},
    {&widgets::delay, ID_BUS_DELAY, &channels_bus::delay},
    {&widgets::knee, ID_BUS_KNEE, &channels_bus::knee},
    {&widgets::attack, ID_BUS_ATTACK, &channels_bus::attack},
    {&widgets::release, ID_BUS_RELEASE, &channels_bus::release},
    {&widgets::peak_release, ID_BUS_PEAK_RELEASE, &channels_bus::peak_release},
};

// Controls whose command carries the selection, less offset.
struct choice_field {
    sgui_widget *widgets::*control;
    int id;
    int offset;
    int channels_bus::*field;
};
constexpr choice_field choice_fields[] = {
    {&widgets::polarity, ID_BUS_POLARITY, 0, &channels_bus::polarity},
    {&widgets::local, ID_BUS_LOCAL_LINK, 1, &channels_bus::group_local},
    {&widgets::net, ID_BUS_NETWORK_LINK, 1, &channels_bus::group_net},
};

// A control changed: its command, and the local copy from what was sent.
void send_control(sgui_widget *x, int value, const char *text)
{
    channels_bus &b = shown();
    int c = network_get_conn_id(), bus = p->bus;
    for (const text_field &t : text_fields) {
        float f;
        if (x == p->*t.control && chanprops_send(WHO, "%d,%d,%d,%s\n", t.id, c, bus, text) &&
            sscanf(text, "%f", &f) == 1)
            b.*t.field = f;
    }
    for (const choice_field &k : choice_fields)
        if (x == p->*k.control && chanprops_send(WHO, "%d,%d,%d,%d\n", k.id, c, bus, value - k.offset))
            b.*k.field = value - k.offset;
    if (x == p->thres) {
        // Two decimals as sent; + 0.0f turns -0.00 into 0.00.
        float server = std::round(levels_to_server((float)sgui_spinner_get_double(x)) * 100.0f) / 100.0f + 0.0f;
        if (chanprops_send(WHO, "%d,%d,%d,%1.2f\n", ID_BUS_THRESHOLD, c, bus, server))
            b.thres = server;
    } else if (x == p->ratio) {
        int ratio = value < RATIO_INFINITE_AT ? value : (int)CHANNELS_RATIO_INFINITE;
        if (chanprops_send(WHO, "%d,%d,%d,%d\n", ID_BUS_RATIO, c, bus, ratio))
            b.ratio = (float)ratio;
    } else if (x == p->overshoot) {
        float v = std::string(text) == "OFF" ? CHANNELS_OVERSHOOT_OFF : (float)sgui_spinner_get_double(x);
        if (chanprops_send(WHO, "%d,%d,%d,%1.2f\n", ID_BUS_OVERSHOOT, c, bus, v))
            b.overshoot = v;
    }
}

void on_value(sgui_widget *x, int value, const char *text)
{
    if (p == nullptr)
        return;
    char name[256];
    if (x == p->label) {
        labeledit_open(p->labels, p->bus, channels_bus_name(p->bus, name, sizeof name), shown().label.c_str());
    } else if (x == p->assign) {
        show_patch();
        if (screen_open(p->assign_root))
            sgui_focus_set(p->inputs[0]);
    } else if (x == p->eq) {
        eq_open(bus_editor, p->bus);
    } else if (x->kind == SGUI_KIND_SPINNER) {
        send_control(x, value, text != nullptr ? text : "");
    }
}

void on_assign_value(sgui_widget *x, int value, const char *)
{
    if (p == nullptr || x->kind != SGUI_KIND_CHECKBOX)
        return;
    if (value < 0)  // Enter toggles
        sgui_checkbox_set_ticked(x, !sgui_checkbox_get_ticked(x));
    send_patch();
}

void build_assign()
{
    p->assign_root = sgui_widget_container(nullptr, 0, SGUI_UNITS, SGUI_UNITS);
    p->assign_root->key = screen_back_key;
    sgui_widget *page = sgui_widget_container(p->assign_root, SGUI_HORIZONTAL, SGUI_UNITS, SGUI_UNITS);
    page->event_val = on_assign_value;
    page->flags |= SGUI_NOSCROLL;
    sgui_widget *top = sgui_widget_container(page, SGUI_VERTICAL, SGUI_UNITS, chanmap_h(ASSIGN_TITLE_PX));
    top->colour[0] = top->colour[1] = top->colour[2] = 48;
    sgui_set_font(sgui_widget_label(top, SGUI_HORIZONTAL, SGUI_UNITS, chanmap_h(ASSIGN_TITLE_PX),
                                    "\x60" "ASSIGN PHYSICAL INPUTS", 1),
                  CHANMAP_SMALL_FONT);
    p->assign_header = sgui_widget_label(page, SGUI_VERTICAL, SGUI_UNITS, chanmap_h(ASSIGN_HEADER_PX), "", 0);
    sgui_set_font(p->assign_header, CHANMAP_SMALL_FONT);
    sgui_set_align(p->assign_header, FONT_CENTRE);
    sgui_widget *columns = sgui_widget_container(page, SGUI_VERTICAL, SGUI_UNITS, chanmap_h(8 * ASSIGN_ROW_PX));
    sgui_widget *left = sgui_widget_container(columns, SGUI_HORIZONTAL, SGUI_UNITS / 2, chanmap_h(8 * ASSIGN_ROW_PX));
    sgui_widget *right = sgui_widget_container(columns, SGUI_HORIZONTAL, SGUI_UNITS / 2, chanmap_h(8 * ASSIGN_ROW_PX));
    for (int i = 0; i < INPUTMAP_PHYSICAL_INPUTS; i++) {
        sgui_widget *r = sgui_widget_container(i < 4 ? left : right, SGUI_VERTICAL, SGUI_UNITS / 2,
                                               chanmap_h(ASSIGN_ROW_PX));
        p->inputs[i] = sgui_widget_checkbox(r, SGUI_HORIZONTAL, chanmap_w(CHECK_PX), chanmap_h(ASSIGN_ROW_PX));
        sgui_set_font(sgui_widget_label(r, SGUI_HORIZONTAL, SGUI_UNITS / 2 - chanmap_w(CHECK_PX),
                                        chanmap_h(ASSIGN_ROW_PX), input_names[i], 0),
                      CHANMAP_SMALL_FONT);
    }
    sgui_focus_chain(p->inputs, INPUTMAP_PHYSICAL_INPUTS);
}

void free_screen(sgui_widget *root)
{
    if (p != nullptr && p->s.root == root) {
        if (sgui_widget_alive(p->assign_root))
            sgui_widget_free(p->assign_root);
        if (sgui_widget_alive(p->label_root))
            sgui_widget_free(p->label_root);
        delete p;
        p = nullptr;
    }
}

void build()
{
    chanprops_screen &s = p->s;
    chanprops_build(&s, "INPUT BUS", on_value);
    s.root->free_data = free_screen;
    p->label = chanprops_button(&s, "LABEL...");
    p->assign = chanprops_button(&s, "ASSIGN INPUTS...");
    p->eq = chanprops_button(&s, "EQ...");
    p->gain = chanprops_spinner(&s, "GAIN dB", -60, 0, 20, SPINNER_FLOAT1, 0.1);
    p->polarity = chanprops_spinner(&s, "POLARITY", 0, 0, 1, SPINNER_POLARITY, 1);
    p->delay = chanprops_spinner(&s, "DELAY", 0, 0, 0, SPINNER_FLOAT1, 0.1);
    p->delay_info = chanprops_info(&s);
    chanprops_section(&s, "DYNAMICS");
    p->thres = chanprops_spinner(&s, "THRESHOLD", levels_to_shown(THRES_MIN), levels_to_shown(THRES_MAX),
                                 levels_to_shown(THRES_MAX), SPINNER_FLOAT1, 0.1);
    p->ratio = chanprops_spinner(&s, "RATIO", 1, RATIO_INFINITE_AT, RATIO_INFINITE_AT, SPINNER_RATIO, 1);
    p->knee = chanprops_spinner(&s, "KNEE dB", 0, 0, 12, SPINNER_KNEE, 1);
    p->overshoot = chanprops_spinner(&s, "OVERSHOOT dB", 0, 30, INPUTMAP_OVERSHOOT_OFF_AT, SPINNER_OFF_MAX, 0.1);
    p->attack = chanprops_spinner(&s, "ATTACK ms", 0, 50, 500, SPINNER_FLOAT1, 0.1);
    p->release = chanprops_spinner(&s, "RELEASE ms", 50, 80, 5000, SPINNER_FLOAT1, 10);
    p->peak_release = chanprops_spinner(&s, "PEAK RELEASE ms", 0, 0, 500, SPINNER_FLOAT1, 0.1);
    chanprops_section(&s, "INPUT LINK GROUPS");
    p->local = chanprops_spinner(&s, "LOCAL LINK", 0, 0, 4, SPINNER_DASH, 1);
    p->net = chanprops_spinner(&s, "NETWORK LINK", 0, 0, 8, SPINNER_DASH, 1);
    chanprops_finish(&s);
    p->labels = labeledit_new(bus_words, std::size(bus_words), send_label);
    p->label_root = p->labels->root;  // may be freed before this screen (tests free the one shown first)
    build_assign();
}

}  // namespace

void inputmap_properties_init(sgui_widget *bus_eq)
{
    bus_editor = bus_eq;
    p = new inputmap_properties_widgets{};
    build();
    show_all();
    for (int id : shown_fields)
        network_add_listener(id, on_report, 0);
    network_add_listener(ID_DELAY_SETTINGS, on_report, 0);
    channels_add_listener(on_names);
    levels_unit_add_listener(on_unit);
}

void inputmap_properties_open(int bus)
{
    if (p == nullptr || channels_bus_get(bus) == nullptr)
        return;
    p->bus = bus;
    show_all();
    if (screen_open(p->s.root))
        chanprops_focus_first(&p->s);
}

inputmap_properties_widgets *inputmap_properties_get()
{
    return p;
}
