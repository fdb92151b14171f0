#include "sgui/sgui.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

#include "platform.h"
#include "sgui/sgui_event.h"

namespace {

struct anim_rec {
    sgui_widget *w;
    int period;
    int counter;
};

struct compose_entry {
    sgui_widget *w;
    int x, y;
};

struct sgui_state {
    sgui_widget *root;
    sgui_widget *background;  // the screen a popup slides in over
    sgui_widget *focus;
    sgui_widget *keycapture;
    std::vector<sgui_widget *> widgets;  // global list, free slots are nullptr
    int widget_count;
    int transition;  // page slide: -1, 0, 1
    int slide;       // popup slide: -1, 0, 1
    int slide_boundary;
    bool slide_started;
    sgui_widget *redraw_origin;
    sgui_widget *post_draw;
    bool drawing;
    int connected;
    char status[64];
    bool overlay_on;  // the overlay is on the screen now
    SDL_Surface *screen;
    std::vector<anim_rec> anims;
    SDL_mutex *mutex;
};

sgui_state g;

constexpr int SLIDE_FACTOR = 29491;  // 0.45 in 16.16

bool is_full(const sgui_rect &r)
{
    return r.x1 == 0 && r.y1 == 0 && r.x2 == INT_MAX && r.y2 == INT_MAX;
}

void set_full_damage(sgui_widget *w)
{
    w->ndamage = 1;
    w->damage[0] = SGUI_FULL_RECT;
}

sgui_rect rect_union(const sgui_rect &a, const sgui_rect &b)
{
    return {std::min(a.x1, b.x1), std::min(a.y1, b.y1), std::max(a.x2, b.x2), std::max(a.y2, b.y2)};
}

bool overlaps_y(const sgui_rect &a, const sgui_rect &b)
{
    return a.y1 < b.y2 && b.y1 < a.y2;
}

void list_add(sgui_widget *w)
{
    if (g.widget_count == (int)g.widgets.size()) {
        g.widgets.resize(g.widgets.size() + 1024, nullptr);
    }
    for (auto &slot : g.widgets)
        if (slot == nullptr) {
            slot = w;
            g.widget_count++;
            return;
        }
}

void list_remove(sgui_widget *w)
{
    for (auto &slot : g.widgets)
        if (slot == w) {
            slot = nullptr;
            g.widget_count--;
            return;
        }
}

// Marks w and its ancestors for a layout and compose pass. A change on a
// page that is not on the screen must not cause a screen update.
void mark_dirty(sgui_widget *w)
{
    w->dirty = 1;
    bool passed_unshown = false;
    for (sgui_widget *p = w->par; p != nullptr; p = p->par) {
        if (p->par == nullptr && passed_unshown)
            break;
        p->dirty = 1;
        if (!p->shown)
            passed_unshown = true;
    }
}

// Containers show no focus themselves: they only need a new layout pass
// (scrolling); leaves are redrawn highlighted.
void mark_changed(sgui_widget *w)
{
    if (w->child != nullptr) {
        if (!g.transition)
            mark_dirty(w);
    } else {
        sgui_invalidate(w);
    }
}

void set_focus_flag(sgui_widget *w, int value)
{
    if (w->focused == value)
        return;
    w->focused = value;
    sgui_focus_fn cb = w->on_focus != nullptr ? w->on_focus : w->par != nullptr ? w->par->on_focus : nullptr;
    if (cb != nullptr)
        cb(w, value);
    mark_changed(w);
}

void call_on_show(sgui_widget *w)
{
    if (!g.drawing)
        return;
    sgui_show_fn cb = w->on_show != nullptr ? w->on_show : w->par != nullptr ? w->par->on_show : nullptr;
    if (cb != nullptr)
        cb(w);
}

void show_tree(sgui_widget *w)
{
    if (!w->shown) {
        w->shown = 1;
        call_on_show(w);
    }
    for (sgui_widget *c = w->child; c != nullptr; c = c->next)
        if (!c->hidden)
            show_tree(c);
}

bool contains(const sgui_widget *top, const sgui_widget *w)
{
    for (; w != nullptr; w = w->par)
        if (w == top)
            return true;
    return false;
}

sgui_widget *topmost(sgui_widget *w)
{
    while (w->par != nullptr)
        w = w->par;
    return w;
}

// The page of the root's strip that the view shows (or slides to).
sgui_widget *current_page()
{
    sgui_widget *r = g.root;
    if (r == nullptr)
        return nullptr;
    for (sgui_widget *c = r->child; c != nullptr; c = c->next)
        if (!c->hidden && c->focused)
            return c;
    for (sgui_widget *c = r->child; c != nullptr; c = c->next)
        if (!c->hidden && c->abs.x1 - r->abs.x1 <= r->view.x && r->view.x < c->abs.x1 - r->abs.x1 + c->view.w)
            return c;
    return r->child;
}

SDL_Surface *new_surface(int w, int h)
{
    return SDL_CreateRGBSurface(SDL_SWSURFACE, w, h, 24, 0xFF0000, 0x00FF00, 0x0000FF, 0);
}

void blit_part(SDL_Surface *src, int sx, int sy, int w, int h, SDL_Surface *dst, int dx, int dy)
{
    if (src == nullptr || dst == nullptr || w <= 0 || h <= 0)
        return;
    SDL_Rect s = {(Sint16)sx, (Sint16)sy, (Uint16)w, (Uint16)h};
    SDL_Rect d = {(Sint16)dx, (Sint16)dy, 0, 0};
    SDL_BlitSurface(src, &s, dst, &d);
}

void draw_overlay()
{
    bool want = g.status[0] != 0 || !g.connected;
    g.overlay_on = want;
    if (!want || g.screen == nullptr)
        return;
    const char *text = g.status[0] != 0 ? g.status : "CONNECTING...";
    int w = font_width(0, text) + 2 * font_width(0, " ");
    int h = font_height(0, text);
    if (w <= 0 || h <= 0)
        return;
    SDL_Rect r = {(Sint16)((SGUI_SCREEN_W - w) / 2), (Sint16)((SGUI_SCREEN_H - h) / 2), (Uint16)w, (Uint16)h};
    sgui_fill(g.screen, &r, 0, 213, 255);
    font_write(g.screen, 0, 0, FONT_CENTRE, SGUI_SCREEN_W / 2, r.y, text);
}

// Copies the root's damage to the screen; damage is in surface coordinates.
int blit_root_damage(sgui_widget *r, SDL_Rect *updates, int max)
{
    int n = 0;
    for (int i = 0; i < r->ndamage && n < max; i++) {
        const sgui_rect &d = r->damage[i];
        int x1 = std::max(d.x1, (int)r->view.x), y1 = std::max(d.y1, (int)r->view.y);
        int x2 = (int)std::min<long long>(d.x2, (long long)r->view.x + r->view.w);
        int y2 = (int)std::min<long long>(d.y2, (long long)r->view.y + r->view.h);
        x2 = std::min(x2, r->sw);
        y2 = std::min(y2, r->sh);
        if (x2 <= x1 || y2 <= y1)
            continue;
        int dx = x1 - r->view.x, dy = y1 - r->view.y;
        blit_part(r->s.get(), x1, y1, x2 - x1, y2 - y1, g.screen, dx, dy);
        updates[n++] = {(Sint16)dx, (Sint16)dy, (Uint16)(x2 - x1), (Uint16)(y2 - y1)};
    }
    return n;
}

// One frame of a popup sliding in over the background screen.
void slide_frame()
{
    sgui_widget *bg = g.background, *r = g.root;
    if (!g.slide_started) {
        g.slide_started = true;
        g.slide_boundary = g.slide > 0 ? SGUI_SCREEN_H : 0;
    }
    int target = g.slide > 0 ? 0 : SGUI_SCREEN_H;
    int remaining = target - g.slide_boundary;
    int step = (int)(((long long)remaining * SLIDE_FACTOR) >> 16);  // floor
    if (g.slide > 0)
        step -= 1;  // moving up: one more pixel
    g.slide_boundary += step;
    if ((g.slide > 0 && g.slide_boundary < target) || (g.slide < 0 && g.slide_boundary > target))
        g.slide_boundary = target;
    int b = g.slide_boundary;
    if (g.slide > 0) {
        blit_part(bg->s.get(), bg->view.x, bg->view.y + SGUI_SCREEN_H - b, SGUI_SCREEN_W, b, g.screen, 0, 0);
        blit_part(r->s.get(), r->view.x, r->view.y, SGUI_SCREEN_W, SGUI_SCREEN_H - b, g.screen, 0, b);
    } else {
        blit_part(r->s.get(), r->view.x, r->view.y + SGUI_SCREEN_H - b, SGUI_SCREEN_W, b, g.screen, 0, 0);
        blit_part(bg->s.get(), bg->view.x, bg->view.y, SGUI_SCREEN_W, SGUI_SCREEN_H - b, g.screen, 0, b);
    }
    if (b == target) {
        g.slide = 0;
        g.slide_started = false;
        sgui_set_shown(bg, 0);
        g.background = nullptr;
        r->ndamage = 0;
        r->dirty = 0;
        r->redraw = 0;
    }
}

// Moves the root's view a step towards the page being slid to.
void page_slide_step()
{
    sgui_widget *r = g.root;
    sgui_widget *page = current_page();
    if (page == nullptr) {
        g.transition = 0;
        return;
    }
    int target = page->abs.x1 - r->abs.x1;
    int diff = target - r->view.x;
    int step = (int)(((long long)diff * SLIDE_FACTOR) >> 16);
    if (diff > 0)
        step += 1;
    int x = r->view.x + step;
    if ((diff >= 0 && x >= target) || (diff < 0 && x <= target)) {
        x = target;
        g.transition = 0;
        for (sgui_widget *c = r->child; c != nullptr; c = c->next)
            if (c != page)
                sgui_set_shown(c, 0);
    }
    r->view.x = (int16_t)x;
    set_full_damage(r);
}

}  // namespace

