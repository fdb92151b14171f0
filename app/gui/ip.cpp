#include "gui/ip.h"

#include <cassert>
#include <cstdio>
#include <string>

#include "common/db_text.h"
#include "common/hw_rev.h"
#include "gui/chanmap.h"
#include "gui/project.h"
#include "gui/screen.h"
#include "gui/usermsg.h"
#include "network.h"
#include "sgui/sgui_spinner.h"
#include "sgui/sgui_textedit.h"
#include "sgui/sgui_widget.h"

namespace {

constexpr int TITLE_PX = 25, ROW_PX = 23, CAPTION_PX = 200, SCREEN_PX = 320, OCTET_PX = 52, WLAN_LEN = 32;
constexpr const char *MODE_TEXTS[] = {"Automatic DHCP Server or Client", "DHCP Server", "DHCP Client", "Static IP"};

ip_widgets w;
int dio_word;
bool network_sent, wlan_sent;

void show_mode_text()
{
    int m = sgui_spinner_get_value(w.mode);
    sgui_set_text(w.mode_text, MODE_TEXTS[m & 3]);
}

void send_network()
{
    int addr[4], gw[4];
    for (int i = 0; i < 4; i++) {
        addr[i] = sgui_spinner_get_value(w.addr[i]);
        gw[i] = sgui_spinner_get_value(w.gw[i]);
    }
    char line[96];
    ip_network_line(sgui_spinner_get_value(w.mode), sgui_checkbox_get_ticked(w.dns), addr,
                    sgui_spinner_get_value(w.bits), gw, line, sizeof line);
    network_sent = true;
    project_send(21, line);
}

int checkbox_value(sgui_widget *x, int value)
{
    if (value < 0)
        sgui_checkbox_set_ticked(x, !sgui_checkbox_get_ticked(x));
    return sgui_checkbox_get_ticked(x);
}

void send_dio(int word, bool warn)
{
    dio_word = word;
    project_send(63, std::to_string(word) + "\n");
    if (warn)
        usermsg_show(IP_DIGITAL_WARNING);
}

void set_bit(int bit, int on, bool warn)
{
    send_dio(on ? (dio_word | bit) : (dio_word & ~bit), warn && on);
}

void on_value(sgui_widget *x, int value, const char *text)
{
    if (x == w.mode) {
        show_mode_text();
    } else if (x == w.set) {
        send_network();
    } else if (x == w.dns) {
        checkbox_value(x, value);
    } else if (x == w.wlan) {
        wlan_sent = true;
        project_send(112, db_text_encode(text != nullptr ? text : "") + "\n");
    } else if (x == w.input_c) {
        set_bit(IP_DIO_INPUT_C, value, true);
    } else if (x == w.input_d) {
        set_bit(IP_DIO_INPUT_D, value, true);
    } else if (x == w.redundancy) {
        set_bit(IP_DIO_REDUNDANCY, checkbox_value(x, value), false);
    } else if (x == w.ext_in) {
        set_bit(IP_DIO_EXT_IN_SPDIF, value, false);
    } else if (x == w.ext_out) {
        send_dio(ip_dio_with_choice(dio_word, value), false);
    }
}

// --- reports --------------------------------------------------------------

void on_network(const command_arg *a, intptr_t)
{
    if (a->count < 15)
        return;
    bool own = a->org == network_get_conn_id();
    if (!own || network_sent) {
        sgui_spinner_set_value(w.mode, a->v[4].i & 3);
        sgui_checkbox_set_ticked(w.dns, !(a->v[4].i & IP_MODE_NO_DNS));
        for (int i = 0; i < 4; i++) {
            sgui_spinner_set_value(w.addr[i], a->v[6 + i].i);
            sgui_spinner_set_value(w.gw[i], a->v[11 + i].i);
        }
        sgui_spinner_set_value(w.bits, a->v[10].i);
        show_mode_text();
    }
    if (own && network_sent) {
        network_sent = false;
        usermsg_show("IP Address changed.");
    }
}

void on_wlan(const command_arg *a, intptr_t)
{
    if (a->org == network_get_conn_id() && wlan_sent) {
        wlan_sent = false;
        usermsg_show("WLAN Password\nchanged.");
    }
    if (!w.wlan->focused)
        sgui_textedit_set_text(w.wlan, a->text);
}

void on_dio(const command_arg *a, intptr_t)
{
    dio_word = a->v[0].i;
    if (w.input_c != nullptr) {
        sgui_spinner_set_value(w.input_c, (dio_word & IP_DIO_INPUT_C) != 0);
        sgui_spinner_set_value(w.input_d, (dio_word & IP_DIO_INPUT_D) != 0);
    }
    if (w.ext_in != nullptr)
        sgui_spinner_set_value(w.ext_in, (dio_word & IP_DIO_EXT_IN_SPDIF) != 0);
    sgui_checkbox_set_ticked(w.redundancy, (dio_word & IP_DIO_REDUNDANCY) != 0);
    sgui_spinner_set_value(w.ext_out, ip_dio_choice(dio_word));
}

// --- building -------------------------------------------------------------

sgui_widget *heading(const char *text)
{
    sgui_widget *l = sgui_widget_label(w.page, SGUI_VERTICAL, SGUI_UNITS, chanmap_h(ROW_PX), text, 0);
    l->colour[0] = l->colour[1] = l->colour[2] = 66;
    sgui_set_font(l, CHANMAP_SMALL_FONT);  // "NETWORK CONFIGURATION" fits the width only in it
    return l;
}

sgui_widget *row(const char *caption)
{
    return screen_caption_row(w.page, caption, ROW_PX, CAPTION_PX);
}

// A caption alone on its row (its controls follow below): the full width.
void caption(const char *text)
{
    screen_caption_row(w.page, text, ROW_PX, SCREEN_PX);
}

sgui_widget *spinner(sgui_widget *r, int px, double min, double value, double max, int type)
{
    return sgui_widget_spinner(r, SGUI_HORIZONTAL, chanmap_w(px), chanmap_h(ROW_PX), min, value, max, type, 1, 1);
}

// An entry container of the static-address editor: four octets.
void octets(sgui_widget *out[4], const int value[4])
{
    sgui_widget *r = sgui_widget_container(w.page, SGUI_VERTICAL | SGUI_CENTRE_H, SGUI_UNITS, chanmap_h(ROW_PX));
    w.static_ip_container_cnt++;
    for (int i = 0; i < 4; i++)
        out[i] = sgui_widget_spinner(r, SGUI_HORIZONTAL, chanmap_w(OCTET_PX), chanmap_h(ROW_PX), 0, value[i], 255, 0,
                                     1, 1);
}

sgui_widget *checkbox(const char *caption)
{
    return sgui_widget_checkbox(row(caption), SGUI_HORIZONTAL, -1, chanmap_h(ROW_PX));
}

}  // namespace

