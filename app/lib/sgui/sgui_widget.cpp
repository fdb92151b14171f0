#include "sgui/sgui_widget.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <new>

#include "platform.h"
#include "sgui/sgui_spinner.h"
#include "sgui/sgui_textedit.h"

namespace {

constexpr int ANIM_FRAME = 32;
constexpr int ANIM_FRAMES = 12;
constexpr size_t ANIM_BYTES = ANIM_FRAME * ANIM_FRAME * ANIM_FRAMES * 3;

// Twelve 32 x 32 frames of a turning dot, run-length coded: a count below
// 128 is followed by that many RGB triples, a count c of 128 or more by one
// triple repeated c - 128 times.
constexpr char anim_rle[] =
    "\xee\x00\x00\x00\x84\xe0\xff\xff\x96\x00\x00\x00\x84\x92\x4c\x0a\x82\x00\x00\x00\x84\xe0\xff\xff\x96\x00\x00\x00\x84\x92\x4c\x0a\x82\x00\x00\x00\x84\xe0\xff\xff\x96\x00\x00\x00\x84\x92\x4c\x0a\x82\x00\x00\x00\x84\xe0\xff\xff\x96\x00\x00\x00\x84\x92\x4c\x0a\x98\x00\x00\x00\x84\x3c\x20\x06\x9c\x00\x00\x00\x84\x3c\x20\x06\x9c\x00\x00\x00\x84\x3c\x20\x06\x9c\x00\x00\x00\x84\x3c\x20\x06\xff\x00\x00\x00\xff\x00\x00\x00\xff\x00\x00\x00\xff\x00\x00\x00\xff\x00\x00\x00\xff\x00\x00\x00\x8c\x00\x00\x00\x84\x92\x4c\x0a\x96\x00\x00\x00\x84\x3c\x20\x06\x82\x00\x00\x00\x84\x92\x4c\x0a\x82\x00\x00\x00\x84\xe0\xff\xff\x90\x00\x00\x00\x84\x3c\x20\x06\x82\x00\x00\x00\x84\x92\x4c\x0a\x82\x00\x00\x00\x84\xe0\xff\xff\x90\x00\x00\x00\x84\x3c\x20\x06\x82\x00\x00\x00\x84\x92\x4c\x0a\x82\x00\x00\x00\x84\xe0\xff\xff\x90\x00\x00\x00\x84\x3c\x20\x06\x88\x00\x00\x00\x84\xe0\xff\xff\xff\x00\x00\x00\xff\x00\x00\x00\xff\x00\x00\x00\xff\x00\x00\x00\xff\x00\x00\x00\xff\x00\x00\x00\xfc\x00\x00\x00\x84\x3c\x20\x06\x9c\x00\x00\x00\x84\x3c\x20\x06\x82\x00\x00\x00\x84\x92\x4c\x0a\x96\x00\x00\x00\x84\x3c\x20\x06\x82\x00\x00\x00\x84\x92\x4c\x0a\x96\x00\x00\x00\x84\x3c\x20\x06\x82\x00\x00\x00\x84\x92\x4c\x0a\x9c\x00\x00\x00\x84\x92\x4c\x0a\xa0\x00\x00\x00\x84\xe0\xff\xff\x9c\x00\x00\x00\x84\xe0\xff\xff\x9c\x00\x00\x00\x84\xe0\xff\xff\x9c\x00\x00\x00\x84\xe0\xff\xff\xff\x00\x00\x00\xff\x00\x00\x00\xff\x00\x00\x00\xff\x00\x00\x00\xff\x00\x00\x00\xff\x00\x00\x00\x9e\x00\x00\x00\x84\x3c\x20\x06\x9c\x00\x00\x00\x84\x3c\x20\x06\x9c\x00\x00\x00\x84\x3c\x20\x06\x9c\x00\x00\x00\x84\x3c\x20\x06\xa0\x00\x00\x00\x84\x92\x4c\x0a\x9c\x00\x00\x00\x84\x92\x4c\x0a\x9c\x00\x00\x00\x84\x92\x4c\x0a\x9c\x00\x00\x00\x84\x92\x4c\x0a\xdd\x00\x00\x00\x84\xe0\xff\xff\x9c\x00\x00\x00\x84\xe0\xff\xff\x9c\x00\x00\x00\x84\xe0\xff\xff\x9c\x00\x00\x00\x84\xe0\xff\xff\xff\x00\x00\x00\xff\x00\x00\x00\xff\x00\x00\x00\xff\x00\x00\x00\xff\x00\x00"
    "\x00\xe0\x00\x00\x00\x84\x3c\x20\x06\x9c\x00\x00\x00\x84\x3c\x20\x06\x9c\x00\x00\x00\x84\x3c\x20\x06\x9c\x00\x00\x00\x84\x3c\x20\x06\xdd\x00\x00\x00\x84\x92\x4c\x0a\x9c\x00\x00\x00\x84\x92\x4c\x0a\x9c\x00\x00\x00\x84\x92\x4c\x0a\x9c\x00\x00\x00\x84\x92\x4c\x0a\xdb\x00\x00\x00\x84\xe0\xff\xff\x9c\x00\x00\x00\x84\xe0\xff\xff\x9c\x00\x00\x00\x84\xe0\xff\xff\x9c\x00\x00\x00\x84\xe0\xff\xff\xff\x00\x00\x00\xff\x00\x00\x00\xff\x00\x00\x00\xff\x00\x00\x00\xff\x00\x00\x00\xe2\x00\x00\x00\x84\x3c\x20\x06\x9c\x00\x00\x00\x84\x3c\x20\x06\x9c\x00\x00\x00\x84\x3c\x20\x06\x9c\x00\x00\x00\x84\x3c\x20\x06\xdb\x00\x00\x00\x84\x92\x4c\x0a\x9c\x00\x00\x00\x84\x92\x4c\x0a\x9c\x00\x00\x00\x84\x92\x4c\x0a\x9c\x00\x00\x00\x84\x92\x4c\x0a\x98\x00\x00\x00\x84\xe0\xff\xff\x9c\x00\x00\x00\x84\xe0\xff\xff\x9c\x00\x00\x00\x84\xe0\xff\xff\x9c\x00\x00\x00\x84\xe0\xff\xff\xff\x00\x00\x00\xff\x00\x00\x00\xff\x00\x00\x00\xff\x00\x00\x00\xff\x00\x00\x00\xff\x00\x00\x00\xa6\x00\x00\x00\x84\x3c\x20\x06\x9c\x00\x00\x00\x84\x3c\x20\x06\x9c\x00\x00\x00\x84\x3c\x20\x06\x9c\x00\x00\x00\x84\x3c\x20\x06\x98\x00\x00\x00\x84\x92\x4c\x0a\x96\x00\x00\x00\x84\xe0\xff\xff\x82\x00\x00\x00\x84\x92\x4c\x0a\x96\x00\x00\x00\x84\xe0\xff\xff\x82\x00\x00\x00\x84\x92\x4c\x0a\x96\x00\x00\x00\x84\xe0\xff\xff\x82\x00\x00\x00\x84\x92\x4c\x0a\x96\x00\x00\x00\x84\xe0\xff\xff\xff\x00\x00\x00\xff\x00\x00\x00\xff\x00\x00\x00\xff\x00\x00\x00\xff\x00\x00\x00\xff\x00\x00\x00\xfd\x00\x00\x00\x84\xe0\xff\xff\x87\x00\x00\x00\x84\x3c\x20\x06\x91\x00\x00\x00\x84\xe0\xff\xff\x01\x00\x00\x00\x84\x92\x4c\x0a\x82\x00\x00\x00\x84\x3c\x20\x06\x91\x00\x00\x00\x84\xe0\xff\xff\x01\x00\x00\x00\x84\x92\x4c\x0a\x82\x00\x00\x00\x84\x3c\x20\x06\x91\x00\x00\x00\x84\xe0\xff\xff\x01\x00\x00\x00\x84\x92\x4c\x0a\x82\x00\x00\x00\x84\x3c\x20\x06\x96\x00\x00\x00\x84\x92\x4c\x0a\xff\x00\x00\x00\xff\x00\x00\x00\xff\x00\x00\x00\xff\x00\x00\x00\xff\x00\x00\x00\xf7\x00"
    "\x00\x00\x84\xe0\xff\xff\x9c\x00\x00\x00\x84\xe0\xff\xff\x9c\x00\x00\x00\x84\xe0\xff\xff\x9c\x00\x00\x00\x84\xe0\xff\xff\xa1\x00\x00\x00\x84\x92\x4c\x0a\x9c\x00\x00\x00\x84\x92\x4c\x0a\x01\x00\x00\x00\x84\x3c\x20\x06\x97\x00\x00\x00\x84\x92\x4c\x0a\x01\x00\x00\x00\x84\x3c\x20\x06\x97\x00\x00\x00\x84\x92\x4c\x0a\x01\x00\x00\x00\x84\x3c\x20\x06\x9c\x00\x00\x00\x84\x3c\x20\x06\xff\x00\x00\x00\xff\x00\x00\x00\xff\x00\x00\x00\xff\x00\x00\x00\xb5\x00\x00\x00\x84\xe0\xff\xff\x9c\x00\x00\x00\x84\xe0\xff\xff\x9c\x00\x00\x00\x84\xe0\xff\xff\x9c\x00\x00\x00\x84\xe0\xff\xff\xdd\x00\x00\x00\x84\x92\x4c\x0a\x9c\x00\x00\x00\x84\x92\x4c\x0a\x9c\x00\x00\x00\x84\x92\x4c\x0a\x9c\x00\x00\x00\x84\x92\x4c\x0a\xa1\x00\x00\x00\x84\x3c\x20\x06\x9c\x00\x00\x00\x84\x3c\x20\x06\x9c\x00\x00\x00\x84\x3c\x20\x06\x9c\x00\x00\x00\x84\x3c\x20\x06\xff\x00\x00\x00\xff\x00\x00\x00\xff\x00\x00\x00\x9a\x00\x00\x00\x84\xe0\xff\xff\x9c\x00\x00\x00\x84\xe0\xff\xff\x9c\x00\x00\x00\x84\xe0\xff\xff\x9c\x00\x00\x00\x84\xe0\xff\xff\xdb\x00\x00\x00\x84\x92\x4c\x0a\x9c\x00\x00\x00\x84\x92\x4c\x0a\x9c\x00\x00\x00\x84\x92\x4c\x0a\x9c\x00\x00\x00\x84\x92\x4c\x0a\xdd\x00\x00\x00\x84\x3c\x20\x06\x9c\x00\x00\x00\x84\x3c\x20\x06\x9c\x00\x00\x00\x84\x3c\x20\x06\x9c\x00\x00\x00\x84\x3c\x20\x06\xff\x00\x00\x00\xff\x00\x00\x00\xff\x00\x00\x00\xa3\x00\x00\x00\x84\xe0\xff\xff\x9c\x00\x00\x00\x84\xe0\xff\xff\x9c\x00\x00\x00\x84\xe0\xff\xff\x9c\x00\x00\x00\x84\xe0\xff\xff\x98\x00\x00\x00\x84\x92\x4c\x0a\x9c\x00\x00\x00\x84\x92\x4c\x0a\x9c\x00\x00\x00\x84\x92\x4c\x0a\x9c\x00\x00\x00\x84\x92\x4c\x0a\xdb\x00\x00\x00\x84\x3c\x20\x06\x9c\x00\x00\x00\x84\x3c\x20\x06\x9c\x00\x00\x00\x84\x3c\x20\x06\x9c\x00\x00\x00\x84\x3c\x20\x06\xff\x00\x00\x00\xff\x00\x00\x00\xff\x00\x00\x00\xdc\x00\x00\x00"
    ;

struct tab_data {
    std::string text;
    int selected;
};

struct checkbox_data {
    int ticked;
};

struct animimage_data {
    int frame;
    sdl_surface_ptr image;
};

struct digstate_data {
    std::string first, second;
};

struct network_data {
    std::string address;
    int state, state2;
};

template <typename T> T *data_of(sgui_widget *w)
{
    return static_cast<T *>(w->data);
}

template <typename T> void free_kind(sgui_widget *w)
{
    delete data_of<T>(w);
    w->data = nullptr;
}

bool is_label_kind(const sgui_widget *w)
{
    return w->kind == SGUI_KIND_LABEL || w->kind == SGUI_KIND_ICON || w->kind == SGUI_KIND_BUTTON ||
           w->kind == SGUI_KIND_RADIO;
}

// A widget of a kind with its data; the constructor's own name in the
// diagnostic when the data cannot be had.
template <typename T>
sgui_widget *kind_new(const char *who, sgui_widget *par, int flags, int kind, int w, int h, int def_w, int def_h)
{
    sgui_widget *x = widget_new(par, flags);
    if (x == nullptr)
        return nullptr;
    T *d = new (std::nothrow) T{};
    if (d == nullptr) {
        platform_log("%s: self->par == NULL\n", who);
        sgui_widget_free(x);
        return nullptr;
    }
    x->data = d;
    x->kind = kind;
    x->free_data = free_kind<T>;
    sgui_widget_set_size(x, w, h, def_w, def_h);
    return x;
}

void fill_focus_or_colour(sgui_widget *w)
{
    if (w->focused && w->focusable)
        sgui_fill(w->s.get(), nullptr, 146, 76, 10);
    else
        sgui_fill_background(w);
}

int label_font_for(int height_units)
{
    if (height_units >= 3358)
        return 4;
    if (height_units >= 2425)
        return 0;
    if (height_units == 2424)
        return 2;
    return 3;
}

void label_store_text(sgui_widget *w, const char *text)
{
    auto *d = data_of<sgui_label_data>(w);
    std::string t = text != nullptr ? text : "";
    if (t.rfind("\x60", 0) == 0) {
        t.erase(0, 1);
        d->align = FONT_CENTRE;
    }
    d->text = t;
}

void label_draw(sgui_widget *w)
{
    auto *d = data_of<sgui_label_data>(w);
    if (w->anim_due && d->scrolling && w->s) {
        w->anim_due = 0;
        if (d->pause > 0) {
            d->pause--;
            return;
        }
        int end = w->sw - w->view.w;
        w->view.x = (int16_t)(w->view.x + 1 >= end ? 0 : w->view.x + 1);
        sgui_add_damage(w, 0, 0, INT_MAX, INT_MAX);
        return;
    }
    w->anim_due = 0;
    std::string text = d->text;
    if (w->kind == SGUI_KIND_RADIO)
        text = (d->selected ? "\u25CF " : "\u25CB ") + text;
    int tw = font_width(d->font, text.c_str());
    bool wide = tw > w->view.w;
    if (!sgui_leaf_surface(w, wide ? tw + w->view.w + 160 : w->view.w, w->view.h))
        return;
    bool button = w->focusable && d->align == FONT_CENTRE && d->text.size() >= 2;
    if (w->focused && w->focusable)
        sgui_fill(w->s.get(), nullptr, 146, 76, 10);
    else if (button)
        sgui_fill(w->s.get(), nullptr, 64, 2, 0);
    else if (d->boxed)
        sgui_fill(w->s.get(), nullptr, 48, 48, 48);
    else
        sgui_fill_background(w);
    int colour;
    if (d->boxed)
        colour = w->enabled ? 21 : 22;
    else if (w->enabled)
        colour = w->focused ? 15 : 14;
    else
        colour = w->focused ? 23 : 22;
    int x;
    if (wide)
        x = 5;
    else if (d->align == FONT_RIGHT)
        x = w->view.w - 7 - tw;
    else if (d->align == FONT_CENTRE)
        x = w->view.w / 2 - tw / 2;
    else
        x = 5;
    font_write(w->s.get(), d->font, colour, FONT_LEFT, x, 0, text.c_str());
    if (wide)
        font_write(w->s.get(), d->font, colour, FONT_LEFT, x + w->sw - w->view.w, 0, text.c_str());
    w->view.x = 0;
    d->pause = 50;
    d->scrolling = wide && (d->font == 4 || w->focused);
    d->last_focused = w->focused;
    if (d->scrolling)
        sgui_anim_add(w, 1);
    else
        sgui_anim_remove(w);
    sgui_add_damage(w, 0, 0, INT_MAX, INT_MAX);
}

sgui_widget *label_new(const char *who, sgui_widget *par, int flags, int w, int h, const char *text, int boxed,
                       int kind)
{
    sgui_widget *x = kind_new<sgui_label_data>(who, par, flags, kind, w, h, SGUI_UNITS, SGUI_LABEL_H);
    if (x == nullptr)
        return nullptr;
    auto *d = data_of<sgui_label_data>(x);
    x->draw = label_draw;
    d->boxed = boxed;
    d->align = boxed && x->size.h < SGUI_LABEL_H ? FONT_CENTRE : FONT_LEFT;
    label_store_text(x, text);
    d->font = d->normal_font = label_font_for(x->size.h);
    return x;
}

int button_key(sgui_widget *w, int keys, int)
{
    if (!w->enabled || !(keys & SGUI_KEY_ENTER))
        return keys;
    sgui_event_val(w, 1, data_of<sgui_label_data>(w)->text.c_str());
    return keys & ~SGUI_KEY_ENTER;
}

int radio_key(sgui_widget *w, int keys, int)
{
    if (!w->enabled || !(keys & SGUI_KEY_ENTER))
        return keys;
    sgui_radio_select(w);
    sgui_event_val(w, 1, data_of<sgui_label_data>(w)->text.c_str());
    return keys & ~SGUI_KEY_ENTER;
}

// A label that takes the focus and handles Enter.
sgui_widget *focusable_label(const char *who, sgui_widget *par, int flags, int w, int h, const char *text, int kind,
                             sgui_key_fn key)
{
    sgui_widget *x = label_new(who, par, flags, w, h, text, 0, kind);
    if (x == nullptr)
        return nullptr;
    x->focusable = 1;
    x->keymask |= SGUI_KEY_ENTER;
    x->key = key;
    return x;
}

void tab_draw(sgui_widget *w)
{
    auto *d = data_of<tab_data>(w);
    if (!sgui_leaf_surface(w, w->view.w, w->view.h))
        return;
    if (d->selected && w->par != nullptr && w->par->focused)
        sgui_fill(w->s.get(), nullptr, 146, 76, 10);
    else if (d->selected)
        sgui_fill(w->s.get(), nullptr, 77, 77, 77);
    else
        sgui_fill(w->s.get(), nullptr, 30, 30, 30);
    font_write(w->s.get(), 2, d->selected ? 15 : 14, FONT_CENTRE, w->view.w / 2, 0, d->text.c_str());
    sgui_add_damage(w, 0, 0, INT_MAX, INT_MAX);
}

int tabbar_key(sgui_widget *bar, int keys, int)
{
    int dir = (keys & SGUI_KEY_PAGE_PREV) ? -1 : (keys & SGUI_KEY_PAGE_NEXT) ? 1 : 0;
    if (dir == 0)
        return keys;
    sgui_widget *cur = bar->child;
    while (cur != nullptr && !(cur->kind == SGUI_KIND_TAB && data_of<tab_data>(cur)->selected))
        cur = cur->next;
    if (cur == nullptr)
        return keys;
    sgui_widget *t = dir < 0 ? cur->prev : cur->next;
    while (t != nullptr && (t->kind != SGUI_KIND_TAB || t->hidden || data_of<tab_data>(t)->text.empty()))
        t = dir < 0 ? t->prev : t->next;
    if (t != nullptr) {
        data_of<tab_data>(cur)->selected = 0;
        data_of<tab_data>(t)->selected = 1;
        sgui_invalidate(cur);
        sgui_invalidate(t);
        sgui_event_val(bar, t->user, data_of<tab_data>(t)->text.c_str());
    }
    return keys & ~(SGUI_KEY_PAGE_PREV | SGUI_KEY_PAGE_NEXT);
}

void tabbar_focus(sgui_widget *bar, int)
{
    for (sgui_widget *t = bar->child; t != nullptr; t = t->next)
        if (t->kind == SGUI_KIND_TAB)
            sgui_invalidate(t);
}

void box_draw(sgui_widget *w)
{
    if (!sgui_leaf_surface(w, w->view.w, w->view.h))
        return;
    fill_focus_or_colour(w);
    sgui_add_damage(w, 0, 0, INT_MAX, INT_MAX);
}

void separator_draw(sgui_widget *w)
{
    if (!sgui_leaf_surface(w, w->view.w, w->view.h))
        return;
    sgui_fill_background(w);
    SDL_Rect line = {4, (Sint16)(w->view.h / 2), (Uint16)std::max(w->view.w - 8, 0), 1};
    sgui_fill(w->s.get(), &line, 77, 77, 77);
    sgui_add_damage(w, 0, 0, INT_MAX, INT_MAX);
}

void scrollbar_draw(sgui_widget *w)
{
    if (!sgui_leaf_surface(w, w->view.w, w->view.h))
        return;
    sgui_fill(w->s.get(), nullptr, 30, 30, 30);
    auto *t = static_cast<sgui_widget *>(w->data);
    bool horizontal = w->view.w > w->view.h;
    int track = horizontal ? w->view.w : w->view.h;
    int pos = 0, len = track;
    if (t != nullptr) {
        int content = horizontal ? t->sw : t->sh;
        int view = horizontal ? t->view.w : t->view.h;
        int at = horizontal ? t->view.x : t->view.y;
        if (content > view && content > 0) {
            len = std::max(track * view / content, 6);
            pos = (track - len) * at / (content - view);
        }
    }
    SDL_Rect thumb = horizontal ? SDL_Rect{(Sint16)pos, 2, (Uint16)len, (Uint16)std::max(w->view.h - 4, 1)}
                                : SDL_Rect{2, (Sint16)pos, (Uint16)std::max(w->view.w - 4, 1), (Uint16)len};
    sgui_fill(w->s.get(), &thumb, 121, 121, 121);
    sgui_add_damage(w, 0, 0, INT_MAX, INT_MAX);
}

void checkbox_draw(sgui_widget *w)
{
    if (!sgui_leaf_surface(w, w->view.w, w->view.h))
        return;
    fill_focus_or_colour(w);
    int size = std::min(15, w->view.h - 4);
    SDL_Rect outer = {5, (Sint16)((w->view.h - size) / 2), (Uint16)size, (Uint16)size};
    sgui_fill(w->s.get(), &outer, 160, 160, 160);
    SDL_Rect inner = {(Sint16)(outer.x + 2), (Sint16)(outer.y + 2), (Uint16)(size - 4), (Uint16)(size - 4)};
    if (data_of<checkbox_data>(w)->ticked)
        sgui_fill(w->s.get(), &inner, 0, 202, 24);
    else
        sgui_fill(w->s.get(), &inner, 0, 0, 0);
    sgui_add_damage(w, 0, 0, INT_MAX, INT_MAX);
}

void checkbox_change(sgui_widget *w, int ticked)
{
    auto *d = data_of<checkbox_data>(w);
    if (d->ticked == ticked)
        return;
    d->ticked = ticked;
    w->dirty = 1;
    sgui_event_val(w, ticked, ticked ? "1" : "0");
}

int checkbox_key(sgui_widget *w, int keys, int steps)
{
    if (!w->enabled)
        return keys;
    if (steps != 0) {
        checkbox_change(w, steps > 0);
        return keys;
    }
    if (keys & SGUI_KEY_ENTER) {
        sgui_event_val(w, -1, nullptr);
        return keys & ~SGUI_KEY_ENTER;
    }
    return keys;
}

bool anim_decode(SDL_Surface *img)
{
    SDL_LockSurface(img);
    size_t filled = 0, i = 0, n = sizeof anim_rle - 1;
    auto put = [&](const char *rgb) {
        size_t px = filled / 3;
        int x = (int)(px % ANIM_FRAME), y = (int)(px / ANIM_FRAME);
        auto *p = (uint8_t *)img->pixels + (size_t)y * img->pitch + (size_t)x * 3;
        Uint32 c = SDL_MapRGB(img->format, (Uint8)rgb[0], (Uint8)rgb[1], (Uint8)rgb[2]);
        memcpy(p, &c, 3);  // little-endian 24-bit pixel
        filled += 3;
    };
    while (i < n && filled < ANIM_BYTES) {
        unsigned count = (unsigned char)anim_rle[i++];
        if (count < 128) {
            for (unsigned k = 0; k < count && i + 3 <= n && filled < ANIM_BYTES; k++, i += 3)
                put(anim_rle + i);
        } else {
            if (i + 3 > n)
                break;
            for (unsigned k = 0; k < count - 128 && filled < ANIM_BYTES; k++)
                put(anim_rle + i);
            i += 3;
        }
    }
    SDL_UnlockSurface(img);
    return filled == ANIM_BYTES;
}

void animimage_draw(sgui_widget *w)
{
    auto *d = data_of<animimage_data>(w);
    if (!sgui_leaf_surface(w, w->view.w, w->view.h))
        return;
    if (w->anim_due) {
        w->anim_due = 0;
        d->frame = (d->frame + 1) % ANIM_FRAMES;
    }
    sgui_fill_background(w);
    if (d->image) {
        SDL_Rect src = {0, (Sint16)(d->frame * ANIM_FRAME), ANIM_FRAME, ANIM_FRAME};
        SDL_Rect dst = {(Sint16)((w->view.w - ANIM_FRAME) / 2), (Sint16)((w->view.h - ANIM_FRAME) / 2), 0, 0};
        SDL_BlitSurface(d->image.get(), &src, w->s.get(), &dst);
    }
    sgui_add_damage(w, 0, 0, INT_MAX, INT_MAX);
}

void digstate_draw(sgui_widget *w)
{
    auto *d = data_of<digstate_data>(w);
    if (!sgui_leaf_surface(w, w->view.w, w->view.h))
        return;
    sgui_fill_background(w);
    font_write(w->s.get(), 2, 14, FONT_LEFT, 5, 0, d->first.c_str());
    font_write(w->s.get(), 2, 9, FONT_RIGHT, 7, 0, d->second.c_str());
    sgui_add_damage(w, 0, 0, INT_MAX, INT_MAX);
}

void network_draw(sgui_widget *w)
{
    auto *d = data_of<network_data>(w);
    if (!sgui_leaf_surface(w, w->view.w, w->view.h))
        return;
    fill_focus_or_colour(w);
    font_write(w->s.get(), 0, w->focused ? 15 : 14, FONT_LEFT, 5, 0, d->address.c_str());
    // Link state: green while up, grey otherwise; the access point as a second dot.
    int size = std::min(9, (int)w->view.h - 4);
    SDL_Rect dot = {(Sint16)(w->view.w - 7 - size), (Sint16)((w->view.h - size) / 2), (Uint16)size, (Uint16)size};
    sgui_fill(w->s.get(), &dot, d->state ? 0 : 77, d->state ? 202 : 77, d->state ? 24 : 77);
    if (d->state2) {
        dot.x = (Sint16)(dot.x - size - 4);
        sgui_fill(w->s.get(), &dot, 0, 0, 207);
    }
    sgui_add_damage(w, 0, 0, INT_MAX, INT_MAX);
}

int network_key(sgui_widget *w, int keys, int)
{
    if (!w->enabled || !(keys & SGUI_KEY_ENTER))
        return keys;
    sgui_event_val(w, 1, data_of<network_data>(w)->address.c_str());
    return keys & ~SGUI_KEY_ENTER;
}

// Selects w and clears the selection of its siblings of the same kind.
template <typename T> void select_among_siblings(sgui_widget *w, int kind, int T::*selected)
{
    if (w == nullptr || w->kind != kind || w->par == nullptr)
        return;
    for (sgui_widget *s = w->par->child; s != nullptr; s = s->next) {
        if (s->kind != kind)
            continue;
        int want = s == w;
        if (data_of<T>(s)->*selected != want) {
            data_of<T>(s)->*selected = want;
            sgui_invalidate(s);
        }
    }
}

}  // namespace

