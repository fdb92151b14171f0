#include "gui/device.h"

#include <cmath>
#include <cstdio>
#include <string>

#include "common/db_text.h"
#include "common/hw_rev.h"
#include "gui/amplifiers.h"
#include "gui/chanmap.h"
#include "gui/mainmenu.h"
#include "gui/project.h"
#include "gui/screen.h"
#include "gui/sysinfo.h"
#include "gui/update.h"
#include "gui/usermsg.h"
#include "network.h"
#include "sgui/sgui_msgbox.h"
#include "sgui/sgui_spinner.h"
#include "sgui/sgui_textedit.h"
#include "sgui/sgui_widget.h"

namespace {

constexpr int TITLE_PX = 25, ROW_PX = 23, CAPTION_PX = 235, TEMP_CAPTION_PX = 250, NAME_LEN = 32;
// The server's range of the air temperature, kelvin.
constexpr double TEMP_MIN_K = 233.15, TEMP_MAX_K = 323.15;

device_widgets w;
int unit, flags;
double kelvin = 293.15;

bool fahrenheit(int u)
{
    return hw::panel_temperature_fahrenheit && u == 1;
}

void send(int id, const std::string &rest)
{
    project_send(id, rest);
}

void show_temperature()
{
    bool f = fahrenheit(unit);
    if (!hw::panel_temperature_fahrenheit)
        sgui_set_text(w.temp_caption, "AMBIENT TEMPERATURE \u00B0C");
    else
        sgui_set_text(w.temp_caption, f ? "@ TEMPERATURE \u00B0F" : "@ TEMPERATURE \u00B0C");
    sgui_spinner_set_range(w.temp, std::ceil(device_temp_shown(TEMP_MIN_K, unit)),
                           std::floor(device_temp_shown(TEMP_MAX_K, unit)));
    sgui_spinner_set_value(w.temp, std::round(device_temp_shown(kelvin, unit)));
}

void send_delay_unit()
{
    char line[48];
    snprintf(line, sizeof line, "%d,%1.2f\n", unit, kelvin);
    send(23, line);
}

// Service mode: switching it on is only done after the warning.
void service_answer(int answer, void *)
{
    int on = answer == 1;
    sgui_checkbox_set_ticked(w.service, on);
    send(20, on ? "1\n" : "0\n");
}

void on_service(int ticked)
{
    if (ticked)
        usermsg_ask(SGUI_MSGBOX_OKCANCEL, DEVICE_SERVICE_WARNING, service_answer, nullptr);
    else
        send(20, "0\n");
}

// A check box turned with the encoder reports its state, Enter -1 (toggle).
int checkbox_value(sgui_widget *x, int value)
{
    if (value < 0)
        sgui_checkbox_set_ticked(x, !sgui_checkbox_get_ticked(x));
    return sgui_checkbox_get_ticked(x);
}

void on_value(sgui_widget *x, int value, const char *text)
{
    if (x == w.name) {
        std::string name = text != nullptr ? text : "";
        name.erase(name.find_last_not_of(' ') + 1);
        send(22, db_text_encode(name) + "\n");
    } else if (x == w.unit) {
        unit = value;
        show_temperature();
        send_delay_unit();
    } else if (x == w.temp) {
        kelvin = device_temp_kelvin(sgui_spinner_get_double(w.temp), unit);
        send_delay_unit();
    } else if (x == w.mute_on_load) {
        flags = device_flags_with_mute(flags, checkbox_value(x, value));
        send(62, std::to_string(flags) + "\n");
    } else if (x == w.service) {
        on_service(checkbox_value(x, value));
    } else if (x == w.amplifiers) {
        amplifiers_open();
    } else if (x == w.info) {
        sysinfo_open();
    } else if (x == w.update) {
        update_ask();
    }
}

void on_chooser(sgui_widget *x, int, const char *)
{
    if (x == w.manage)
        project_open();
    else if (x == w.settings)
        device_open();
}

// --- reports --------------------------------------------------------------

void on_name(const command_arg *a, intptr_t)
{
    if (!w.name->focused || a->org == network_get_conn_id())
        sgui_textedit_set_text(w.name, a->text);
}

void on_delay_unit(const command_arg *a, intptr_t)
{
    if (a->count < 2)
        return;
    unit = a->v[0].i;
    kelvin = a->v[1].f;
    sgui_spinner_set_value(w.unit, unit);
    show_temperature();
}

void on_flags(const command_arg *a, intptr_t)
{
    flags = a->v[0].i;
    sgui_checkbox_set_ticked(w.mute_on_load, !(flags & 1));
}

void on_service_mode(const command_arg *a, intptr_t)
{
    if (!sgui_message_box_open())
        sgui_checkbox_set_ticked(w.service, a->v[0].i != 0);
}

sgui_widget *checkbox_row(sgui_widget *page, const char *caption)
{
    sgui_widget *row = screen_caption_row(page, caption, ROW_PX, CAPTION_PX);
    return sgui_widget_checkbox(row, SGUI_HORIZONTAL, -1, chanmap_h(ROW_PX));
}

sgui_widget *item(sgui_widget *page, const char *text)
{
    sgui_widget *b = sgui_widget_button(page, SGUI_VERTICAL, SGUI_UNITS, chanmap_h(ROW_PX), text);
    sgui_set_font(b, CHANMAP_SMALL_FONT);
    return b;
}

void build_chooser()
{
    sgui_widget *page;
    w.chooser = screen_new_page("PROJECT / DEVICE", TITLE_PX, on_chooser, &page);
    page->flags |= SGUI_NOSCROLL;
    w.manage = item(page, "MANAGE PROJECT...");
    w.settings = item(page, "DEVICE SETTINGS...");
    sgui_widget *order[] = {w.manage, w.settings};
    sgui_focus_chain(order, 2);
}

}  // namespace

