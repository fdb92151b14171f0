#include "sgui/sgui.h"

#include "sgui/sgui_private.h"

// The page slide between the pages of the root's strip, and popups: a new
// screen opened at once or slid in over the current one.

namespace {

sgui_state &g = sgui_g;

}  // namespace

sgui_widget *sgui_current_page()
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

void sgui_slide_frame()
{
    sgui_widget *bg = g.background, *r = g.root;
    if (!g.slide_started) {
        g.slide_started = true;
        g.slide_boundary = g.slide > 0 ? SGUI_SCREEN_H : 0;
    }
    int target = g.slide > 0 ? 0 : SGUI_SCREEN_H;
    int remaining = target - g.slide_boundary;
    int step = (int)(((long long)remaining * SGUI_SLIDE_FACTOR) >> 16);  // floor
    if (g.slide > 0)
        step -= 1;  // moving up: one more pixel
    else if (step == 0 && remaining > 0)
        step = 1;  // moving down rounds down, but never stands still short of the end
    g.slide_boundary += step;
    if ((g.slide > 0 && g.slide_boundary < target) || (g.slide < 0 && g.slide_boundary > target))
        g.slide_boundary = target;
    int b = g.slide_boundary;
    if (g.slide > 0) {
        sgui_blit_part(bg->s.get(), bg->view.x, bg->view.y + SGUI_SCREEN_H - b, SGUI_SCREEN_W, b, g.screen, 0, 0);
        sgui_blit_part(r->s.get(), r->view.x, r->view.y, SGUI_SCREEN_W, SGUI_SCREEN_H - b, g.screen, 0, b);
    } else {
        sgui_blit_part(r->s.get(), r->view.x, r->view.y + SGUI_SCREEN_H - b, SGUI_SCREEN_W, b, g.screen, 0, 0);
        sgui_blit_part(bg->s.get(), bg->view.x, bg->view.y, SGUI_SCREEN_W, SGUI_SCREEN_H - b, g.screen, 0, b);
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

void sgui_page_slide_step()
{
    sgui_widget *r = g.root;
    sgui_widget *page = sgui_current_page();
    if (page == nullptr) {
        g.transition = 0;
        return;
    }
    int target = page->abs.x1 - r->abs.x1;
    int diff = target - r->view.x;
    int step = (int)(((long long)diff * SGUI_SLIDE_FACTOR) >> 16);
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
    sgui_set_full_damage(r);
}

int sgui_page_move(int direction)
{
    sgui_widget *r = g.root;
    if (r == nullptr || g.transition || g.slide || !r->s || r->sw <= SGUI_SCREEN_W)
        return 0;
    sgui_widget *cur = sgui_current_page();
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
        sgui_set_focus_flag(target, 1);
    }
    r->dirty = 1;
    g.transition = direction < 0 ? -1 : 1;
    return 1;
}

int sgui_popup(sgui_widget *w, int mode)
{
    if (w == nullptr || g.transition || g.slide)
        return 0;
    sgui_widget *top = sgui_topmost(w);
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
    sgui_widget *f = g.focus != nullptr && sgui_contains(top, g.focus) ? g.focus : sgui_first_focused(top);
    if (f == nullptr)
        f = sgui_first_focusable(top);
    if (f != nullptr)
        sgui_focus_set(f);
    else
        g.focus = nullptr;
    sgui_redraw(1);
    return 1;
}