sgui_widget *sgui_widget_label(sgui_widget *par, int flags, int w, int h, const char *text, int boxed)
{
    return label_new("sgui_widget_label", par, flags, w, h, text, boxed, SGUI_KIND_LABEL);
}

sgui_widget *sgui_widget_icon(sgui_widget *par, int flags, int w, int h, const char *text, int user)
{
    sgui_widget *x = label_new("sgui_widget_icon", par, flags, w, h, text, 0, SGUI_KIND_ICON);
    if (x == nullptr)
        return nullptr;
    auto *d = data_of<sgui_label_data>(x);
    d->font = x->size.h >= 3358 ? 8 : x->size.w < 2235 ? 6 : 7;
    d->normal_font = d->font;
    d->align = FONT_CENTRE;
    x->user = user;
    return x;
}

sgui_widget *sgui_widget_button(sgui_widget *par, int flags, int w, int h, const char *text)
{
    return focusable_label("sgui_widget_button", par, flags, w, h, text, SGUI_KIND_BUTTON, button_key);
}

sgui_widget *sgui_widget_radio(sgui_widget *par, int flags, int w, int h, const char *text)
{
    return focusable_label("sgui_widget_radio", par, flags, w, h, text, SGUI_KIND_RADIO, radio_key);
}

sgui_widget *sgui_widget_tab(sgui_widget *par, int flags, int w, int h, const char *text)
{
    sgui_widget *x = kind_new<tab_data>("sgui_widget_tab", par, flags, SGUI_KIND_TAB, w, h, SGUI_UNITS, SGUI_TAB_H);
    if (x == nullptr)
        return nullptr;
    auto *d = data_of<tab_data>(x);
    d->text = text != nullptr ? text : "";
    x->draw = tab_draw;
    if (par != nullptr) {
        par->focusable = 1;
        par->keymask |= SGUI_KEY_PAGE_PREV | SGUI_KEY_PAGE_NEXT;
        if (par->key == nullptr)
            par->key = tabbar_key;
        if (par->on_focus == nullptr)
            par->on_focus = tabbar_focus;
        bool any = false;
        for (sgui_widget *t = par->child; t != nullptr; t = t->next)
            any = any || (t != x && t->kind == SGUI_KIND_TAB && data_of<tab_data>(t)->selected);
        d->selected = !any;
    }
    return x;
}

