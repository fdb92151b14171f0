#include "gui/sysinfo.h"

#include <cstdio>
#include <cstring>
#include <string>

#include "gui/chanmap.h"
#include "gui/screen.h"
#include "platform.h"
#include "sgui/sgui_widget.h"

namespace {

constexpr int TITLE_PX = 25, ROW_PX = 22;

sysinfo_widgets w;

// The first line a command prints, or "?" when it prints nothing.
std::string first_line(const char *cmd)
{
    char out[256];
    if (platform_read(out, sizeof out, "%s", cmd) <= 0)
        return "?";
    out[strcspn(out, "\r\n")] = 0;
    return out[0] != 0 ? out : "?";
}

sgui_widget *caption_value(sgui_widget *page, const char *caption)
{
    sgui_widget *c = sgui_widget_label(page, SGUI_VERTICAL, SGUI_UNITS, chanmap_h(ROW_PX), caption, 0);
    sgui_set_font(c, CHANMAP_SMALL_FONT);
    return sgui_widget_label(page, SGUI_VERTICAL, SGUI_UNITS, chanmap_h(ROW_PX), "", 0);
}

}  // namespace

int sysinfo_serial(const char *mac)
{
    unsigned b[6];
    if (mac == nullptr || sscanf(mac, "%x:%x:%x:%x:%x:%x", &b[0], &b[1], &b[2], &b[3], &b[4], &b[5]) != 6)
        return -1;
    return (int)((b[4] & 0xFF) << 8 | (b[5] & 0xFF));
}

void sysinfo_init()
{
    w = {};
    sgui_widget *page;
    w.root = screen_new_page("INFO", TITLE_PX, nullptr, &page);
    page->flags |= SGUI_NOSCROLL;
    w.version = caption_value(page, "APP VERSION");
    w.os = caption_value(page, "OPERATING SYSTEM");
    w.os_build = sgui_widget_label(page, SGUI_VERTICAL, SGUI_UNITS, chanmap_h(ROW_PX), "", 0);
    sgui_set_font(w.os_build, CHANMAP_SMALL_FONT);
    w.mac = caption_value(page, "ETHERNET MAC ADDRESS");
    w.serial = caption_value(page, "SERIAL NUMBER");
    sgui_set_text(w.version, SYSINFO_APP_VERSION);
}

void sysinfo_open()
{
    sgui_set_text(w.os, first_line("uname -sr").c_str());
    sgui_set_text(w.os_build, first_line("uname -v").c_str());
    std::string mac = first_line("iplink show eth0 | awk 'NR==2 {print toupper($2)}'");
    sgui_set_text(w.mac, mac.c_str());
    int serial = sysinfo_serial(mac.c_str());
    sgui_set_text(w.serial, serial >= 0 ? std::to_string(serial).c_str() : "?");
    screen_open(w.root);
}

sysinfo_widgets *sysinfo_get()
{
    return &w;
}