double device_temp_shown(double k, int u)
{
    double c = k - 273.15;
    return fahrenheit(u) ? c * 9.0 / 5.0 + 32.0 : c;
}

double device_temp_kelvin(double shown, int u)
{
    double c = fahrenheit(u) ? (shown - 32.0) * 5.0 / 9.0 : shown;
    return c + 273.15;
}

int device_flags_with_mute(int f, int mute_on_load)
{
    return mute_on_load ? (f & ~1) : (f | 1);
}

void device_init()
{
    w = {};
    unit = 0;
    flags = 0;
    kelvin = 293.15;
    build_chooser();
    sgui_widget *page;
    w.root = screen_new_page("DEVICE SETTINGS", TITLE_PX, on_value, &page);
    page->flags |= SGUI_NOSCROLL;
    screen_caption_row(page, "DEVICE NAME", ROW_PX, CAPTION_PX);
    w.name = sgui_widget_textedit(page, SGUI_VERTICAL, SGUI_UNITS, chanmap_h(ROW_PX), "", NAME_LEN, 0);
    w.unit = sgui_widget_spinner(screen_caption_row(page, "DELAY UNIT", ROW_PX, CAPTION_PX), SGUI_HORIZONTAL, -1,
                                 chanmap_h(ROW_PX), 0, 0, 2, SPINNER_DELAYUNIT, 1, 1);
    // "AMBIENT TEMPERATURE °C" is the longest caption: its row gives it more room.
    sgui_widget *row = screen_caption_row(page, "", ROW_PX, TEMP_CAPTION_PX);
    w.temp_caption = row->child;
    w.temp = sgui_widget_spinner(row, SGUI_HORIZONTAL, -1, chanmap_h(ROW_PX), -40, 20, 50, SPINNER_FLOAT1, 1, 1);
    w.mute_on_load = checkbox_row(page, hw::panel_mute_on_load_label);
    if (hw::has_service_page)
        w.service = checkbox_row(page, "SERVICE MODE");
    w.amplifiers = item(page, "AMPLIFIERS...");
    w.info = item(page, "INFO...");
    w.update = item(page, "UPDATE...");
    sgui_widget *order[] = {w.name, w.unit, w.temp, w.mute_on_load, w.service, w.amplifiers, w.info, w.update};
    sgui_focus_chain(order, sizeof order / sizeof order[0]);
    show_temperature();
    sgui_checkbox_set_ticked(w.mute_on_load, 1);

    amplifiers_init();
    sysinfo_init();
    update_init();
    network_add_listener(22, on_name, 0);
    network_add_listener(23, on_delay_unit, 0);
    network_add_listener(62, on_flags, 0);
    if (hw::has_service_page)
        network_add_listener(20, on_service_mode, 0);
}

void device_open_chooser()
{
    if (screen_open(w.chooser))
        sgui_focus_set(w.manage);
}

void device_open()
{
    if (screen_open(w.root))
        sgui_focus_set(w.name);
}

device_widgets *device_get()
{
    return &w;
}