int sgui_units_w(int units)
{
    return (int)(((long long)units * SGUI_SCREEN_W + SGUI_UNITS / 2) / SGUI_UNITS);
}

int sgui_units_h(int units)
{
    return (int)(((long long)units * SGUI_SCREEN_H + SGUI_UNITS / 2) / SGUI_UNITS);
}

void sgui_mutex_create()
{
    if (g.mutex == nullptr)
        g.mutex = SDL_CreateMutex();
}

void sgui_lock()
{
    if (g.mutex == nullptr || SDL_mutexP(g.mutex) != 0) {
        platform_log("sgui mutex fail\n");
        abort();
    }
}

void sgui_unlock()
{
    SDL_mutexV(g.mutex);
}

sgui_widget *widget_new(sgui_widget *par, int flags)
{
    auto *w = new (std::nothrow) sgui_widget{};
    if (w == nullptr) {
        platform_log("sgui: widget_new: calloc returned NULL\n");
        return nullptr;
    }
    list_add(w);
    w->enabled = 1;
    w->dirty = 1;
    w->redraw = 1;
    w->flags = flags;
    w->par = par;
    if (par == nullptr) {
        w->colour[3] = 255;
        w->view.w = SGUI_SCREEN_W;
        w->view.h = SGUI_SCREEN_H;
        if (g.root == nullptr)
            g.root = w;
    } else {
        sgui_widget *last = par->child;
        while (last != nullptr && last->next != nullptr)
            last = last->next;
        if (last == nullptr)
            par->child = w;
        else {
            last->next = w;
            w->prev = last;
        }
        memcpy(w->colour, par->colour, sizeof w->colour);
        w->keymask = par->keymask;
    }
    return w;
}

