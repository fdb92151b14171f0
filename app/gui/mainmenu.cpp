#include "gui/mainmenu.h"

#include <cstdio>
#include <string>

#include "gui/screen.h"
#include "network.h"
#include "sgui/sgui_event.h"
#include "sgui/sgui_msgbox.h"
#include "sgui/sgui_widget.h"

namespace {

constexpr const char *LOCK_GLYPH = "\uF023";
constexpr int CAPTION_W = 9000;

mainmenu_widgets w;
void (*openers[MAINMENU_ENTRIES])();
int dio_word;
int dig_status;

void show_lock()
{
    sgui_set_text(w.lock_icon, sgui_keylock() ? LOCK_GLYPH : "");
}

void show_digital()
{
    char input[32];
    sgui_digstate_set_texts(w.digstate, mainmenu_digital_input_text(dig_status, dio_word, input, sizeof input),
                            mainmenu_digital_rate_text(dig_status));
}

void open_entry(int entry)
{
    if (openers[entry] != nullptr)
        openers[entry]();
    else
        screen_not_available();
}

void on_value(sgui_widget *x, int, const char *)
{
    if (x == w.inputs_button)
        open_entry(MAINMENU_INPUT_BUSES);
    else if (x == w.outputs_button)
        open_entry(MAINMENU_OUTPUTS);
    else if (x == w.project_button)
        open_entry(MAINMENU_PROJECT_DEVICE);
    else if (x == w.network_button || x == w.network)
        open_entry(MAINMENU_NETWORK_DIGITAL);
}

int on_key(sgui_widget *, int keys, int)
{
    return mainmenu_lock_keys(keys);
}

void on_device_name(const command_arg *a, intptr_t)
{
    sgui_set_text(w.title, ("\x60" + std::string(a->text)).c_str());
}

void on_project(const command_arg *a, intptr_t)
{
    sgui_set_text(w.project, a->text);
}

void on_network(const command_arg *a, intptr_t)
{
    char addr[32];
    snprintf(addr, sizeof addr, "%u.%u.%u.%u", a->v[0].u, a->v[1].u, a->v[2].u, a->v[3].u);
    int up = (a->v[0].u | a->v[1].u | a->v[2].u | a->v[3].u) != 0;
    sgui_network_set_address(w.network, addr, up, a->v[5].i);
}

void on_keylock(const command_arg *a, intptr_t)
{
    if (sgui_message_box_open())
        return;  // the box restores its own lock state
    sgui_set_keylock(a->v[0].i != 0);
    show_lock();
}

void on_digital_status(const command_arg *a, intptr_t)
{
    dig_status = a->v[1].i;
    show_digital();
}

void on_digital_word(const command_arg *a, intptr_t)
{
    dio_word = a->v[0].i;
    show_digital();
}

void on_status(const command_arg *a, intptr_t)
{
    sgui_set_status_text(a->text);
}

sgui_widget *caption_row(sgui_widget *page, const char *caption, const char *value)
{
    sgui_widget *row = sgui_widget_container(page, SGUI_VERTICAL, SGUI_UNITS, SGUI_LABEL_H);
    sgui_set_font(sgui_widget_label(row, SGUI_HORIZONTAL, CAPTION_W, SGUI_LABEL_H, caption, 0), 2);
    return sgui_widget_label(row, SGUI_HORIZONTAL, SGUI_UNITS - CAPTION_W, SGUI_LABEL_H, value, 0);
}

}  // namespace