sgui_widget *sgui_widget_box(sgui_widget *par, int flags, int w, int h, int focusable, sgui_draw_fn draw)
{
    sgui_widget *x = widget_new(par, flags);
    if (x == nullptr)
        return nullptr;
    x->kind = SGUI_KIND_BOX;
    sgui_widget_set_size(x, w, h, SGUI_UNITS, SGUI_LABEL_H);
    x->focusable = focusable;
    x->draw = draw != nullptr ? draw : box_draw;
    return x;
}

sgui_widget *sgui_widget_separator(sgui_widget *par, int flags, int w, int h)
{
    sgui_widget *x = sgui_widget_box(par, flags, w, h, 0, separator_draw);
    if (x != nullptr)
        x->kind = SGUI_KIND_SEPARATOR;
    return x;
}

sgui_widget *sgui_widget_rect(sgui_widget *par, int flags, int w, int h, int colour)
{
    sgui_widget *x = sgui_widget_box(par, flags, w, h, 0, nullptr);
    if (x == nullptr)
        return nullptr;
    x->kind = SGUI_KIND_RECT;
    int grey = colour == -2 ? 66 : colour == -1 ? 121 : colour == -3 ? 48 : -1;
    x->colour[0] = (uint8_t)(grey >= 0 ? grey : colour & 0xFF);
    x->colour[1] = (uint8_t)(grey >= 0 ? grey : (colour >> 8) & 0xFF);
    x->colour[2] = (uint8_t)(grey >= 0 ? grey : (colour >> 16) & 0xFF);
    return x;
}

