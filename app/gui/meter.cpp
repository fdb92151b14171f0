#include "gui/meter.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "gui/levels.h"
#include "sgui/sgui_widget.h"

namespace {

constexpr int BAR_MARGIN = 4;     // rows above and below the bar inside the meter
constexpr float TICK_DB = 10.0f;  // scale marks every 10 dB

struct meter_data {
    meter_map *map;
    float level, gr;
    int bar;  // pixels, as last drawn
};

meter_data *data_of(sgui_widget *w)
{
    return static_cast<meter_data *>(w->data);
}

// The meter at x, y (w x h) of surface s: the track, its scale marks past
// the bar, and the bar.
void paint(SDL_Surface *s, int x, int y, int w, int h, int bar)
{
    SDL_Rect all = {(Sint16)x, (Sint16)y, (Uint16)w, (Uint16)h};
    sgui_fill(s, &all, 0, 0, 0);
    int bh = std::max(h - 2 * BAR_MARGIN, 1);
    SDL_Rect track = {(Sint16)x, (Sint16)(y + (h - bh) / 2), (Uint16)w, (Uint16)bh};
    sgui_fill(s, &track, 40, 40, 40);
    int marks = (int)(-METER_FLOOR_DB / TICK_DB);
    for (int i = 1; i < marks; i++) {
        int mx = x + w * i / marks;
        if (mx - x < bar)
            continue;
        SDL_Rect tick = {(Sint16)mx, track.y, 1, track.h};
        sgui_fill(s, &tick, 80, 80, 80);
    }
    if (bar > 0) {
        SDL_Rect b = {(Sint16)x, track.y, (Uint16)bar, track.h};
        sgui_fill(s, &b, METER_BAR_R, METER_BAR_G, METER_BAR_B);
    }
}

void meter_draw(sgui_widget *w)
{
    meter_data *d = data_of(w);
    if (d == nullptr || !sgui_leaf_surface(w, w->view.w, w->view.h))
        return;
    d->bar = meter_bar_for(d->level, d->gr, w->view.w);
    paint(w->s.get(), 0, 0, w->view.w, w->view.h, d->bar);
    sgui_add_damage(w, 0, 0, INT_MAX, INT_MAX);
}

void meter_free(sgui_widget *w)
{
    meter_data *d = data_of(w);
    if (d != nullptr && d->map != nullptr)
        std::erase(d->map->meters, w);
    delete d;
    w->data = nullptr;
}

const char *meter_describe(sgui_widget *w, char *text, size_t size)
{
    meter_data *d = data_of(w);
    char value[32];
    if (d == nullptr)
        snprintf(text, size, "-");
    else if (levels_shows_gr())
        snprintf(text, size, "%1.1f dBGR bar=%d", d->gr, d->bar);
    else
        snprintf(text, size, "%s %s bar=%d", levels_text(d->level, value, sizeof value),
                 levels_unit_name(levels_unit_get() != nullptr ? levels_unit_get()->index : 0), d->bar);
    return "meter";
}

// Where the meter lies in its root's surface, when nothing between them
// scrolls (the maps do not). False otherwise.
bool root_position(const sgui_widget *w, const sgui_widget *root, int *x, int *y)
{
    for (const sgui_widget *p = w->par; p != nullptr && p != root; p = p->par)
        if (p->view.x != 0 || p->view.y != 0)
            return false;
    *x = w->abs.x1 - root->abs.x1;
    *y = w->abs.y1 - root->abs.y1;
    return true;
}

// The map is the screen and nothing moves over it: its surface is what
// the screen shows.
bool map_on_screen(const meter_map *m)
{
    sgui_widget *r = m->root;
    return r != nullptr && r == sgui_root() && sgui_background() == nullptr && sgui_screen_slide() == 0 &&
           sgui_transition() == 0 && r->s && r->view.x == 0 && r->view.y == 0;
}

}  // namespace

int meter_bar_for(float level, float gr, int w)
{
    float f;
    if (levels_shows_gr())
        f = std::isnan(gr) ? 0.0f : -gr / METER_GR_RANGE_DB;
    else
        f = std::isnan(level) ? 0.0f : (level - METER_FLOOR_DB) / -METER_FLOOR_DB;
    return (int)std::lround(std::clamp(f, 0.0f, 1.0f) * (float)w);
}

sgui_widget *meter_new(meter_map *map, sgui_widget *par, int flags, int w, int h)
{
    sgui_widget *x = sgui_widget_box(par, flags, w, h, 0, meter_draw);
    if (x == nullptr)
        return nullptr;
    x->data = new meter_data{map, -382.3f, 0.0f, 0};
    x->free_data = meter_free;
    x->describe = meter_describe;
    map->meters.push_back(x);
    return x;
}

void meter_set(sgui_widget *w, float level, float gr)
{
    meter_data *d = w != nullptr ? data_of(w) : nullptr;
    if (d == nullptr)
        return;
    d->level = level;
    d->gr = gr;
    int bar = meter_bar_for(level, gr, w->view.w);
    if (bar == d->bar && !w->dirty)
        return;
    meter_map *m = d->map;
    int x, y;
    if (w->dirty || !w->shown || w->hidden || !w->s || !map_on_screen(m) || !root_position(w, m->root, &x, &y)) {
        sgui_invalidate(w);
        return;
    }
    // Straight into the map's surface (and the meter's own, which a later
    // compose of its row may use), clipped to the meter.
    d->bar = bar;
    paint(w->s.get(), 0, 0, w->view.w, w->view.h, bar);
    SDL_Surface *s = m->root->s.get();
    SDL_Rect clip = {(Sint16)x, (Sint16)y, w->view.w, w->view.h};
    SDL_SetClipRect(s, &clip);
    paint(s, x, y, w->view.w, w->view.h, bar);
    SDL_SetClipRect(s, nullptr);
    m->top = std::min(m->top, std::max(y, 0));
    m->bottom = std::max(m->bottom, std::min(y + (int)w->view.h, SGUI_SCREEN_H));
}

int meter_bar(sgui_widget *w)
{
    meter_data *d = w != nullptr ? data_of(w) : nullptr;
    return d != nullptr ? d->bar : 0;
}

void meter_map_refresh(meter_map *m)
{
    if (m == nullptr || m->bottom <= m->top)
        return;
    int top = m->top, bottom = m->bottom;
    m->top = SGUI_SCREEN_H;
    m->bottom = 0;
    sgui_widget *r = m->root;
    bool overlay = sgui_status_text()[0] != 0 || !sgui_connected();
    if (map_on_screen(m) && !overlay && sgui_screen() != nullptr) {
        sgui_blit_band(r->s.get(), top, bottom);
        return;
    }
    // Not on the screen as it is: the next redraw takes the band along.
    if (r != nullptr && r->s) {
        sgui_add_damage(r, 0, top, SGUI_SCREEN_W, bottom);
        r->dirty = 1;
    }
}

void meter_map_invalidate(meter_map *m)
{
    for (sgui_widget *w : m->meters)
        sgui_invalidate(w);
}
