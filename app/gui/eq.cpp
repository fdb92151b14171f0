#include "gui/eq.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>

#include "gui/channels.h"
#include "gui/eqvis.h"
#include "gui/mainmenu.h"
#include "gui/screen.h"
#include "platform.h"
#include "sgui/sgui_spinner.h"
#include "sgui/sgui_widget.h"

namespace {

// Widths in pixels and heights in pixels, turned into units.
constexpr int W(int px)
{
    return (px * SGUI_UNITS + SGUI_SCREEN_W / 2) / SGUI_SCREEN_W;
}
constexpr int H(int px)
{
    return (px * SGUI_UNITS + SGUI_SCREEN_H / 2) / SGUI_SCREEN_H;
}

constexpr int ROW_PX = 25;       // title row, check boxes, spinners
constexpr int CAPTION_PX = 18;   // captions above the spinners
constexpr int TAB_PX = 19;
constexpr int CURVE_PX = SGUI_SCREEN_H - ROW_PX - TAB_PX - (CAPTION_PX + ROW_PX) - ROW_PX;
constexpr int SPINNER_PX = 73;
constexpr int GAP_PX = 3;
constexpr int BUTTON_PX = SGUI_SCREEN_W - 3 * (GAP_PX + SPINNER_PX) - 2 * GAP_PX;  // the rest of the row
constexpr int CHECK_PX = 22;
constexpr int TITLE_PX = 140;
constexpr int SMALL_FONT = 2;

// Report and command ids of the two variants.
struct eq_ids {
    int geq, curve, flags, flat, peq, shelf, hpf;
};
constexpr eq_ids bus_ids = {12, 13, 14, 15, 16, 17, 18};
constexpr eq_ids out_ids = {-1, 48, 49, -1, 45, 46, 47};
constexpr int REPORT_GEQ_MASKS = 124;

// Shelf frequency ranges as the server accepts them: low, high.
constexpr float shelf_min[2] = {16, 1000}, shelf_max[2] = {500, 24000};
constexpr float HPF_MIN = 16, HPF_MAX = 1200;

constexpr const char *mode_names[EQ_MODES] = {"GRAPHIC", "PEQ", "HPF", "SHELF"};
constexpr int page_bypass_bit[EQ_MODES] = {EQ_BYPASS_GEQ, EQ_BYPASS_PEQ, EQ_BYPASS_HPF, EQ_BYPASS_SHELF};
constexpr const char *page_bypass_text[EQ_MODES] = {"BYPASS GEQ", "BYPASS PEQ", "BYPASS HPF", "BYPASS SHELFEQ"};

[[noreturn]] void assert_fail(const char *function, const char *what)
{
    platform_log("app/gui/eq: %s: Assertion `%s' failed.\n", function, what);
    abort();
}

const eq_ids &ids(const eq_editor *e)
{
    return e->is_bus ? bus_ids : out_ids;
}

// The channel record shown: the bus, or the output's group.
int shown_channel(const eq_editor *e)
{
    return e->is_bus ? e->bus : e->group;
}

eq_channel &shown(eq_editor *e)
{
    return e->channels[shown_channel(e)];
}

// The factory settings of the server, until its reports arrive.
void channel_defaults(eq_channel &c)
{
    c = {};
    const float peq_freq[EQ_BUS_PEQ_BANDS] = {50, 200, 800, 2500, 5000};
    for (int i = 0; i < EQ_BUS_PEQ_BANDS; i++)
        c.peq[i] = {peq_freq[i], 1.0f, 0.0f, 0};
    c.shelf[0] = {0.0f, 100.0f, 0};
    c.shelf[1] = {0.0f, 10000.0f, 0};
    c.hpf = {80.0f, 0, 0};
}

// ---- the curve display follows the record ----------------------------

void push_peq(eq_editor *e, int band)
{
    const eq_peq_band &b = shown(e).peq[band];
    eqvis_set_peq(e->eqw, band, b.freq, b.gain, b.q);
    eqvis_set_enabled(e->eqw, EQVIS_PEQ, band, !b.bypass);
}

void push_shelf(eq_editor *e, int shelf)
{
    const eq_shelf &s = shown(e).shelf[shelf];
    eqvis_set_shelf(e->eqw, shelf, s.freq, s.gain);
    eqvis_set_enabled(e->eqw, EQVIS_SHELF, shelf, !s.bypass);
}

void push_hpf(eq_editor *e)
{
    const eq_hpf &h = shown(e).hpf;
    eqvis_set_hpf(e->eqw, h.freq);
    eqvis_set_enabled(e->eqw, EQVIS_HPF, 0, !h.bypass && h.type != 0);
}

void push_handles(eq_editor *e)
{
    eq_channel &c = shown(e);
    if (e->is_bus)
        for (int b = 0; b < EQ_GEQ_BANDS; b++)
            eqvis_set_geq(e->eqw, b, c.geq[b]);
    for (int b = 0; b < e->peq_bands; b++)
        push_peq(e, b);
    for (int s = 0; s < 2; s++)
        push_shelf(e, s);
    push_hpf(e);
    eqvis_set_curve(e->eqw, c.curve, c.curve_count);
}

// ---- the controls follow the record -------------------------------------

// A reported value outside a spinner's range widens it, so that the
// spinner shows the value the channel really has.
void show_value(sgui_widget *sp, double v, double min, double max)
{
    if (sp == nullptr || std::isnan(v))
        return;
    sgui_spinner_set_range(sp, std::min(min, v), std::max(max, v));
    sgui_spinner_set_value(sp, v);
}

void refresh_controls(eq_editor *e)
{
    const eq_controls &k = e->controls;
    eq_channel &c = shown(e);
    int band = e->band[e->mode];
    switch (e->mode) {
    case EQ_GRAPHIC:
        sgui_spinner_set_value(k.gain, c.geq[band]);
        sgui_spinner_set_value(k.freq, band);
        break;
    case EQ_PEQ:
        sgui_spinner_set_value(k.gain, c.peq[band].gain);
        sgui_spinner_set_value(k.freq, c.peq[band].freq);
        sgui_spinner_set_value(k.q, c.peq[band].q);
        sgui_checkbox_set_ticked(k.enabled, !c.peq[band].bypass);
        break;
    case EQ_HPF:
        show_value(k.freq, c.hpf.freq, HPF_MIN, HPF_MAX);
        sgui_spinner_set_value(k.type, std::clamp(c.hpf.type, 0, 4));
        break;
    case EQ_SHELF:
        sgui_spinner_set_value(k.gain, c.shelf[band].gain);
        show_value(k.freq, c.shelf[band].freq, shelf_min[band], shelf_max[band]);
        sgui_checkbox_set_ticked(k.enabled, !c.shelf[band].bypass);
        break;
    default:
        break;
    }
    sgui_checkbox_set_ticked(k.bypass, (c.flags & page_bypass_bit[e->mode]) != 0);
}

void refresh_header(eq_editor *e)
{
    char name[256];
    if (e->is_bus)
        channels_bus_name(e->bus, name, sizeof name);
    else
        channels_group_name(e->group, name, sizeof name);
    sgui_set_text(e->header, name);
}

// ---- building the controls of a page -----------------------------------

sgui_widget *cell(sgui_widget *row, int px, int rows_px)
{
    return sgui_widget_container(row, SGUI_HORIZONTAL, W(px), H(rows_px));
}

void gap(sgui_widget *row)
{
    cell(row, GAP_PX, ROW_PX);
}

sgui_widget *spinner_cell(sgui_widget *row, const char *caption, double min, double value, double max, int type,
                          double step)
{
    gap(row);
    sgui_widget *c = cell(row, SPINNER_PX, CAPTION_PX + ROW_PX);
    sgui_set_font(
        sgui_widget_label(c, SGUI_VERTICAL, W(SPINNER_PX), H(CAPTION_PX), ("\x60" + std::string(caption)).c_str(), 0),
        SMALL_FONT);
    return sgui_widget_spinner(c, SGUI_VERTICAL, W(SPINNER_PX), H(ROW_PX), min, value, max, type, step, 1);
}

sgui_widget *button_cell(sgui_widget *row, const char *text)
{
    gap(row);
    sgui_widget *c = cell(row, BUTTON_PX, CAPTION_PX + ROW_PX);
    sgui_widget_container(c, SGUI_VERTICAL, W(BUTTON_PX), H(CAPTION_PX));
    sgui_widget *b = sgui_widget_button(c, SGUI_VERTICAL, W(BUTTON_PX), H(ROW_PX), ("\x60" + std::string(text)).c_str());
    sgui_set_font(b, SMALL_FONT);
    return b;
}

// A check box with its caption on the right.
sgui_widget *check_cell(sgui_widget *row, const char *caption)
{
    gap(row);
    sgui_widget *box = sgui_widget_checkbox(row, SGUI_HORIZONTAL, W(CHECK_PX), H(ROW_PX));
    int text_px = font_width(SMALL_FONT, caption) + 12;
    sgui_set_font(sgui_widget_label(row, SGUI_HORIZONTAL, W(text_px), H(ROW_PX), caption, 0), SMALL_FONT);
    return box;
}

// Focus order: the tab bar, then the controls as they stand.
void link_focus(eq_editor *e)
{
    const eq_controls &k = e->controls;
    sgui_widget *order[] = {e->tabbar, k.gain, k.freq, k.q, k.type, k.flat, k.enabled, k.bypass};
    sgui_widget *prev = nullptr;
    for (sgui_widget *x : order) {
        if (x == nullptr)
            continue;
        x->focus_prev = prev;
        x->focus_next = nullptr;
        if (prev != nullptr)
            prev->focus_next = x;
        prev = x;
    }
}

sgui_widget *first_control(const eq_editor *e)
{
    return e->controls.gain != nullptr ? e->controls.gain : e->controls.freq;
}

void build_controls(eq_editor *e, int mode)
{
    eq_controls &k = e->controls;
    k = {};
    sgui_widget *top = sgui_widget_container(e->area, SGUI_VERTICAL, SGUI_UNITS, H(CAPTION_PX + ROW_PX));
    sgui_widget *bottom = sgui_widget_container(e->area, SGUI_VERTICAL, SGUI_UNITS, H(ROW_PX));
    switch (mode) {
    case EQ_GRAPHIC:
        k.gain = spinner_cell(top, "GAIN", -15, 0, 15, SPINNER_FLOAT1, 0.1);
        k.freq = spinner_cell(top, "FREQ", 0, 0, EQ_GEQ_BANDS - 1, SPINNER_GEQ, 1);
        k.flat = button_cell(top, "FLAT ALL");
        break;
    case EQ_PEQ:
        k.gain = spinner_cell(top, "GAIN", -15, 0, 15, SPINNER_FLOAT1, 0.1);
        k.freq = spinner_cell(top, "FREQ", 16, 1000, 24000, SPINNER_FREQ, 1);
        k.q = spinner_cell(top, "Q", 0.3, 1, 20, SPINNER_MAGNITUDE, 0.1);
        k.flat = button_cell(top, "FLAT ALL");
        k.enabled = check_cell(bottom, "ENABLED");
        break;
    case EQ_HPF:
        k.freq = spinner_cell(top, "FREQ", HPF_MIN, 100, HPF_MAX, SPINNER_FREQ, 1);
        k.type = spinner_cell(top, "TYPE", 0, 0, 4, SPINNER_HPFTYPE, 1);
        break;
    case EQ_SHELF: {
        int s = e->band[EQ_SHELF];
        k.gain = spinner_cell(top, "GAIN", -15, 0, 15, SPINNER_FLOAT1, 0.1);
        k.freq = spinner_cell(top, "FREQ", shelf_min[s], shelf_min[s], shelf_max[s], SPINNER_FREQ, 1);
        k.flat = button_cell(top, "FLAT ALL");
        k.enabled = check_cell(bottom, "ENABLED");
        break;
    }
    default:
        break;
    }
    k.bypass = check_cell(bottom, page_bypass_text[mode]);
    link_focus(e);
}

// ---- sending -------------------------------------------------------------

// The band's command after a change of the shown channel's record.
void send_band(eq_editor *e)
{
    static constexpr int kinds[EQ_MODES] = {EQ_SET_GEQ, EQ_SET_PEQ, EQ_SET_HPF, EQ_SET_SHELF};
    send_eq_set(e, kinds[e->mode], e->band[e->mode]);
}

void flat_all(eq_editor *e)
{
    eq_channel &c = shown(e);
    switch (e->mode) {
    case EQ_GRAPHIC:
        std::fill(c.geq, c.geq + EQ_GEQ_BANDS, 0.0f);
        for (int b = 0; b < EQ_GEQ_BANDS; b++)
            eqvis_set_geq(e->eqw, b, 0);
        send_eq_set(e, EQ_SET_FLAT, 0);
        break;
    case EQ_PEQ:
        for (int b = 0; b < e->peq_bands; b++) {
            c.peq[b].gain = 0;
            push_peq(e, b);
            send_eq_set(e, EQ_SET_PEQ, b);
        }
        break;
    case EQ_SHELF:
        for (int s = 0; s < 2; s++) {
            c.shelf[s].gain = 0;
            push_shelf(e, s);
            send_eq_set(e, EQ_SET_SHELF, s);
        }
        break;
    default:
        break;
    }
    refresh_controls(e);
}

// A page's band selection moved (curve display keys or the band spinner).
void select_band(eq_editor *e, int band)
{
    int count = eqvis_handle_count(e->eqw, e->mode);
    if (band < 0 || band >= count)
        return;
    e->band[e->mode] = band;
    eqvis_set_selection(e->eqw, e->mode, band);
    if (e->mode == EQ_SHELF)
        sgui_spinner_set_range(e->controls.freq, shelf_min[band], shelf_max[band]);
    refresh_controls(e);
}

// A spinner's value as the command line carries it (gains and Q with one
// decimal, frequencies whole), so that the record holds what the server will.
float wire_value(const eq_controls &k, sgui_widget *x)
{
    double v = sgui_spinner_get_double(x);
    if (x == k.freq)
        return (float)std::round(v);
    return (float)(std::round(v * 10) / 10);
}

// A control changed by the user: the record, the handle, the command.
void on_control(eq_editor *e, sgui_widget *x, int value)
{
    const eq_controls &k = e->controls;
    eq_channel &c = shown(e);
    int band = e->band[e->mode];
    float v = x->kind == SGUI_KIND_SPINNER ? wire_value(k, x) : (float)value;
    if (x == k.bypass) {
        int bit = page_bypass_bit[e->mode];
        c.flags = sgui_checkbox_get_ticked(x) ? c.flags | bit : c.flags & ~bit;
        send_eq_set(e, EQ_SET_FLAGS, 0);
        return;
    }
    if (x == k.flat) {
        flat_all(e);
        return;
    }
    switch (e->mode) {
    case EQ_GRAPHIC:
        if (x == k.freq) {
            select_band(e, value);
            return;
        }
        c.geq[band] = v;
        eqvis_set_geq(e->eqw, band, c.geq[band]);
        break;
    case EQ_PEQ: {
        eq_peq_band &b = c.peq[band];
        if (x == k.gain)
            b.gain = v;
        else if (x == k.freq)
            b.freq = v;
        else if (x == k.q)
            b.q = v;
        else if (x == k.enabled)
            b.bypass = !sgui_checkbox_get_ticked(x);
        push_peq(e, band);
        break;
    }
    case EQ_HPF:
        if (x == k.freq)
            c.hpf.freq = v;
        else if (x == k.type)
            c.hpf.type = value;
        push_hpf(e);
        break;
    case EQ_SHELF: {
        eq_shelf &s = c.shelf[band];
        if (x == k.gain)
            s.gain = v;
        else if (x == k.freq)
            s.freq = v;
        else if (x == k.enabled)
            s.bypass = !sgui_checkbox_get_ticked(x);
        push_shelf(e, band);
        break;
    }
    default:
        return;
    }
    send_band(e);
}

// ---- the screen's callbacks ---------------------------------------------

eq_editor *editor_of(sgui_widget *w)
{
    while (w != nullptr && w->par != nullptr)
        w = w->par;
    return w != nullptr ? static_cast<eq_editor *>(w->data) : nullptr;
}

void on_value(sgui_widget *x, int value, const char *)
{
    eq_editor *e = editor_of(x);
    if (e == nullptr)
        return;
    if (x == e->eqw) {
        select_band(e, value);
        return;
    }
    // Enter on a check box toggles it.
    if (x->kind == SGUI_KIND_CHECKBOX && value < 0) {
        sgui_checkbox_set_ticked(x, !sgui_checkbox_get_ticked(x));
        value = sgui_checkbox_get_ticked(x);
    }
    on_control(e, x, value);
}

void on_tab(sgui_widget *bar, int value, const char *)
{
    eq_editor *e = editor_of(bar);
    if (e != nullptr)
        set_mode(e, value);
}

// Keys the controls leave: 4 and 8 move the band selection, 32 goes back.
int on_key(sgui_widget *root, int keys, int)
{
    eq_editor *e = static_cast<eq_editor *>(root->data);
    keys = mainmenu_lock_keys(keys);
    if (e == nullptr)
        return keys;
    if (keys & (SGUI_KEY_PAGE_PREV | SGUI_KEY_PAGE_NEXT))
        keys = e->eqw->key(e->eqw, keys & (SGUI_KEY_PAGE_PREV | SGUI_KEY_PAGE_NEXT), 0) |
               (keys & ~(SGUI_KEY_PAGE_PREV | SGUI_KEY_PAGE_NEXT));
    if (keys & SGUI_KEY_BACK) {
        screen_back();
        keys &= ~SGUI_KEY_BACK;
    }
    return keys;
}

eq_editor *editors[2];  // bus, output: for the name listener

void free_editor(sgui_widget *root)
{
    auto *e = static_cast<eq_editor *>(root->data);
    for (eq_editor *&x : editors)
        if (x == e)
            x = nullptr;
    delete e;
    root->data = nullptr;
}

// ---- reports --------------------------------------------------------------

eq_editor *as_editor(intptr_t user)
{
    return reinterpret_cast<eq_editor *>(user);
}

// The channel record a report names, or none for a bad channel.
eq_channel *reported(eq_editor *e, const command_arg *a, int fields)
{
    if (a->count < fields || a->v[0].i < 0 || a->v[0].i >= EQ_CHANNELS)
        return nullptr;
    return &e->channels[a->v[0].i];
}

bool is_shown(const eq_editor *e, const command_arg *a)
{
    return a->v[0].i == shown_channel(e);
}

// Our own change coming back for the channel we are editing: the record
// already holds it, and a late echo must not undo a newer turn.
bool own_echo(const eq_editor *e, const command_arg *a)
{
    int me = network_get_conn_id();
    return me > 0 && a->org == me && is_shown(e, a);
}

void after_report(eq_editor *e, const command_arg *a)
{
    if (is_shown(e, a) && e->mode >= 0)
        refresh_controls(e);
}

void on_geq(const command_arg *a, intptr_t user)
{
    eq_editor *e = as_editor(user);
    eq_channel *c = reported(e, a, 3);
    int band = a->v[1].i;
    if (c == nullptr || band < 0 || band >= EQ_GEQ_BANDS || own_echo(e, a))
        return;
    c->geq[band] = a->v[2].f;
    if (is_shown(e, a))
        eqvis_set_geq(e->eqw, band, c->geq[band]);
    after_report(e, a);
}

void on_peq(const command_arg *a, intptr_t user)
{
    eq_editor *e = as_editor(user);
    eq_channel *c = reported(e, a, 6);
    int band = a->v[1].i;
    if (c == nullptr || band < 0 || band >= e->peq_bands || own_echo(e, a))
        return;
    c->peq[band] = {a->v[2].f, a->v[3].f, a->v[4].f, a->v[5].i != 0};
    if (is_shown(e, a))
        push_peq(e, band);
    after_report(e, a);
}

void on_shelf(const command_arg *a, intptr_t user)
{
    eq_editor *e = as_editor(user);
    eq_channel *c = reported(e, a, 5);
    int shelf = a->v[1].i;
    if (c == nullptr || shelf < 0 || shelf > 1 || own_echo(e, a))
        return;
    c->shelf[shelf] = {a->v[3].f, a->v[2].f, a->v[4].i != 0};
    if (is_shown(e, a))
        push_shelf(e, shelf);
    after_report(e, a);
}

void on_hpf(const command_arg *a, intptr_t user)
{
    eq_editor *e = as_editor(user);
    eq_channel *c = reported(e, a, 4);
    if (c == nullptr || own_echo(e, a))
        return;
    c->hpf = {a->v[1].f, a->v[2].i, a->v[3].i != 0};
    if (is_shown(e, a))
        push_hpf(e);
    after_report(e, a);
}

void on_flags(const command_arg *a, intptr_t user)
{
    eq_editor *e = as_editor(user);
    eq_channel *c = reported(e, a, 2);
    if (c == nullptr || own_echo(e, a))
        return;
    c->flags = a->v[1].i;
    after_report(e, a);
}

void on_geq_masks(const command_arg *a, intptr_t user)
{
    eq_editor *e = as_editor(user);
    eq_channel *c = reported(e, a, 3);
    if (c == nullptr)
        return;
    c->geq_mask[0] = a->v[1].u;
    c->geq_mask[1] = a->v[2].u;
}

// The group map or a name changed: the header, and for the output editor
// the group of the output shown.
void on_names()
{
    for (eq_editor *e : editors) {
        if (e == nullptr)
            continue;
        if (!e->is_bus && channels_output_group(e->bus) != e->group)
            eq_set_ch(e->root, e->bus);
        else
            refresh_header(e);
    }
}

void register_listeners(eq_editor *e)
{
    const eq_ids &id = ids(e);
    auto user = reinterpret_cast<intptr_t>(e);
    if (e->is_bus) {
        network_add_listener(id.geq, on_geq, user);
        network_add_listener(REPORT_GEQ_MASKS, on_geq_masks, user);
    }
    network_add_listener(id.curve, listener_curve, user);
    network_add_listener(id.flags, on_flags, user);
    network_add_listener(id.peq, on_peq, user);
    network_add_listener(id.shelf, on_shelf, user);
    network_add_listener(id.hpf, on_hpf, user);
    channels_add_listener(on_names);
    editors[e->is_bus ? 0 : 1] = e;
}

sgui_widget *build_screen(eq_editor *e, sgui_widget *parent)
{
    sgui_widget *root = parent != nullptr ? parent : sgui_widget_container(nullptr, 0, SGUI_UNITS, SGUI_UNITS);
    root->data = e;
    root->free_data = free_editor;
    root->key = on_key;
    e->root = root;
    sgui_widget *page = sgui_widget_container(root, SGUI_HORIZONTAL, SGUI_UNITS, SGUI_UNITS);
    page->event_val = on_value;
    page->flags |= SGUI_NOSCROLL;

    sgui_widget *top = sgui_widget_container(page, SGUI_VERTICAL, SGUI_UNITS, H(ROW_PX));
    top->colour[0] = top->colour[1] = top->colour[2] = 48;
    e->title = sgui_widget_label(top, SGUI_HORIZONTAL, W(TITLE_PX), H(ROW_PX),
                                 e->is_bus ? "INPUT BUS EQ" : "OUTPUT EQ", 1);
    sgui_set_font(e->title, SMALL_FONT);
    e->header = sgui_widget_label(top, SGUI_HORIZONTAL, W(SGUI_SCREEN_W - TITLE_PX), H(ROW_PX), "", 1);
    sgui_set_font(e->header, SMALL_FONT);

    e->eqw = eqvis(page, SGUI_VERTICAL, CURVE_PX, e->is_bus, e->peq_bands);
    if (e->eqw == nullptr)
        assert_fail("eq_init", "data->eqw != ((void *)0)");

    e->tabbar = sgui_widget_container(page, SGUI_VERTICAL, SGUI_UNITS, H(TAB_PX));
    e->tabbar->event_val = on_tab;
    static constexpr int bus_order[] = {EQ_GRAPHIC, EQ_PEQ, EQ_SHELF, EQ_HPF};
    static constexpr int out_order[] = {EQ_PEQ, EQ_SHELF, EQ_HPF};
    int tabs = e->is_bus ? 4 : 3;
    for (int i = 0; i < tabs; i++) {
        int mode = e->is_bus ? bus_order[i] : out_order[i];
        sgui_widget *t = sgui_widget_tab(e->tabbar, SGUI_HORIZONTAL, SGUI_UNITS / tabs, H(TAB_PX), mode_names[mode]);
        t->user = mode;
        e->tabs[mode] = t;
    }
    e->area = sgui_widget_container(page, SGUI_VERTICAL, SGUI_UNITS, H(CAPTION_PX + ROW_PX + ROW_PX));
    return root;
}

}  // namespace

