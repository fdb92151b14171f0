#include "gui/prjsecurity.h"

#include <cstdio>
#include <cstdlib>

#include "common/db_text.h"
#include "gui/chanmap.h"
#include "gui/project.h"
#include "gui/screen.h"
#include "gui/usermsg.h"
#include "sgui/sgui_msgbox.h"
#include "sgui/sgui_textedit.h"
#include "sgui/sgui_widget.h"

namespace {

constexpr int TITLE_PX = 25, ROW_PX = 28, CAPTION_PX = 230;

prjsecurity_widgets w;

sgui_widget *caption_row(sgui_widget *page, const char *caption)
{
    sgui_widget *row = sgui_widget_container(page, SGUI_VERTICAL, SGUI_UNITS, chanmap_h(ROW_PX));
    sgui_widget *l = sgui_widget_label(row, SGUI_HORIZONTAL, chanmap_w(CAPTION_PX), chanmap_h(ROW_PX), caption, 0);
    sgui_set_font(l, CHANMAP_SMALL_FONT);
    return row;
}

// Shows a lock value: read-only for anything but 0, the code for n + 1.
void show(int lock)
{
    char code[8] = "0000";
    if (lock > 0)
        snprintf(code, sizeof code, "%04d", (lock - 1) % 10000);
    sgui_checkbox_set_ticked(w.readonly, lock != 0);
    sgui_checkbox_set_ticked(w.use_code, lock > 0);
    sgui_set_enabled(w.use_code, lock != 0);
    sgui_textedit_set_text(w.code, code);
    sgui_set_text(w.name, project_live_get().name.c_str());
}

void send_lock()
{
    const project_live &p = project_live_get();
    int lock = prjsecurity_lock_value(sgui_checkbox_get_ticked(w.readonly), sgui_checkbox_get_ticked(w.use_code),
                                      sgui_textedit_get_text(w.code));
    sgui_set_enabled(w.use_code, sgui_checkbox_get_ticked(w.readonly));
    char head[64];
    snprintf(head, sizeof head, "%d,%d,0,0,", p.id, lock);
    project_send(100, head + db_text_encode(p.name) + "\n");
}

void on_value(sgui_widget *x, int value, const char *)
{
    if (x == w.readonly || x == w.use_code) {
        if (value < 0)  // Enter toggles
            sgui_checkbox_set_ticked(x, !sgui_checkbox_get_ticked(x));
        if (x == w.use_code && !sgui_checkbox_get_ticked(w.readonly))
            sgui_checkbox_set_ticked(w.use_code, 0);
        send_lock();
    } else if (x == w.code) {
        if (atoi(sgui_textedit_get_text(w.code)) != 0 && sgui_checkbox_get_ticked(w.readonly))
            sgui_checkbox_set_ticked(w.use_code, 1);
        send_lock();
    }
}

void open_page()
{
    show(project_live_get().lock);
    if (screen_open(w.root))
        sgui_focus_set(w.readonly);
}

void code_answer(int answer, void *)
{
    if (answer != 1)
        return;
    if (atoi(sgui_message_box_entry()) + 1 == project_live_get().lock)
        open_page();
    else
        usermsg_show("Wrong lock code!");
}

}  // namespace

int prjsecurity_lock_value(int readonly, int use_code, const char *code)
{
    if (!readonly)
        return 0;
    int n = code != nullptr ? atoi(code) : 0;
    if (!use_code || n <= 0 || n > 9999)
        return -1;
    return n + 1;
}

void prjsecurity_init()
{
    w = {};
    w.root = sgui_widget_container(nullptr, 0, SGUI_UNITS, SGUI_UNITS);
    w.root->key = screen_back_key;
    sgui_widget *page = sgui_widget_container(w.root, SGUI_HORIZONTAL, SGUI_UNITS, SGUI_UNITS);
    page->event_val = on_value;
    page->flags |= SGUI_NOSCROLL;
    sgui_widget *top = sgui_widget_container(page, SGUI_VERTICAL, SGUI_UNITS, chanmap_h(TITLE_PX));
    top->colour[0] = top->colour[1] = top->colour[2] = 48;
    sgui_widget_label(top, SGUI_HORIZONTAL, SGUI_UNITS, chanmap_h(TITLE_PX), "\x60PROJECT SECURITY", 1);
    w.name = sgui_widget_label(page, SGUI_VERTICAL, SGUI_UNITS, chanmap_h(25), "", 0);
    sgui_set_font(w.name, CHANMAP_SMALL_FONT);
    w.readonly = sgui_widget_checkbox(caption_row(page, "READ ONLY"), SGUI_HORIZONTAL, -1, chanmap_h(ROW_PX));
    w.use_code = sgui_widget_checkbox(caption_row(page, "USE LOCK CODE"), SGUI_HORIZONTAL, -1, chanmap_h(ROW_PX));
    w.code = sgui_widget_textedit(caption_row(page, "LOCK CODE"), SGUI_HORIZONTAL, chanmap_w(73), chanmap_h(ROW_PX),
                                  "0000", 4, 1);
    sgui_textedit_set_onlynumbers(w.code);
    sgui_widget *order[] = {w.readonly, w.use_code, w.code};
    sgui_focus_chain(order, 3);
    show(0);
}

void prjsecurity_open()
{
    if (project_live_get().lock > 0)
        usermsg_ask(SGUI_MSGBOX_OKCANCEL, "Enter lock code:\n\n$E,50,4,1,0000", code_answer, nullptr);
    else
        open_page();
}

void prjsecurity_update(bool from_other)
{
    if (w.root == nullptr)
        return;
    if (from_other)
        show(project_live_get().lock);
    else
        sgui_set_text(w.name, project_live_get().name.c_str());
}

prjsecurity_widgets *prjsecurity_get()
{
    return &w;
}