sgui_widget *sgui_widget_scrollbar(sgui_widget *par, int flags, int w, int h, int horizontal)
{
    sgui_widget *x = widget_new(par, flags);
    if (x == nullptr)
        return nullptr;
    x->kind = SGUI_KIND_SCROLLBAR;
    if (horizontal)
        sgui_widget_set_size(x, w, h, SGUI_UNITS, 1492);
    else
        sgui_widget_set_size(x, w, h, 1192, SGUI_UNITS);
    x->draw = scrollbar_draw;
    return x;
}

sgui_widget *sgui_widget_checkbox(sgui_widget *par, int flags, int w, int h)
{
    sgui_widget *x =
        kind_new<checkbox_data>("sgui_widget_checkbox", par, flags, SGUI_KIND_CHECKBOX, w, h, 7450, SGUI_LABEL_H);
    if (x == nullptr)
        return nullptr;
    x->focusable = 1;
    x->draw = checkbox_draw;
    x->key = checkbox_key;
    return x;
}

sgui_widget *sgui_widget_animimage(sgui_widget *par, int flags)
{
    sgui_widget *x =
        kind_new<animimage_data>("sgui_widget_animimage", par, flags, SGUI_KIND_ANIMIMAGE, -1, -1, 3264, 4352);
    if (x == nullptr)
        return nullptr;
    auto *d = data_of<animimage_data>(x);
    d->image.reset(SDL_CreateRGBSurface(SDL_SWSURFACE, ANIM_FRAME, ANIM_FRAME * ANIM_FRAMES, 24, 0xFF0000, 0x00FF00,
                                        0x0000FF, 0));
    if (d->image && !anim_decode(d->image.get()))
        d->image.reset();
    x->draw = animimage_draw;
    sgui_anim_add(x, 4);
    return x;
}

