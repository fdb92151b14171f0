#include "gui/chanmap.h"

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "gui/levels.h"
#include "gui/screen.h"
#include "sgui/sgui_widget.h"

namespace {

constexpr int PROPS_PX = 124, EQ_PX = 48, STATUS_PX = 86;
constexpr int UNIT_PX = SGUI_SCREEN_W - PROPS_PX - EQ_PX - STATUS_PX;

sgui_widget *top_of(sgui_widget *w)
{
    while (w != nullptr && w->par != nullptr)
        w = w->par;
    return w;
}

std::vector<chanmap_frame *> frames;  // the maps built

// The focus moved inside a row: that row's channel is the one selected.
// (While a screen slides, sgui moves the focus by itself.)
void on_row_focus(sgui_widget *w, int focused)
{
    chanmap_frame *f = chanmap_of(w);
    int row = f != nullptr && focused && sgui_screen_slide() == 0 ? chanmap_row_of(f, w) : -1;
    if (row >= 0)
        f->selected = row;
}

void on_unit(sgui_widget *, int, const char *)
{
    levels_unit_next();
}

// The mute box: a red "M" while muted, a dark one otherwise.
void mute_draw(sgui_widget *w)
{
    if (!sgui_leaf_surface(w, w->view.w, w->view.h))
        return;
    if (w->focused)
        sgui_fill(w->s.get(), nullptr, 146, 76, 10);
    else
        sgui_fill_background(w);
    bool muted = sgui_checkbox_get_ticked(w);
    int bw = std::min(18, (int)w->view.w - 4), bh = std::min(16, (int)w->view.h - 4);
    SDL_Rect box = {(Sint16)((w->view.w - bw) / 2), (Sint16)((w->view.h - bh) / 2), (Uint16)bw, (Uint16)bh};
    if (muted)
        sgui_fill(w->s.get(), &box, 190, 20, 20);
    else
        sgui_fill(w->s.get(), &box, 48, 48, 48);
    font_writemid(w->s.get(), CHANMAP_SMALL_FONT, muted ? 8 : 22, FONT_CENTRE, w->view.w / 2, box.y, box.h, "M");
    sgui_add_damage(w, 0, 0, INT_MAX, INT_MAX);
}

const char *mute_describe(sgui_widget *w, char *text, size_t size)
{
    snprintf(text, size, "%d", sgui_checkbox_get_ticked(w));
    return w->focusable ? "mute" : "join";
}

constexpr int GROUP_FIRST = 1, GROUP_GOES_ON = 2;  // user bits of a group's box

// The line that joins the rows of an output group, in the box's column.
void join_line(sgui_widget *w, int from_y)
{
    SDL_Rect line = {(Sint16)(w->view.w / 2 - 1), (Sint16)from_y, 3, (Uint16)std::max(w->view.h - from_y, 0)};
    sgui_fill(w->s.get(), &line, 121, 121, 121);
}

void group_draw(sgui_widget *w)
{
    if (w->user & GROUP_FIRST) {
        mute_draw(w);
        if (w->user & GROUP_GOES_ON)
            join_line(w, w->view.h - 2);
        return;
    }
    if (!sgui_leaf_surface(w, w->view.w, w->view.h))
        return;
    sgui_fill_background(w);
    join_line(w, 0);
    sgui_add_damage(w, 0, 0, INT_MAX, INT_MAX);
}

sgui_widget *entry(sgui_widget *bar, int px, const char *text)
{
    sgui_widget *b = sgui_widget_button(bar, SGUI_HORIZONTAL, chanmap_w(px), chanmap_h(CHANMAP_BAR_PX),
                                        ("\x60" + std::string(text)).c_str());
    sgui_set_font(b, CHANMAP_SMALL_FONT);
    return b;
}

}  // namespace