void sgui_widget_set_size(sgui_widget *w, int width, int height, int def_w, int def_h)
{
    if (width < 0)
        width = def_w;
    if (height < 0)
        height = def_h;
    w->size.w = (uint16_t)std::clamp(width, 0, 65535);
    w->size.h = (uint16_t)std::clamp(height, 0, 65535);
    if (w->par == nullptr) {
        w->view.w = SGUI_SCREEN_W;
        w->view.h = SGUI_SCREEN_H;
    } else {
        w->view.w = (uint16_t)sgui_units_w(w->size.w);
        w->view.h = (uint16_t)sgui_units_h(w->size.h);
    }
    w->view.x = w->view.y = 0;
    w->sw = w->view.w;
    w->sh = w->view.h;
}

sgui_widget *sgui_widget_container(sgui_widget *par, int flags, int width, int height)
{
    sgui_widget *w = widget_new(par, flags);
    if (w == nullptr)
        return nullptr;
    sgui_widget_set_size(w, width, height, SGUI_UNITS, SGUI_UNITS);
    w->draw = draw_container;
    return w;
}

void widget_create_surface(sgui_widget *w)
{
    w->sw = std::max(w->sw, (int)w->view.w);
    w->sh = std::max(w->sh, (int)w->view.h);
    w->s.reset(w->make_surface != nullptr ? w->make_surface(w) : new_surface(std::max(w->sw, 1), std::max(w->sh, 1)));
    if (!w->s)
        platform_log("widget_create_surface: self->s==NULL w: %d h: %d\n", w->sw, w->sh);
}