sgui_widget *sgui_widget_digstate(sgui_widget *par, int flags, int w, int h)
{
    sgui_widget *x = kind_new<digstate_data>("sgui_widget_digstate", par, flags, SGUI_KIND_DIGSTATE, w, h, SGUI_UNITS,
                                             SGUI_LABEL_H);
    if (x != nullptr)
        x->draw = digstate_draw;
    return x;
}

sgui_widget *sgui_widget_network(sgui_widget *par, int flags, int w, int h)
{
    sgui_widget *x = kind_new<network_data>("sgui_widget_network", par, flags, SGUI_KIND_NETWORK, w, h, SGUI_UNITS,
                                            SGUI_LABEL_H);
    if (x == nullptr)
        return nullptr;
    x->focusable = 1;
    x->keymask |= SGUI_KEY_ENTER;
    x->draw = network_draw;
    x->key = network_key;
    return x;
}

sgui_widget *sgui_control(sgui_widget *w)
{
    if (w != nullptr && w->key == nullptr && w->child != nullptr && w->child->next != nullptr &&
        w->child->next->key != nullptr)
        return w->child->next;
    return w;
}

void sgui_set_text(sgui_widget *w, const char *text)
{
    w = sgui_control(w);
    if (w == nullptr)
        return;
    if (w->kind == SGUI_KIND_TEXTEDIT) {
        sgui_textedit_set_text(w, text);
        return;
    }
    if (w->kind == SGUI_KIND_TAB) {
        data_of<tab_data>(w)->text = text != nullptr ? text : "";
        sgui_invalidate(w);
        return;
    }
    if (!is_label_kind(w))
        return;
    auto *d = data_of<sgui_label_data>(w);
    std::string before = d->text;
    int align = d->align;
    label_store_text(w, text);
    if (d->text == before && d->align == align)
        return;
    w->s.reset();
    sgui_invalidate(w);
}