sgui_widget *eq_init(sgui_widget *parent, int channel, int is_bus)
{
    auto *e = new (std::nothrow) eq_editor{};
    if (e == nullptr)
        assert_fail("eq_init", "data != ((void *)0)");
    e->is_bus = is_bus != 0;
    e->peq_bands = e->is_bus ? EQ_BUS_PEQ_BANDS : EQ_OUT_PEQ_BANDS;
    e->mode = -1;
    for (eq_channel &c : e->channels)
        channel_defaults(c);
    for (int &o : e->outputs)
        o = -1;
    sgui_widget *root = build_screen(e, parent);
    register_listeners(e);
    eq_set_ch(root, channel);
    set_mode(e, e->is_bus ? EQ_GRAPHIC : EQ_PEQ);
    return root;
}

eq_editor *eq_of(sgui_widget *root)
{
    return editor_of(root);
}

void eq_set_ch(sgui_widget *root, int ch)
{
    eq_editor *e = editor_of(root);
    if (e == nullptr)
        return;
    if (!((ch >= 0) && (ch < EQ_CHANNELS)))
        assert_fail("eq_set_ch", "(ch >= 0) && (ch < (8))");
    e->bus = ch;
    if (!e->is_bus) {
        int group = channels_output_group(ch);
        // Until the group map is known an output is its own group.
        e->group = group >= 0 ? group : ch;
        if (!((e->group >= 0) && (e->group < EQ_CHANNELS)))
            assert_fail("eq_set_ch", "(group_lsp >= 0) && (group_lsp < (8))");
        channels_group_outputs(e->group, e->outputs);
    }
    refresh_header(e);
    push_handles(e);
    if (e->mode >= 0)
        refresh_controls(e);
}