void chanmap_build(chanmap_frame *f, const char *title, sgui_value_fn on_value)
{
    f->selected = 0;
    f->root = sgui_widget_container(nullptr, 0, SGUI_UNITS, SGUI_UNITS);
    f->root->data = f;
    f->root->key = screen_back_key;
    std::erase(frames, f);
    frames.push_back(f);
    f->meters.root = f->root;
    f->page = sgui_widget_container(f->root, SGUI_HORIZONTAL, SGUI_UNITS, SGUI_UNITS);
    f->page->event_val = on_value;
    f->page->flags |= SGUI_NOSCROLL;  // the meters draw into the screen's rows
    sgui_widget *top = sgui_widget_container(f->page, SGUI_VERTICAL, SGUI_UNITS, chanmap_h(CHANMAP_TITLE_PX));
    top->colour[0] = top->colour[1] = top->colour[2] = 48;
    f->title = sgui_widget_label(top, SGUI_HORIZONTAL, SGUI_UNITS, chanmap_h(CHANMAP_TITLE_PX),
                                 ("\x60" + std::string(title)).c_str(), 1);
    sgui_set_font(f->title, CHANMAP_SMALL_FONT);
    for (int r = 0; r < CHANMAP_ROWS; r++) {
        f->rows[r] = sgui_widget_container(f->page, SGUI_VERTICAL, SGUI_UNITS, chanmap_h(CHANMAP_ROW_PX));
        f->rows[r]->user = r;
        f->rows[r]->on_focus = on_row_focus;
    }
    sgui_widget *bar = sgui_widget_container(f->page, SGUI_VERTICAL, SGUI_UNITS, chanmap_h(CHANMAP_BAR_PX));
    bar->colour[0] = bar->colour[1] = bar->colour[2] = 30;
    f->props = entry(bar, PROPS_PX, "PROPERTIES");
    f->eq = entry(bar, EQ_PX, "EQ");
    f->status = entry(bar, STATUS_PX, "STATUS");
    f->unit = entry(bar, UNIT_PX, "");
    f->unit->event_val = on_unit;
    chanmap_show_unit(f);
}

void chanmap_forget(chanmap_frame *f)
{
    std::erase(frames, f);
}

chanmap_frame *chanmap_of(sgui_widget *w)
{
    sgui_widget *r = top_of(w);
    for (chanmap_frame *f : frames)
        if (f->root == r)
            return f;
    return nullptr;
}

sgui_widget *chanmap_mute_box(sgui_widget *row, int flags)
{
    sgui_widget *m = sgui_widget_checkbox(row, flags, chanmap_w(CHANMAP_MUTE_PX), chanmap_h(CHANMAP_ROW_PX));
    if (m != nullptr) {
        m->draw = mute_draw;
        m->describe = mute_describe;
    }
    return m;
}

void chanmap_group_box(sgui_widget *box, bool first, bool goes_on)
{
    int user = (first ? GROUP_FIRST : 0) | (goes_on ? GROUP_GOES_ON : 0);
    if (box->draw == group_draw && box->user == user)
        return;
    box->draw = group_draw;
    box->user = user;
    box->focusable = first;
    sgui_invalidate(box);
}

sgui_widget *chanmap_number(sgui_widget *row, int index)
{
    return chanmap_text(row, CHANMAP_NUMBER_PX, std::to_string(index + 1).c_str(), FONT_CENTRE);
}

sgui_widget *chanmap_text(sgui_widget *row, int px, const char *text, int align)
{
    sgui_widget *l = sgui_widget_label(row, SGUI_HORIZONTAL, chanmap_w(px), chanmap_h(CHANMAP_ROW_PX), text, 0);
    sgui_set_font(l, CHANMAP_SMALL_FONT);
    sgui_set_align(l, align);
    return l;
}

sgui_widget *chanmap_button(sgui_widget *row, int px, const char *text)
{
    sgui_widget *b = sgui_widget_button(row, SGUI_HORIZONTAL, chanmap_w(px), chanmap_h(CHANMAP_ROW_PX), text);
    sgui_set_font(b, CHANMAP_SMALL_FONT);
    return b;
}

void chanmap_link_focus(chanmap_frame *f, sgui_widget *const *rows_controls, size_t per_row)
{
    std::vector<sgui_widget *> order(rows_controls, rows_controls + CHANMAP_ROWS * per_row);
    for (sgui_widget *e : {f->props, f->eq, f->status, f->unit})
        order.push_back(e);
    sgui_focus_chain(order.data(), order.size());
}

int chanmap_row_of(const chanmap_frame *f, const sgui_widget *w)
{
    for (; w != nullptr; w = w->par)
        for (int r = 0; r < CHANMAP_ROWS; r++)
            if (w == f->rows[r])
                return r;
    return -1;
}

void chanmap_show_unit(chanmap_frame *f)
{
    levels_unit *u = levels_unit_get();
    sgui_set_text(f->unit, ("\x60" + std::string(levels_unit_name(u != nullptr ? u->index : 0))).c_str());
}