const char *sgui_get_text(sgui_widget *w)
{
    w = sgui_control(w);
    if (w == nullptr)
        return "";
    switch (w->kind) {
    case SGUI_KIND_TEXTEDIT:
        return sgui_textedit_get_text(w);
    case SGUI_KIND_SPINNER:
        return sgui_spinner_get_text(w);
    case SGUI_KIND_TAB:
        return data_of<tab_data>(w)->text.c_str();
    case SGUI_KIND_CHECKBOX:
        return data_of<checkbox_data>(w)->ticked ? "1" : "0";
    case SGUI_KIND_NETWORK:
        return data_of<network_data>(w)->address.c_str();
    default:
        return is_label_kind(w) ? data_of<sgui_label_data>(w)->text.c_str() : "";
    }
}

void sgui_set_font(sgui_widget *w, int font)
{
    w = sgui_control(w);
    if (w == nullptr || !is_label_kind(w) || font < 0 || font >= FONT_COUNT)
        return;
    data_of<sgui_label_data>(w)->font = font;
    w->s.reset();
    sgui_invalidate(w);
}

void sgui_set_enabled(sgui_widget *w, int enabled)
{
    w = sgui_control(w);
    if (w == nullptr || w->enabled == (enabled != 0))
        return;
    w->enabled = enabled != 0;
    sgui_invalidate(w);
}

