#include <algorithm>

#include "sgui/sgui_private.h"

// Layout of a container: centring offsets, the flow of its children in
// rows and columns, and scrolling to keep the focused child in view.

void sgui_layout_centre(sgui_widget *c)
{
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
}

sgui_flow sgui_layout_flow(sgui_widget *c, sgui_placed *placed)
{
    sgui_flow f = {};
    int x = 0, y = 0;
    sgui_widget *prev = nullptr;
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
        placed[f.count++] = {ch, px, py};
        f.ext_w = std::max(f.ext_w, px + ch->view.w);
        f.ext_h = std::max(f.ext_h, py + ch->view.h);
        if (ch->focused && f.follow == nullptr) {
            f.follow = ch;
            f.follow_x = x;
            f.follow_y = y;
        }
        if (ch->flags & SGUI_VERTICAL)
            y += ch->view.h;
        if (ch->flags & SGUI_HORIZONTAL)
            x += ch->view.w;
        prev = ch;
    }
    return f;
}

void sgui_layout_scroll(sgui_widget *c, const sgui_flow &flow)
{
    sgui_widget *follow = flow.follow;
    if (follow == nullptr || (c->flags & SGUI_NOSCROLL) || (sgui_g.transition && c == sgui_g.root))
        return;
    int old_x = c->view.x, old_y = c->view.y;
    int vy = c->view.y, vx = c->view.x;
    int fy = flow.follow_y + c->offy, fx = flow.follow_x + c->offx;
    if (follow->flags & SGUI_VERTICAL) {
        if (fy + follow->view.h + SGUI_SCROLL_MARGIN > vy + c->view.h) {
            vy = std::min(fy + follow->view.h + SGUI_SCROLL_MARGIN - c->view.h, c->sh - c->view.h);
        } else if (fy - SGUI_SCROLL_MARGIN < vy) {
            vy = std::max(fy - SGUI_SCROLL_MARGIN, 0);
            // Captions above the first focusable row come into view too.
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
        sgui_set_full_damage(c);
}