int eq_open(sgui_widget *root, int channel)
{
    eq_editor *e = editor_of(root);
    if (e == nullptr)
        return 0;
    eq_set_ch(root, channel);
    if (!screen_open(root))
        return 0;
    if (sgui_widget *first = first_control(e))
        sgui_focus_set(first);
    return 1;
}

void set_mode(eq_editor *e, int mode)
{
    if (!(mode >= 0 && mode < EQ_MODES && (e->is_bus || mode != EQ_GRAPHIC)))
        assert_fail("set_mode", "mode");
    bool focus_inside = sgui_focus() != nullptr && editor_of(sgui_focus()) == e && sgui_focus() != e->tabbar;
    while (e->area->child != nullptr)
        sgui_widget_free(e->area->child);
    e->mode = mode;
    build_controls(e, mode);
    sgui_tab_select(e->tabs[mode]);
    eqvis_set_mode(e->eqw, mode);
    eqvis_set_selection(e->eqw, mode, e->band[mode]);
    refresh_controls(e);
    sgui_invalidate_tree(e->area);
    if (focus_inside && first_control(e) != nullptr)
        sgui_focus_set(first_control(e));
}

int eq_format(eq_editor *e, int kind, int band)
{
    const eq_ids &id = ids(e);
    const eq_channel &c = shown(e);
    int conn = network_get_conn_id(), ch = shown_channel(e);
    char *b = e->cmd_buf;
    size_t n = sizeof e->cmd_buf;
    switch (kind) {
    case EQ_SET_GEQ:
        return snprintf(b, n, "%d,%d,%d,%d,%1.1f\n", id.geq, conn, ch, band, c.geq[band]);
    case EQ_SET_PEQ:
        return snprintf(b, n, "%d,%d,%d,%d,%1.0f,%1.1f,%1.1f,%d\n", id.peq, conn, ch, band, c.peq[band].freq,
                        c.peq[band].q, c.peq[band].gain, c.peq[band].bypass);
    case EQ_SET_HPF:
        return snprintf(b, n, "%d,%d,%d,%1.0f,%d,%d\n", id.hpf, conn, ch, c.hpf.freq, c.hpf.type, c.hpf.bypass);
    case EQ_SET_SHELF:
        return snprintf(b, n, "%d,%d,%d,%d,%1.0f,%1.1f,%d\n", id.shelf, conn, ch, band, c.shelf[band].freq,
                        c.shelf[band].gain, c.shelf[band].bypass);
    case EQ_SET_FLAGS:
        return snprintf(b, n, "%d,%d,%d,%d\n", id.flags, conn, ch, c.flags);
    case EQ_SET_FLAT:
        return snprintf(b, n, "%d,%d,%d\n", id.flat, conn, ch);
    default:
        b[0] = 0;
        return 0;
    }
}