int ip_dio_choice(int word)
{
    for (int c = 1; c <= 4; c++)
        if (word & (8 << c))
            return c;
    return 0;
}

int ip_dio_with_choice(int word, int choice)
{
    word &= ~0xF0;
    if (choice >= 1 && choice <= 4)
        word |= 8 << choice;
    return word;
}

const char *ip_network_line(int mode, int dns, const int a[4], int bits, const int g[4], char *buf, size_t size)
{
    snprintf(buf, size, "0,%d,%d,%d,%d,%d,%d,%d,%d,%d,%d\n", (mode & 3) | (dns ? 0 : IP_MODE_NO_DNS), a[0], a[1],
             a[2], a[3], bits, g[0], g[1], g[2], g[3]);
    return buf;
}

void ip_init()
{
    w = {};
    dio_word = 0;
    network_sent = wlan_sent = false;
    w.root = screen_new_page("NETWORK & DIGITAL", TITLE_PX, on_value, &w.page);
    heading("NETWORK CONFIGURATION");
    w.mode = spinner(row("IP CONFIG MODE"), SCREEN_PX - CAPTION_PX, 0, 0, 3, SPINNER_NETMODE);
    w.mode_text = sgui_widget_label(w.page, SGUI_VERTICAL, SGUI_UNITS, chanmap_h(ROW_PX), "", 0);
    sgui_set_font(w.mode_text, CHANMAP_SMALL_FONT);
    caption("STATIC IP ADDRESS");
    const int addr[4] = {192, 168, 0, 64}, none[4] = {0, 0, 0, 0};
    octets(w.addr, addr);
    caption("GATEWAY/NETMASK (OPTIONAL)");
    octets(w.gw, none);
    sgui_widget *r = row("SUBNET BITS");
    w.static_ip_container_cnt++;
    w.bits = spinner(r, 80, 8, 24, 24, 0);
    assert(!(w.static_ip_container_cnt > IP_STATIC_CONTAINERS_MAX));
    heading("NAME SERVICE");
    w.dns = checkbox("DNS Server");
    sgui_checkbox_set_ticked(w.dns, 1);
    w.set = sgui_widget_button(w.page, SGUI_VERTICAL, SGUI_UNITS, chanmap_h(ROW_PX), "Press ENTER to set");
    heading("WLAN PASSWORD");
    w.wlan = sgui_widget_textedit(w.page, SGUI_VERTICAL, SGUI_UNITS, chanmap_h(ROW_PX), "", WLAN_LEN, 0);
    heading("DIGITAL I/O");
    if (hw::has_input_modes) {
        w.input_c = spinner(row("INPUT C MODE"), 120, 0, 0, 1, SPINNER_ANALOG);
        w.input_d = spinner(row("INPUT D MODE"), 120, 0, 0, 1, SPINNER_ANALOG);
    }
    w.redundancy = checkbox("REDUNDANCY MODE");
    if (hw::has_avb_input)
        w.ext_in = spinner(row("EXT. IN MODE"), 120, 0, 0, 1, SPINNER_AVB);
    w.ext_out = spinner(row("EXT. OUT MODE"), 120, 0, 0, 4, SPINNER_DASH);
    sgui_widget *order[] = {w.mode, w.addr[0], w.addr[1], w.addr[2], w.addr[3], w.gw[0], w.gw[1], w.gw[2], w.gw[3],
                            w.bits, w.dns, w.set, w.wlan, w.input_c, w.input_d, w.redundancy, w.ext_in, w.ext_out};
    sgui_focus_chain(order, sizeof order / sizeof order[0]);
    show_mode_text();

    network_add_listener(21, on_network, 0);
    network_add_listener(63, on_dio, 0);
    network_add_listener(112, on_wlan, 0);
}

void ip_open()
{
    project_request_list();
    if (screen_open(w.root))
        sgui_focus_set(w.mode);
}

ip_widgets *ip_get()
{
    return &w;
}
