#include "gui/chanprops.h"

#include <cstdarg>
#include <cstdio>
#include <string>

#include "gui/chanmap.h"
#include "gui/screen.h"
#include "network.h"
#include "sgui/sgui_spinner.h"
#include "sgui/sgui_widget.h"

namespace {

constexpr int TITLE_PX = 25, ROW_PX = 25, SECTION_PX = 20, INFO_PX = 18;
constexpr int TITLE_W_PX = 110;
constexpr int SPINNER_PX = 100, PAD_PX = 4;
constexpr int CAPTION_PX = SGUI_SCREEN_W - SPINNER_PX - PAD_PX;
constexpr int SMALL_FONT = 2;

sgui_widget *row(chanprops_screen *s, int px)
{
    return sgui_widget_container(s->list, SGUI_VERTICAL, SGUI_UNITS, chanmap_h(px));
}

}  // namespace

void chanprops_build(chanprops_screen *s, const char *title, sgui_value_fn on_value)
{
    s->root = sgui_widget_container(nullptr, 0, SGUI_UNITS, SGUI_UNITS);
    s->root->key = screen_back_key;
    s->page = sgui_widget_container(s->root, SGUI_HORIZONTAL, SGUI_UNITS, SGUI_UNITS);
    s->page->event_val = on_value;
    s->page->flags |= SGUI_NOSCROLL;
    sgui_widget *top = sgui_widget_container(s->page, SGUI_VERTICAL, SGUI_UNITS, chanmap_h(TITLE_PX));
    top->colour[0] = top->colour[1] = top->colour[2] = 48;
    s->title = sgui_widget_label(top, SGUI_HORIZONTAL, chanmap_w(TITLE_W_PX), chanmap_h(TITLE_PX), title, 1);
    sgui_set_font(s->title, SMALL_FONT);
    s->header = sgui_widget_label(top, SGUI_HORIZONTAL, chanmap_w(SGUI_SCREEN_W - TITLE_W_PX), chanmap_h(TITLE_PX),
                                  "", 1);
    s->list = sgui_widget_container(s->page, SGUI_VERTICAL, SGUI_UNITS, chanmap_h(SGUI_SCREEN_H - TITLE_PX));
    s->order.clear();
}

sgui_widget *chanprops_button(chanprops_screen *s, const char *text)
{
    sgui_widget *b = sgui_widget_button(row(s, ROW_PX), SGUI_HORIZONTAL, SGUI_UNITS, chanmap_h(ROW_PX), text);
    s->order.push_back(b);
    return b;
}

sgui_widget *chanprops_spinner(chanprops_screen *s, const char *caption, double min, double value, double max,
                               int type, double step)
{
    sgui_widget *r = row(s, ROW_PX);
    sgui_widget *c = sgui_widget_label(r, SGUI_HORIZONTAL, chanmap_w(CAPTION_PX), chanmap_h(ROW_PX), caption, 0);
    sgui_set_font(c, SMALL_FONT);
    sgui_widget *sp =
        sgui_widget_spinner(r, SGUI_HORIZONTAL, chanmap_w(SPINNER_PX), chanmap_h(ROW_PX), min, value, max, type, step, 1);
    s->order.push_back(sp);
    return sp;
}

sgui_widget *chanprops_caption_of(sgui_widget *spinner)
{
    return spinner != nullptr ? spinner->prev : nullptr;
}

sgui_widget *chanprops_section(chanprops_screen *s, const char *text)
{
    sgui_widget *r = row(s, SECTION_PX + 4);
    sgui_widget_container(r, SGUI_VERTICAL, SGUI_UNITS, chanmap_h(4));
    sgui_widget *l = sgui_widget_label(r, SGUI_VERTICAL, SGUI_UNITS, chanmap_h(SECTION_PX), text, 1);
    sgui_set_font(l, SMALL_FONT);
    return l;
}

sgui_widget *chanprops_info(chanprops_screen *s)
{
    sgui_widget *l = sgui_widget_label(row(s, INFO_PX), SGUI_HORIZONTAL, SGUI_UNITS, chanmap_h(INFO_PX), "", 0);
    sgui_set_font(l, 3);
    sgui_set_align(l, FONT_RIGHT);
    return l;
}

void chanprops_finish(chanprops_screen *s)
{
    sgui_focus_chain(s->order.data(), s->order.size());
}

void chanprops_focus_first(chanprops_screen *s)
{
    s->list->view.y = 0;
    if (!s->order.empty())
        sgui_focus_set(s->order.front());
    sgui_invalidate_tree(s->list);
}

int chanprops_send(const char *who, const char *fmt, ...)
{
    char cmd_buf[CHANPROPS_CMD_BUF_SIZE];
    va_list ap;
    va_start(ap, fmt);
    int n = vsnprintf(cmd_buf, sizeof cmd_buf, fmt, ap);
    va_end(ap);
    if (n < 0 || n >= CHANPROPS_CMD_BUF_SIZE) {
        std::string msg = std::string(who) + "/event_value: strlen(cmd_buf)>CMD_BUF_SIZE";
        perror(msg.c_str());
        return 0;
    }
    network_output_command(cmd_buf);
    return 1;
}
