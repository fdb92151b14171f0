#include "gui/chanstatus.h"

#include <cstdio>
#include <string>

#include "gui/chanmap.h"
#include "gui/channels.h"
#include "gui/levels.h"
#include "gui/mainmenu.h"
#include "gui/screen.h"
#include "ids.h"
#include "network.h"
#include "sgui/sgui_widget.h"

namespace {

constexpr int TITLE_PX = 25, HEAD_PX = 18, ROW_PX = 20, LINE_PX = 20;
constexpr int NAME_PX = 40, LEVEL_PX = 70, GR_PX = SGUI_SCREEN_W / 2 - NAME_PX - LEVEL_PX;
constexpr int SYSTEM_FLAG_KEEP_MUTES = 1;  // clear: loading a project mutes the outputs

chanstatus_widgets *w;

sgui_widget *cell(sgui_widget *row, int px, int h_px, const char *text, int align)
{
    sgui_widget *l = sgui_widget_label(row, SGUI_HORIZONTAL, chanmap_w(px), chanmap_h(h_px), text, 0);
    sgui_set_font(l, CHANMAP_SMALL_FONT);
    sgui_set_align(l, align);
    return l;
}

void show_unit()
{
    levels_unit *u = levels_unit_get();
    const char *unit = levels_unit_short_name(u != nullptr ? u->index : 0);
    sgui_set_text(w->unit, unit);
    sgui_set_text(w->out_unit, unit);
}

void show_level(sgui_widget *level, sgui_widget *gr, float value, float reduction)
{
    char text[32];
    sgui_set_text(level, levels_text(value, text, sizeof text));
    snprintf(text, sizeof text, "%1.1f", reduction);
    sgui_set_text(gr, text);
}

void show_digital()
{
    char input[32];
    int status = channels_digital_status();
    sgui_digstate_set_texts(w->digital,
                            mainmenu_digital_input_text(status, channels_digital_io(), input, sizeof input),
                            mainmenu_digital_rate_text(status));
}

void show_flags()
{
    bool mutes = !(channels_system_flags() & SYSTEM_FLAG_KEEP_MUTES);
    sgui_set_text(w->load_mute, mutes ? "PROJECT LOAD = MUTE   ON" : "PROJECT LOAD = MUTE   OFF");
}

void on_digital(const command_arg *, intptr_t)
{
    if (w != nullptr)
        show_digital();
}

void on_flags(const command_arg *, intptr_t)
{
    if (w != nullptr)
        show_flags();
}

void on_unit()
{
    if (w == nullptr)
        return;
    show_unit();
    chanstatus_show_levels();
}

void free_page(sgui_widget *root)
{
    if (w != nullptr && w->root == root) {
        delete w;
        w = nullptr;
    }
}

}  // namespace

void chanstatus_init()
{
    w = new chanstatus_widgets{};
    w->root = sgui_widget_container(nullptr, 0, SGUI_UNITS, SGUI_UNITS);
    w->root->key = screen_back_key;
    w->root->free_data = free_page;
    sgui_widget *page = sgui_widget_container(w->root, SGUI_HORIZONTAL, SGUI_UNITS, SGUI_UNITS);
    page->flags |= SGUI_NOSCROLL;
    sgui_widget *top = sgui_widget_container(page, SGUI_VERTICAL, SGUI_UNITS, chanmap_h(TITLE_PX));
    top->colour[0] = top->colour[1] = top->colour[2] = 48;
    sgui_widget_label(top, SGUI_HORIZONTAL, SGUI_UNITS, chanmap_h(TITLE_PX), "\x60" "CHANNEL STATUS", 1);
    sgui_widget *head = sgui_widget_container(page, SGUI_VERTICAL, SGUI_UNITS, chanmap_h(HEAD_PX));
    head->colour[0] = head->colour[1] = head->colour[2] = 30;
    cell(head, NAME_PX, HEAD_PX, "IN", FONT_LEFT);
    w->unit = cell(head, LEVEL_PX, HEAD_PX, "", FONT_RIGHT);
    cell(head, GR_PX, HEAD_PX, "GR", FONT_RIGHT);
    cell(head, NAME_PX, HEAD_PX, "OUT", FONT_LEFT);
    w->out_unit = cell(head, LEVEL_PX, HEAD_PX, "", FONT_RIGHT);
    cell(head, GR_PX, HEAD_PX, "GR", FONT_RIGHT);
    for (int i = 0; i < CHANSTATUS_CHANNELS; i++) {
        sgui_widget *row = sgui_widget_container(page, SGUI_VERTICAL, SGUI_UNITS, chanmap_h(ROW_PX));
        cell(row, NAME_PX, ROW_PX, std::to_string(i + 1).c_str(), FONT_LEFT);
        w->bus_level[i] = cell(row, LEVEL_PX, ROW_PX, "", FONT_RIGHT);
        w->bus_gr[i] = cell(row, GR_PX, ROW_PX, "", FONT_RIGHT);
        cell(row, NAME_PX, ROW_PX, std::to_string(i + 1).c_str(), FONT_LEFT);
        w->out_level[i] = cell(row, LEVEL_PX, ROW_PX, "", FONT_RIGHT);
        w->out_gr[i] = cell(row, GR_PX, ROW_PX, "", FONT_RIGHT);
    }
    w->digital = sgui_widget_digstate(page, SGUI_VERTICAL, SGUI_UNITS, chanmap_h(LINE_PX));
    w->load_mute = sgui_widget_label(page, SGUI_VERTICAL, SGUI_UNITS, chanmap_h(LINE_PX), "", 0);
    sgui_set_font(w->load_mute, CHANMAP_SMALL_FONT);
    show_unit();
    chanstatus_show_levels();
    show_digital();
    show_flags();
    network_add_listener(ID_DIGITAL_STATUS, on_digital, 0);
    network_add_listener(ID_DIGITAL_IO, on_digital, 0);
    network_add_listener(ID_SYSTEM_FLAGS, on_flags, 0);
    levels_unit_add_listener(on_unit);
}

void chanstatus_open()
{
    if (w == nullptr)
        return;
    chanstatus_show_levels();
    screen_open(w->root);
}

void chanstatus_show_levels()
{
    if (w == nullptr)
        return;
    for (int i = 0; i < CHANSTATUS_CHANNELS; i++) {
        const channels_bus *b = channels_bus_get(i);
        const channels_output *o = channels_output_get(i);
        show_level(w->bus_level[i], w->bus_gr[i], b->level, b->gr);
        show_level(w->out_level[i], w->out_gr[i], o->level, o->gr);
    }
    w->shown_at = SDL_GetTicks();
}

void chanstatus_refresh()
{
    if (w != nullptr && sgui_root() == w->root && SDL_GetTicks() - w->shown_at >= CHANSTATUS_PERIOD_MS)
        chanstatus_show_levels();
}

chanstatus_widgets *chanstatus_get()
{
    return w;
}