sgui_widget *mainmenu_init()
{
    w.root = sgui_widget_container(nullptr, 0, SGUI_UNITS, SGUI_UNITS);
    w.root->keymask = SGUI_KEY_LOCK | SGUI_KEY_LOCKED;
    w.root->key = on_key;
    w.page = sgui_widget_container(w.root, SGUI_HORIZONTAL, SGUI_UNITS, SGUI_UNITS);
    w.page->event_val = on_value;

    sgui_widget *top = sgui_widget_container(w.page, SGUI_VERTICAL, SGUI_UNITS, SGUI_LABEL_H);
    top->colour[0] = top->colour[1] = top->colour[2] = 48;
    w.title = sgui_widget_label(top, SGUI_HORIZONTAL, SGUI_UNITS - 3000, SGUI_LABEL_H, "\x60MIREL", 1);
    w.lock_icon = sgui_widget_icon(top, SGUI_HORIZONTAL, 3000, SGUI_LABEL_H, "", 0);
    sgui_widget_container(w.page, SGUI_VERTICAL, SGUI_UNITS, SGUI_LABEL_H / 3);
    w.project = caption_row(w.page, "PROJECT", "");
    w.network = sgui_widget_network(w.page, SGUI_VERTICAL, -1, -1);
    w.digstate = sgui_widget_digstate(w.page, SGUI_VERTICAL, -1, -1);
    sgui_widget_separator(w.page, SGUI_VERTICAL, -1, -1);
    w.inputs_button = sgui_widget_button(w.page, SGUI_VERTICAL, -1, -1, "INPUT BUSES");
    w.outputs_button = sgui_widget_button(w.page, SGUI_VERTICAL, -1, -1, "OUTPUTS");
    w.project_button = sgui_widget_button(w.page, SGUI_VERTICAL, -1, -1, "PROJECT / DEVICE");
    w.network_button = sgui_widget_button(w.page, SGUI_VERTICAL, -1, -1, "NETWORK / DIGITAL");
    sgui_network_set_address(w.network, "0.0.0.0", 0, 0);
    show_digital();

    network_add_listener(21, on_network, 0);
    network_add_listener(22, on_device_name, 0);
    network_add_listener(27, on_keylock, 0);
    network_add_listener(29, on_digital_status, 0);
    network_add_listener(63, on_digital_word, 0);
    network_add_listener(100, on_project, 0);
    network_add_listener(123, on_status, 0);

    sgui_widget *first = sgui_first_focusable(w.root);
    if (first != nullptr)
        sgui_focus_set(first);
    return w.root;
}

// The key lock lives here: the combination toggles it, any key while it is
// on says so.
int mainmenu_lock_keys(int keys)
{
    if (keys & SGUI_KEY_LOCK) {
        int on = !sgui_keylock();
        sgui_set_keylock(on);
        show_lock();
        sgui_notice(on ? "Key lock" : "Unlock");
        char line[48];
        snprintf(line, sizeof line, "%d,%d,%d\n", 27, network_get_conn_id(), on);
        network_output_command(line);
        return keys & ~SGUI_KEY_LOCK;
    }
    if (keys & SGUI_KEY_LOCKED) {
        sgui_notice("Keys locked.");
        return keys & ~SGUI_KEY_LOCKED;
    }
    return keys;
}

void mainmenu_set_opener(int entry, void (*open)())
{
    if (entry >= 0 && entry < MAINMENU_ENTRIES)
        openers[entry] = open;
}

const char *mainmenu_digital_input_text(int status, int dio, char *buf, size_t size)
{
    switch (status & 3) {
    case 1:
        if (dio & 8)
            snprintf(buf, size, "SPDIF");
        else
            snprintf(buf, size, "AES: %s%s", (status & 4) ? "C" : "", (status & 8) ? "D" : "");
        break;
    case 2:
        snprintf(buf, size, "ADAT");
        break;
    default:
        snprintf(buf, size, "DIGITAL?");
        break;
    }
    return buf;
}

const char *mainmenu_digital_rate_text(int status)
{
    if (status & 256)
        return "96k\u219296k";
    if (status & 128)
        return "88k\u219296k";
    if (status & 64)
        return "48k\u219296k";
    if (status & 32)
        return "44k\u219296k";
    if (status & 16)
        return "32k\u219296k";
    return "96k";
}

const mainmenu_widgets &mainmenu_get()
{
    return w;
}