void send_eq_set(eq_editor *e, int kind, int band)
{
    bool band_ok = true;
    if (kind == EQ_SET_GEQ || kind == EQ_SET_FLAT)
        band_ok = e->is_bus && (kind == EQ_SET_FLAT || (band >= 0 && band < EQ_GEQ_BANDS));
    else if (kind == EQ_SET_PEQ)
        band_ok = band >= 0 && band < e->peq_bands;
    else if (kind == EQ_SET_SHELF)
        band_ok = band >= 0 && band < 2;
    if (!band_ok)
        assert_fail("send_eq_set", "band");
    // The full length of the line, not what fitted: a cut line is never sent.
    int len = eq_format(e, kind, band);
    if (!(len >= 0 && len < EQ_CMD_BUF_SIZE))
        assert_fail("send_eq_set", "strlen(data->cmd_buf)<(1024)");
    if (len > 0)
        network_output_command(e->cmd_buf);
}

void listener_curve(const command_arg *a, intptr_t user)
{
    eq_editor *e = as_editor(user);
    if (e == nullptr)
        assert_fail("listener_curve", "data != ((void *)0)");
    if (a->v[0].i < 0 || a->v[0].i >= EQ_CHANNELS)
        return;
    eq_channel &c = e->channels[a->v[0].i];
    c.curve_count = std::clamp(a->count, 0, EQ_CURVE_POINTS);
    std::copy(a->list, a->list + c.curve_count, c.curve);
    std::fill(c.curve + c.curve_count, c.curve + EQ_CURVE_POINTS, 0.0f);
    if (is_shown(e, a)) {
        e->curve_changed++;
        eqvis_set_curve(e->eqw, c.curve, c.curve_count);
    }
}