void sgui_widget_free(sgui_widget *w)
{
    if (w == nullptr)
        return;
    sgui_lock();
    if (w->prev != nullptr)
        w->prev->next = w->next;
    else if (w->par != nullptr && w->par->child == w)
        w->par->child = w->next;
    if (w->next != nullptr)
        w->next->prev = w->prev;
    list_remove(w);
    if (w->focus_prev != nullptr && w->focus_prev->focus_next == w)
        w->focus_prev->focus_next = w->focus_next;
    if (w->focus_next != nullptr && w->focus_next->focus_prev == w)
        w->focus_next->focus_prev = w->focus_prev;
    for (sgui_widget *o : g.widgets) {
        if (o == nullptr)
            continue;
        if (o->data == w)
            o->data = nullptr;
        if (o->focus_next == w)
            o->focus_next = nullptr;
        if (o->focus_prev == w)
            o->focus_prev = nullptr;
        if (o->post_draw == w)
            o->post_draw = nullptr;
    }
    while (w->child != nullptr)
        sgui_widget_free(w->child);
    sgui_anim_remove(w);
    sgui_idle_forget(w);
    if (w->free_data != nullptr)
        w->free_data(w);
    w->s.reset();
    if (g.focus == w)
        g.focus = nullptr;
    if (g.keycapture == w)
        g.keycapture = nullptr;
    if (g.root == w)
        g.root = nullptr;
    if (g.background == w) {
        g.background = nullptr;
        g.slide = 0;
        g.slide_started = false;
    }
    if (g.redraw_origin == w)
        g.redraw_origin = nullptr;
    if (g.post_draw == w)
        g.post_draw = nullptr;
    delete w;
    sgui_unlock();
}

void sgui_release_surfaces(sgui_widget *w)
{
    w->s.reset();
    w->dirty = 1;
    w->redraw |= 1;
    for (sgui_widget *c = w->child; c != nullptr; c = c->next)
        sgui_release_surfaces(c);
}

void sgui_invalidate(sgui_widget *w)
{
    if (w == nullptr || g.transition)
        return;
    // Only the widget itself is redrawn; its ancestors compose its damage.
    w->redraw |= 1;
    mark_dirty(w);
}

void sgui_invalidate_tree(sgui_widget *w)
{
    sgui_invalidate(w);
    for (sgui_widget *c = w->child; c != nullptr; c = c->next) {
        c->dirty = 1;
        c->redraw |= 1;
        sgui_invalidate_tree(c);
    }
}

void sgui_invalidate_all(sgui_widget *w)
{
    if (w->s)
        sgui_add_damage(w, 0, 0, INT_MAX, INT_MAX);
    else
        set_full_damage(w);
    sgui_invalidate(w);
}

void sgui_set_redraw_root(sgui_widget *w)
{
    w->dirty = 1;
    w->redraw |= 1;
    g.redraw_origin = w;
}

void sgui_set_shown(sgui_widget *w, int shown)
{
    if (shown) {
        if (!w->shown) {
            w->shown = 1;
            call_on_show(w);
        }
        return;
    }
    if (w->shown) {
        w->shown = 0;
        call_on_show(w);
    }
    for (sgui_widget *c = w->child; c != nullptr; c = c->next)
        sgui_set_shown(c, 0);
}

void sgui_set_focused(sgui_widget *w, int value)
{
    set_focus_flag(w, value);
    for (sgui_widget *c = w->child; c != nullptr; c = c->next)
        sgui_set_focused(c, value);
}

void sgui_focus_set(sgui_widget *w)
{
    // Clear the old path where it leaves the new one, then set the new one.
    for (sgui_widget *p = g.focus; p != nullptr; p = p->par)
        if (!contains(p, w))
            set_focus_flag(p, 0);
    for (sgui_widget *p = w; p != nullptr; p = p->par)
        set_focus_flag(p, 1);
    g.focus = w;
    g.keycapture = w;
}

void sgui_set_hidden(sgui_widget *w, int hidden)
{
    if (hidden && g.focus != nullptr && contains(w, g.focus)) {
        // The focus goes on to the next item (or back) outside the hidden part.
        sgui_widget *old = g.focus;
        g.focus = w;
        w->hidden = 1;
        if (sgui_focus_move(1) == 0 && sgui_focus_move(-1) == 0) {
            for (sgui_widget *p = old; p != nullptr; p = p->par)
                set_focus_flag(p, 0);
            g.focus = nullptr;
            g.keycapture = nullptr;
        }
    }
    std::vector<sgui_widget *> stack = {w};
    while (!stack.empty()) {
        sgui_widget *x = stack.back();
        stack.pop_back();
        x->hidden = hidden;
        for (sgui_widget *c = x->child; c != nullptr; c = c->next)
            stack.push_back(c);
    }
    sgui_release_surfaces(w);
    if (hidden)
        sgui_set_shown(w, 0);
    // The siblings move: the parent is laid out and composed anew.
    if (w->par != nullptr)
        sgui_invalidate_tree(w->par);
    else
        sgui_invalidate(w);
}