int sgui_radio_selected(sgui_widget *w)
{
    return w != nullptr && w->kind == SGUI_KIND_RADIO && data_of<sgui_label_data>(w)->selected;
}

void sgui_radio_select(sgui_widget *w)
{
    select_among_siblings(w, SGUI_KIND_RADIO, &sgui_label_data::selected);
}

int sgui_tab_selected(sgui_widget *w)
{
    return w != nullptr && w->kind == SGUI_KIND_TAB && data_of<tab_data>(w)->selected;
}

void sgui_tab_select(sgui_widget *w)
{
    select_among_siblings(w, SGUI_KIND_TAB, &tab_data::selected);
}

void sgui_scrollbar_set_target(sgui_widget *w, sgui_widget *target)
{
    if (w == nullptr || w->kind != SGUI_KIND_SCROLLBAR)
        return;
    w->data = target;
    if (target != nullptr)
        target->post_draw = w;
    sgui_invalidate(w);
}

void sgui_checkbox_set_ticked(sgui_widget *w, int ticked)
{
    w = sgui_control(w);
    if (w == nullptr || w->kind != SGUI_KIND_CHECKBOX || data_of<checkbox_data>(w)->ticked == (ticked != 0))
        return;
    data_of<checkbox_data>(w)->ticked = ticked != 0;
    sgui_invalidate(w);
}

