#include "sgui/sgui.h"

#include <algorithm>
#include <climits>
#include <memory>
#include <new>

#include "platform.h"
#include "sgui/sgui_private.h"

// Drawing and damage: surfaces, damage rectangles, the container's draw
// function (layout, drawing of the changed children, composition), the
// screen redraw and the status overlay.

namespace {

sgui_state &g = sgui_g;

bool is_full(const sgui_rect &r)
{
    return r.x1 == 0 && r.y1 == 0 && r.x2 == INT_MAX && r.y2 == INT_MAX;
}

sgui_rect rect_union(const sgui_rect &a, const sgui_rect &b)
{
    return {std::min(a.x1, b.x1), std::min(a.y1, b.y1), std::max(a.x2, b.x2), std::max(a.y2, b.y2)};
}

bool overlaps_y(const sgui_rect &a, const sgui_rect &b)
{
    return a.y1 < b.y2 && b.y1 < a.y2;
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

// The part of a damage rectangle (surface coordinates) that lies inside
// w's view and surface; false when nothing does.
bool visible_part(const sgui_widget *w, const sgui_rect &d, int *x1, int *y1, int *x2, int *y2)
{
    *x1 = std::max(d.x1, (int)w->view.x);
    *y1 = std::max(d.y1, (int)w->view.y);
    *x2 = std::min((int)std::min<long long>(d.x2, (long long)w->view.x + w->view.w), w->sw);
    *y2 = std::min((int)std::min<long long>(d.y2, (long long)w->view.y + w->view.h), w->sh);
    return *x2 > *x1 && *y2 > *y1;
}

// Copies the root's damage to the screen; damage is in surface coordinates.
int blit_root_damage(sgui_widget *r, SDL_Rect *updates, int max)
{
    int n = 0;
    for (int i = 0; i < r->ndamage && n < max; i++) {
        int x1, y1, x2, y2;
        if (!visible_part(r, r->damage[i], &x1, &y1, &x2, &y2))
            continue;
        int dx = x1 - r->view.x, dy = y1 - r->view.y;
        sgui_blit_part(r->s.get(), x1, y1, x2 - x1, y2 - y1, g.screen, dx, dy);
        updates[n++] = {(Sint16)dx, (Sint16)dy, (Uint16)(x2 - x1), (Uint16)(y2 - y1)};
    }
    return n;
}

}  // namespace

void sgui_set_full_damage(sgui_widget *w)
{
    w->ndamage = 1;
    w->damage[0] = SGUI_FULL_RECT;
}

SDL_Surface *sgui_new_surface(int w, int h)
{
    return SDL_CreateRGBSurface(SDL_SWSURFACE, w, h, 24, 0xFF0000, 0x00FF00, 0x0000FF, 0);
}

void sgui_blit_part(SDL_Surface *src, int sx, int sy, int w, int h, SDL_Surface *dst, int dx, int dy)
{
    if (src == nullptr || dst == nullptr || w <= 0 || h <= 0)
        return;
    SDL_Rect s = {(Sint16)sx, (Sint16)sy, (Uint16)w, (Uint16)h};
    SDL_Rect d = {(Sint16)dx, (Sint16)dy, 0, 0};
    SDL_BlitSurface(src, &s, dst, &d);
}

void widget_create_surface(sgui_widget *w)
{
    w->sw = std::max(w->sw, (int)w->view.w);
    w->sh = std::max(w->sh, (int)w->view.h);
    w->s.reset(w->make_surface != nullptr ? w->make_surface(w) : sgui_new_surface(std::max(w->sw, 1), std::max(w->sh, 1)));
    if (!w->s)
        platform_log("widget_create_surface: self->s==NULL w: %d h: %d\n", w->sw, w->sh);
}

void sgui_add_damage(sgui_widget *w, int x1, int y1, int x2, int y2)
{
    if (x2 <= x1 || y2 <= y1)
        return;
    if (w->ndamage == 1 && is_full(w->damage[0]))
        return;
    sgui_rect n = {x1, y1, x2, y2};
    if (is_full(n)) {
        sgui_set_full_damage(w);
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
        sgui_set_full_damage(w);
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

namespace {

// Gives c a surface that covers its content (a new one when it grew).
// full tells whether everything must be drawn. False when there is none.
bool prepare_surface(sgui_widget *c, const sgui_flow &flow, bool *full)
{
    if (c->s && (flow.ext_w > c->sw || flow.ext_h > c->sh))
        c->s.reset();
    bool fresh = !c->s;
    if (fresh) {
        c->sw = std::max(flow.ext_w, (int)c->view.w);
        c->sh = std::max(flow.ext_h, (int)c->view.h);
        widget_create_surface(c);
        if (!c->s)
            return false;
    }
    *full = fresh || (c->redraw & 1);
    if (*full) {
        if (!(fresh && c->make_surface != nullptr))
            sgui_fill_background(c);
        sgui_set_full_damage(c);
    }
    return true;
}

// Draws the dirty children into their surfaces. Keeps in placed, in order,
// those whose damage must be composed; returns their number.
int draw_children(sgui_widget *c, sgui_placed *placed, int n, bool full)
{
    bool in_slide = g.transition != 0 || g.slide != 0;
    int m = 0;
    for (int i = 0; i < n; i++) {
        sgui_widget *ch = placed[i].w;
        if (full) {
            ch->dirty = 1;
            ch->redraw |= 1;
        }
        if (!ch->dirty)
            continue;
        // Pages of the root's strip that are off the screen wait until shown.
        if (c == g.root && !in_slide && (placed[i].x + ch->view.w <= c->view.x || placed[i].x >= c->view.x + c->view.w)) {
            sgui_set_shown(ch, 0);
            c->childdirty = 1;
            continue;
        }
        sgui_show_tree(ch);
        if ((ch->redraw & 1) || in_slide) {
            sgui_set_full_damage(ch);
            ch->frozen = 0;
        }
        if (!ch->frozen && ch->draw != nullptr && ch->view.w > 0 && ch->view.h > 0)
            ch->draw(ch);
        placed[m++] = placed[i];
        ch->redraw = 0;
        if (!ch->frozen)
            ch->dirty = 0;
        else
            c->childdirty = 1;
    }
    return m;
}

// Copies the children's damage into c's surface and adds it to c's damage.
void compose_children(sgui_widget *c, const sgui_placed *placed, int m)
{
    for (int i = 0; i < m; i++) {
        sgui_widget *ch = placed[i].w;
        if (ch->frozen || !ch->s)
            continue;
        for (int k = 0; k < ch->ndamage; k++) {
            int x1, y1, x2, y2;
            if (!visible_part(ch, ch->damage[k], &x1, &y1, &x2, &y2))
                continue;
            int dx = placed[i].x - ch->view.x + x1, dy = placed[i].y - ch->view.y + y1;
            sgui_blit_part(ch->s.get(), x1, y1, x2 - x1, y2 - y1, c->s.get(), dx, dy);
            sgui_add_damage(c, dx, dy, dx + (x2 - x1), dy + (y2 - y1));
        }
        if (!g.transition)
            ch->ndamage = 0;
    }
}

}  // namespace

void draw_container(sgui_widget *c)
{
    if (c->hidden)
        return;
    sgui_lock();
    sgui_layout_centre(c);
    int count = 0;
    for (sgui_widget *ch = c->child; ch != nullptr; ch = ch->next)
        if (!ch->hidden)
            count++;
    std::unique_ptr<sgui_placed[]> placed(new (std::nothrow) sgui_placed[(size_t)std::max(count, 1)]);
    if (!placed) {
        platform_log("draw_container: calloc containerchildlist failed\n");
        sgui_unlock();
        return;
    }
    sgui_flow flow = sgui_layout_flow(c, placed.get());
    bool full = false;
    if (!prepare_surface(c, flow, &full)) {
        sgui_unlock();
        return;
    }
    c->childdirty = 0;
    if (g.transition && c == g.root)
        sgui_set_full_damage(c);
    sgui_layout_scroll(c, flow);
    int m = draw_children(c, placed.get(), flow.count, full);
    compose_children(c, placed.get(), m);
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
        sgui_set_full_damage(r);
    }
    g.drawing = true;
    if (g.transition)
        sgui_page_slide_step();
    sgui_set_shown(r, 1);
    if (r->draw != nullptr)
        r->draw(r);
    SDL_Rect updates[SGUI_MAX_DAMAGE + 1];
    int nu = 0;
    if (g.background == nullptr) {
        bool overlay_was = g.overlay_on;
        if (overlay_was)
            sgui_set_full_damage(r);  // the overlay may have changed or gone
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
        sgui_slide_frame();
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