sgui_widget *sgui_first_focusable(sgui_widget *w)
{
    for (sgui_widget *c = w != nullptr ? w->child : nullptr; c != nullptr; c = c->next) {
        if (c->hidden)
            continue;
        if (c->focusable)
            return c;
        if (sgui_widget *f = sgui_first_focusable(c))
            return f;
    }
    return nullptr;
}

sgui_widget *sgui_first_focused(sgui_widget *w)
{
    for (sgui_widget *c = w != nullptr ? w->child : nullptr; c != nullptr; c = c->next) {
        if (c->hidden || !c->focused)
            continue;
        if (c->focusable)
            return c;
        if (sgui_widget *f = sgui_first_focused(c))
            return f;
    }
    return nullptr;
}

void sgui_add_damage(sgui_widget *w, int x1, int y1, int x2, int y2)
{
    if (x2 <= x1 || y2 <= y1)
        return;
    if (w->ndamage == 1 && is_full(w->damage[0]))
        return;
    sgui_rect n = {x1, y1, x2, y2};
    if (is_full(n)) {
        set_full_damage(w);
        return;
    }
    // Ordered by y1; what overlaps in y is merged.
    for (int i = 0; i < w->ndamage; i++) {
        if (!overlaps_y(w->damage[i], n))
            continue;
        w->damage[i] = rect_union(w->damage[i], n);
        while (i + 1 < w->ndamage && overlaps_y(w->damage[i], w->damage[i + 1])) {
            w->damage[i] = rect_union(w->damage[i], w->damage[i + 1]);
            std::copy(w->damage + i + 2, w->damage + w->ndamage, w->damage + i + 1);
            w->ndamage--;
        }
        return;
    }
    if (w->ndamage == SGUI_MAX_DAMAGE) {
        set_full_damage(w);
        return;
    }
    int at = 0;
    while (at < w->ndamage && w->damage[at].y1 <= n.y1)
        at++;
    std::copy_backward(w->damage + at, w->damage + w->ndamage, w->damage + w->ndamage + 1);
    w->damage[at] = n;
    w->ndamage++;
}

bool sgui_leaf_surface(sgui_widget *w, int sw, int sh)
{
    if (!w->s || w->sw != sw || w->sh != sh) {
        w->s.reset();
        w->sw = sw;
        w->sh = sh;
        widget_create_surface(w);
    }
    return (bool)w->s;
}

void sgui_fill(SDL_Surface *s, const SDL_Rect *r, int red, int green, int blue)
{
    if (s == nullptr)
        return;
    SDL_Rect copy;
    if (r != nullptr)
        copy = *r;
    SDL_FillRect(s, r != nullptr ? &copy : nullptr, SDL_MapRGB(s->format, (Uint8)red, (Uint8)green, (Uint8)blue));
}

void sgui_fill_background(sgui_widget *w)
{
    sgui_fill(w->s.get(), nullptr, w->colour[2], w->colour[1], w->colour[0]);
}

