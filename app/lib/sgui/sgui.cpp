#include "sgui/sgui.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>
#include <vector>

#include "platform.h"
#include "sgui/sgui_event.h"
#include "sgui/sgui_private.h"

// The widget tree: records, the global widget list, creation and freeing,
// invalidation, the shown, focused and hidden states, the global state and
// the animation list.

sgui_state sgui_g;

namespace {

sgui_state &g = sgui_g;

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

void call_on_show(sgui_widget *w)
{
    if (!g.drawing)
        return;
    sgui_show_fn cb = w->on_show != nullptr ? w->on_show : w->par != nullptr ? w->par->on_show : nullptr;
    if (cb != nullptr)
        cb(w);
}

}  // namespace

void sgui_set_focus_flag(sgui_widget *w, int value)
{
    if (w->focused == value)
        return;
    w->focused = value;
    sgui_focus_fn cb = w->on_focus != nullptr ? w->on_focus : w->par != nullptr ? w->par->on_focus : nullptr;
    if (cb != nullptr)
        cb(w, value);
    mark_changed(w);
}

void sgui_show_tree(sgui_widget *w)
{
    if (!w->shown) {
        w->shown = 1;
        call_on_show(w);
    }
    for (sgui_widget *c = w->child; c != nullptr; c = c->next)
        if (!c->hidden)
            sgui_show_tree(c);
}

bool sgui_contains(const sgui_widget *top, const sgui_widget *w)
{
    for (; w != nullptr; w = w->par)
        if (w == top)
            return true;
    return false;
}

sgui_widget *sgui_topmost(sgui_widget *w)
{
    while (w->par != nullptr)
        w = w->par;
    return w;
}

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
        sgui_set_full_damage(w);
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
    sgui_set_focus_flag(w, value);
    for (sgui_widget *c = w->child; c != nullptr; c = c->next)
        sgui_set_focused(c, value);
}

void sgui_focus_set(sgui_widget *w)
{
    // Clear the old path where it leaves the new one, then set the new one.
    for (sgui_widget *p = g.focus; p != nullptr; p = p->par)
        if (!sgui_contains(p, w))
            sgui_set_focus_flag(p, 0);
    for (sgui_widget *p = w; p != nullptr; p = p->par)
        sgui_set_focus_flag(p, 1);
    g.focus = w;
    g.keycapture = w;
}

void sgui_set_hidden(sgui_widget *w, int hidden)
{
    if (hidden && g.focus != nullptr && sgui_contains(w, g.focus)) {
        // The focus goes on to the next item (or back) outside the hidden part.
        sgui_widget *old = g.focus;
        g.focus = w;
        w->hidden = 1;
        if (sgui_focus_move(1) == 0 && sgui_focus_move(-1) == 0) {
            for (sgui_widget *p = old; p != nullptr; p = p->par)
                sgui_set_focus_flag(p, 0);
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
    for (sgui_anim_rec &a : g.anims)
        if (a.w == w) {
            a.period = period;
            return;
        }
    g.anims.push_back({w, period, 0});
}

void sgui_anim_remove(sgui_widget *w)
{
    std::erase_if(g.anims, [w](const sgui_anim_rec &a) { return a.w == w; });
}

void sgui_anim_tick()
{
    sgui_lock();
    for (sgui_anim_rec &a : g.anims) {
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