int sgui_checkbox_get_ticked(sgui_widget *w)
{
    w = sgui_control(w);
    return w != nullptr && w->kind == SGUI_KIND_CHECKBOX && data_of<checkbox_data>(w)->ticked;
}

void sgui_digstate_set_texts(sgui_widget *w, const char *first, const char *second)
{
    if (w == nullptr || w->kind != SGUI_KIND_DIGSTATE)
        return;
    auto *d = data_of<digstate_data>(w);
    std::string a = first != nullptr ? first : "", b = second != nullptr ? second : "";
    if (a == d->first && b == d->second)
        return;
    d->first = a;
    d->second = b;
    sgui_invalidate(w);
}

void sgui_network_set_address(sgui_widget *w, const char *address, int state, int state2)
{
    w = sgui_control(w);
    if (w == nullptr || w->kind != SGUI_KIND_NETWORK)
        return;
    auto *d = data_of<network_data>(w);
    std::string a = address != nullptr ? address : "";
    if (a == d->address && state == d->state && state2 == d->state2)
        return;
    d->address = a;
    d->state = state;
    d->state2 = state2;
    sgui_invalidate(w);
}

int sgui_animimage_frame(sgui_widget *w)
{
    return w != nullptr && w->kind == SGUI_KIND_ANIMIMAGE ? data_of<animimage_data>(w)->frame : -1;
}

const char *sgui_widget_describe(sgui_widget *w, char *text, size_t size)
{
    static constexpr const char *names[] = {"container", "label",    "icon",     "button",    "radio",
                                            "tab",       "spinner",  "box",      "separator", "rect",
                                            "scrollbar", "checkbox", "textedit", "animimage", "digstate",
                                            "network"};
    if (size > 0)
        text[0] = 0;
    if (w->describe != nullptr)
        return w->describe(w, text, size);
    switch (w->kind) {
    case SGUI_KIND_DIGSTATE: {
        auto *d = data_of<digstate_data>(w);
        snprintf(text, size, "%s %s", d->first.c_str(), d->second.c_str());
        break;
    }
    case SGUI_KIND_ANIMIMAGE:
        snprintf(text, size, "%d", sgui_animimage_frame(w));
        break;
    default:
        snprintf(text, size, "%s", sgui_get_text(w));
        break;
    }
    return w->kind >= 0 && (size_t)w->kind < std::size(names) ? names[w->kind] : "widget";
}