void draw_container(sgui_widget *c)
{
    if (c->hidden)
        return;
    sgui_lock();
    bool in_slide = g.transition != 0 || g.slide != 0;

    // Centring offsets, computed once.
    if ((c->flags & SGUI_CENTRE_H) && c->offx == 0) {
        int sum = 0;
        for (sgui_widget *ch = c->child; ch != nullptr; ch = ch->next)
            if (!ch->hidden && (ch->flags & SGUI_HORIZONTAL))
                sum += ch->view.w;
        c->offx = (c->view.w - sum) / 2;
    }
    if ((c->flags & SGUI_CENTRE_V) && c->offy == 0) {
        int sum = 0;
        for (sgui_widget *ch = c->child; ch != nullptr; ch = ch->next)
            if (!ch->hidden && (ch->flags & SGUI_VERTICAL))
                sum += ch->view.h;
        c->offy = (c->view.h - sum) / 2;
    }

    // Flow layout: positions of the children and the extent of the content.
    int count = 0;
    for (sgui_widget *ch = c->child; ch != nullptr; ch = ch->next)
        if (!ch->hidden)
            count++;
    std::unique_ptr<compose_entry[]> pos(new (std::nothrow) compose_entry[(size_t)std::max(count, 1)]);
    if (!pos) {
        platform_log("draw_container: calloc containerchildlist failed\n");
        sgui_unlock();
        return;
    }
    int x = 0, y = 0, ext_w = 0, ext_h = 0, n = 0;
    sgui_widget *prev = nullptr;
    sgui_widget *follow = nullptr;  // the child that holds the focus
    int follow_x = 0, follow_y = 0;
    for (sgui_widget *ch = c->child; ch != nullptr; ch = ch->next) {
        if (ch->hidden)
            continue;
        if ((ch->flags & SGUI_VERTICAL) && prev != nullptr && (prev->flags & SGUI_HORIZONTAL)) {
            y += prev->view.h;
            x = 0;
        }
        int px = x + c->offx, py = y + c->offy;
        ch->abs.x1 = c->abs.x1 + px;
        ch->abs.y1 = c->abs.y1 + py;
        ch->abs.x2 = ch->abs.x1 + ch->view.w - 1;
        ch->abs.y2 = ch->abs.y1 + ch->view.h - 1;
        pos[(size_t)n++] = {ch, px, py};
        ext_w = std::max(ext_w, px + ch->view.w);
        ext_h = std::max(ext_h, py + ch->view.h);
        if (ch->focused && follow == nullptr) {
            follow = ch;
            follow_x = x;
            follow_y = y;
        }
        if (ch->flags & SGUI_VERTICAL)
            y += ch->view.h;
        if (ch->flags & SGUI_HORIZONTAL)
            x += ch->view.w;
        prev = ch;
    }

    // The surface covers the content; a new one means everything is drawn.
    if (c->s && (ext_w > c->sw || ext_h > c->sh))
        c->s.reset();
    bool fresh = !c->s;
    if (fresh) {
        c->sw = std::max(ext_w, (int)c->view.w);
        c->sh = std::max(ext_h, (int)c->view.h);
        widget_create_surface(c);
        if (!c->s) {
            sgui_unlock();
            return;
        }
    }
    bool full = fresh || (c->redraw & 1);
    if (full) {
        if (!(fresh && c->make_surface != nullptr))
            sgui_fill_background(c);
        set_full_damage(c);
    }
    c->childdirty = 0;
    if (g.transition && c == g.root)
        set_full_damage(c);

    // Scrolling to keep the focused child in view.
    if (follow != nullptr && !(c->flags & SGUI_NOSCROLL) && !(g.transition && c == g.root)) {
        int old_x = c->view.x, old_y = c->view.y;
        int vy = c->view.y, vx = c->view.x;
        int fy = follow_y + c->offy, fx = follow_x + c->offx;
        if (follow->flags & SGUI_VERTICAL) {
            if (fy + follow->view.h + SGUI_SCROLL_MARGIN > vy + c->view.h) {
                vy = std::min(fy + follow->view.h + SGUI_SCROLL_MARGIN - c->view.h, c->sh - c->view.h);
            } else if (fy - SGUI_SCROLL_MARGIN < vy) {
                vy = std::max(fy - SGUI_SCROLL_MARGIN, 0);
                bool focusable_before = false;
                int heights = 0;
                for (sgui_widget *s = c->child; s != follow; s = s->next) {
                    if (s->hidden)
                        continue;
                    if (s->focusable || sgui_first_focusable(s) != nullptr)
                        focusable_before = true;
                    heights += s->view.h;
                }
                if (!focusable_before)
                    vy = std::max(vy - SGUI_SCROLL_MARGIN - heights, 0);
            }
            vy = std::max(vy, 0);
        }
        if (follow->flags & SGUI_HORIZONTAL) {
            if (fx > vx && fx + follow->view.w > vx + c->view.w)
                vx = fx + follow->view.w - c->view.w;
            else if (fx < vx)
                vx = fx;
            vx = std::clamp(vx, 0, std::max(c->sw - (int)c->view.w, 0));
        }
        c->view.x = (int16_t)vx;
        c->view.y = (int16_t)vy;
        if (vx != old_x || vy != old_y)
            set_full_damage(c);
    }

    // Draw the changed children.
    int m = 0;
    for (int i = 0; i < n; i++) {
        sgui_widget *ch = pos[(size_t)i].w;
        if (full) {
            ch->dirty = 1;
            ch->redraw |= 1;
        }
        if (!ch->dirty)
            continue;
        // Pages of the root's strip that are off the screen wait until shown.
        if (c == g.root && !in_slide &&
            (pos[(size_t)i].x + ch->view.w <= c->view.x || pos[(size_t)i].x >= c->view.x + c->view.w)) {
            sgui_set_shown(ch, 0);
            c->childdirty = 1;
            continue;
        }
        show_tree(ch);
        if ((ch->redraw & 1) || in_slide) {
            set_full_damage(ch);
            ch->frozen = 0;
        }
        if (!ch->frozen && ch->draw != nullptr && ch->view.w > 0 && ch->view.h > 0)
            ch->draw(ch);
        pos[(size_t)m++] = pos[(size_t)i];
        ch->redraw = 0;
        if (!ch->frozen)
            ch->dirty = 0;
        else
            c->childdirty = 1;
    }

    // Compose the children's damage into this surface.
    for (int i = 0; i < m; i++) {
        sgui_widget *ch = pos[(size_t)i].w;
        if (ch->frozen || !ch->s)
            continue;
        for (int k = 0; k < ch->ndamage; k++) {
            const sgui_rect &d = ch->damage[k];
            int x1 = std::max(d.x1, (int)ch->view.x), y1 = std::max(d.y1, (int)ch->view.y);
            int x2 = (int)std::min<long long>(d.x2, (long long)ch->view.x + ch->view.w);
            int y2 = (int)std::min<long long>(d.y2, (long long)ch->view.y + ch->view.h);
            x2 = std::min(x2, ch->sw);
            y2 = std::min(y2, ch->sh);
            if (x2 <= x1 || y2 <= y1)
                continue;
            int dx = pos[(size_t)i].x - ch->view.x + x1, dy = pos[(size_t)i].y - ch->view.y + y1;
            blit_part(ch->s.get(), x1, y1, x2 - x1, y2 - y1, c->s.get(), dx, dy);
            sgui_add_damage(c, dx, dy, dx + (x2 - x1), dy + (y2 - y1));
        }
        if (!g.transition)
            ch->ndamage = 0;
    }
    if (c->post_draw != nullptr)
        g.post_draw = c->post_draw;
    sgui_unlock();
}

void sgui_redraw(int force)
{
    sgui_lock();
    sgui_widget *r = g.root;
    if (r == nullptr || g.screen == nullptr || !(force || r->dirty || g.transition || g.slide)) {
        sgui_unlock();
        return;
    }
    if (force) {
        r->dirty = 1;
        r->redraw |= 1;
        set_full_damage(r);
    }
    g.drawing = true;
    if (g.transition)
        page_slide_step();
    sgui_set_shown(r, 1);
    if (r->draw != nullptr)
        r->draw(r);
    SDL_Rect updates[SGUI_MAX_DAMAGE + 1];
    int nu = 0;
    if (g.background == nullptr) {
        bool overlay_was = g.overlay_on;
        if (overlay_was)
            set_full_damage(r);  // the overlay may have changed or gone
        nu = blit_root_damage(r, updates, SGUI_MAX_DAMAGE);
        draw_overlay();
        if (g.overlay_on || overlay_was) {
            updates[0] = {0, 0, SGUI_SCREEN_W, SGUI_SCREEN_H};
            nu = 1;
        }
        if (!g.transition) {
            r->ndamage = 0;
            r->dirty = 0;
            r->redraw = 0;
        }
    } else {
        if (g.redraw_origin != nullptr) {
            sgui_widget *bg = g.background;
            sgui_invalidate(g.redraw_origin);
            g.redraw_origin = nullptr;
            if (bg->draw != nullptr)
                bg->draw(bg);
        }
        slide_frame();
        draw_overlay();
        updates[0] = {0, 0, SGUI_SCREEN_W, SGUI_SCREEN_H};
        nu = 1;
    }
    g.drawing = false;
    if (nu > 0)
        SDL_UpdateRects(g.screen, nu, updates);
    if (g.post_draw != nullptr) {
        sgui_widget *p = g.post_draw;
        g.post_draw = nullptr;
        sgui_invalidate(p);
    }
    sgui_unlock();
}

int sgui_page_move(int direction)
{
    sgui_widget *r = g.root;
    if (r == nullptr || g.transition || g.slide || !r->s || r->sw <= SGUI_SCREEN_W)
        return 0;
    sgui_widget *cur = current_page();
    if (cur == nullptr)
        return 0;
    sgui_widget *target = direction < 0 ? cur->prev : cur->next;
    while (target != nullptr && target->hidden)
        target = direction < 0 ? target->prev : target->next;
    if (target == nullptr)
        return 0;
    sgui_set_focused(cur, 0);
    sgui_invalidate_tree(cur);
    sgui_invalidate_tree(target);
    sgui_widget *f = target->focusable ? target : sgui_first_focusable(target);
    if (f != nullptr)
        sgui_focus_set(f);
    else {
        g.focus = nullptr;
        g.keycapture = nullptr;
        set_focus_flag(target, 1);
    }
    r->dirty = 1;
    g.transition = direction < 0 ? -1 : 1;
    return 1;
}

int sgui_popup(sgui_widget *w, int mode)
{
    if (w == nullptr || g.transition || g.slide)
        return 0;
    sgui_widget *top = topmost(w);
    sgui_widget *old = g.root;
    if (top != old && old != nullptr) {
        if (mode == 0)
            sgui_set_shown(old, 0);
        else {
            g.background = old;
            g.slide = mode < 0 ? -1 : 1;
            g.slide_started = false;
        }
    }
    g.root = top;
    top->view.w = SGUI_SCREEN_W;
    top->view.h = SGUI_SCREEN_H;
    g.keycapture = nullptr;
    sgui_invalidate_tree(top);
    sgui_invalidate_all(top);
    // Keep the focus the screen had, else its first focusable widget.
    sgui_widget *f = g.focus != nullptr && contains(top, g.focus) ? g.focus : sgui_first_focused(top);
    if (f == nullptr)
        f = sgui_first_focusable(top);
    if (f != nullptr)
        sgui_focus_set(f);
    else
        g.focus = nullptr;
    sgui_redraw(1);
    return 1;
}

void sgui_replace(sgui_widget *old_w, sgui_widget *new_w)
{
    if (old_w == nullptr || new_w == nullptr || old_w == new_w)
        return;
    // Unlink new_w from where it was.
    if (new_w->prev != nullptr)
        new_w->prev->next = new_w->next;
    else if (new_w->par != nullptr && new_w->par->child == new_w)
        new_w->par->child = new_w->next;
    if (new_w->next != nullptr)
        new_w->next->prev = new_w->prev;
    // And put it in front of old_w.
    new_w->par = old_w->par;
    new_w->prev = old_w->prev;
    new_w->next = old_w;
    if (old_w->prev != nullptr)
        old_w->prev->next = new_w;
    else if (old_w->par != nullptr)
        old_w->par->child = new_w;
    old_w->prev = new_w;
    sgui_set_hidden(old_w, 1);
    sgui_widget *f = new_w->focusable ? new_w : sgui_first_focusable(new_w);
    if (f != nullptr)
        sgui_focus_set(f);
    sgui_invalidate_tree(new_w);
}

sgui_widget *sgui_root()
{
    return g.root;
}

void sgui_set_root(sgui_widget *w)
{
    g.root = w;
}

sgui_widget *sgui_background()
{
    return g.background;
}

sgui_widget *sgui_focus()
{
    return g.focus;
}

sgui_widget *sgui_keycapture()
{
    return g.keycapture;
}

void sgui_set_keycapture(sgui_widget *w)
{
    g.keycapture = w;
}

int sgui_transition()
{
    return g.transition;
}

int sgui_screen_slide()
{
    return g.slide;
}

SDL_Surface *sgui_screen()
{
    return g.screen;
}

void sgui_set_screen(SDL_Surface *s)
{
    g.screen = s;
}

int sgui_widget_count()
{
    return g.widget_count;
}

bool sgui_widget_alive(const sgui_widget *w)
{
    return w != nullptr && std::find(g.widgets.begin(), g.widgets.end(), w) != g.widgets.end();
}

void sgui_set_connected(int connected)
{
    sgui_lock();
    if (g.connected != connected) {
        g.connected = connected;
        if (g.root != nullptr)
            g.root->dirty = 1;
    }
    sgui_unlock();
}

int sgui_connected()
{
    return g.connected;
}

void sgui_set_status_text(const char *text)
{
    sgui_lock();
    char next[sizeof g.status];
    snprintf(next, sizeof next, "%s", text != nullptr ? text : "");
    if (strcmp(next, g.status) != 0) {
        memcpy(g.status, next, sizeof next);
        if (g.root != nullptr)
            g.root->dirty = 1;
    }
    sgui_unlock();
}

const char *sgui_status_text()
{
    return g.status;
}

void sgui_anim_add(sgui_widget *w, int period)
{
    for (anim_rec &a : g.anims)
        if (a.w == w) {
            a.period = period;
            return;
        }
    g.anims.push_back({w, period, 0});
}

void sgui_anim_remove(sgui_widget *w)
{
    std::erase_if(g.anims, [w](const anim_rec &a) { return a.w == w; });
}

void sgui_anim_tick()
{
    sgui_lock();
    for (anim_rec &a : g.anims) {
        if (!a.w->shown || !a.w->s)
            continue;
        if (++a.counter >= a.period) {
            a.counter = 0;
            a.w->anim_due = 1;
            sgui_invalidate(a.w);
        }
    }
    sgui_unlock();
}

void sgui_event_val(sgui_widget *w, int value, const char *text)
{
    for (sgui_widget *p = w; p != nullptr; p = p->par)
        if (p->event_val != nullptr) {
            p->event_val(w, value, text);
            return;
        }
}
