#include "gui/eqvis.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <new>

#include "platform.h"
#include "sgui/sgui_widget.h"

namespace {

constexpr int MAX_HANDLES = EQVIS_GEQ_BANDS;
constexpr int MARKER = 15;         // numbered handle: a square of this size
constexpr int GEQ_BAR = 3;         // graphic handle: a bar from the 0 dB line
constexpr int GEQ_MARKER = 7;      // and a square at the band's gain
constexpr int GEQ_LABEL_ROW = 13;  // grid labels: pixels above the bottom

// Grid lines; 100, 1k and 10k carry a label (there is no line at 90 Hz).
constexpr int grid_freqs[] = {20,   30,   40,   50,   60,   70,   80,   100,  200,  300,   400,   500,  600, 700,
                              800,  900,  1000, 2000, 3000, 4000, 5000, 6000, 7000, 8000, 9000, 10000, 20000};

struct rgba {
    Uint8 r, g, b, a;
};

// init_colors: per page the handle colour; the selected handle and the grid.
constexpr rgba handle_colour[EQVIS_MODES] = {{90, 90, 90, 128}, {24, 24, 216, 128}, {255, 160, 160, 128},
                                            {170, 170, 170, 128}};
constexpr rgba selected_colour = {224, 255, 255, 170};
constexpr rgba grid_colour = {252, 136, 186, 65};
constexpr rgba curve_colour = {255, 255, 255, 255};
constexpr rgba geq_edge = {160, 160, 160, 255};  // graphic markers are small: an edge shows them

struct handle {
    float freq, gain, q;
    int enabled;
};

struct page {
    sdl_surface_ptr s;
    int selected;
    int count_handles;
    handle handles[MAX_HANDLES];
    int x[MAX_HANDLES], y[MAX_HANDLES];  // marker centres, pixels
    bool stale;
};

struct eqvis_data {
    sgui_widget *widget;
    float px_per_db;
    int half;
    int height;
    int mode;
    int has_geq;
    page pages[EQVIS_MODES];
    sdl_surface_ptr sgrid;   // black with the grid and its labels
    sdl_surface_ptr scurve;  // the grid with the curve blended in
    bool curve_stale;
    float curve[EQVIS_CURVE_POINTS];
    int curves;
};

eqvis_data *data_of(sgui_widget *w)
{
    return w != nullptr ? static_cast<eqvis_data *>(w->data) : nullptr;
}

[[noreturn]] void assert_fail(const char *function, const char *what)
{
    platform_log("app/gui/eqvis: %s: Assertion `%s' failed.\n", function, what);
    abort();
}

const std::array<float, EQVIS_FREQ_UNITS> &freq_table()
{
    static const std::array<float, EQVIS_FREQ_UNITS> table = [] {
        std::array<float, EQVIS_FREQ_UNITS> t{};
        t[0] = 17.5f;
        for (size_t i = 1; i < t.size(); i++)
            t[i] = t[i - 1] * 1.0002208f;
        return t;
    }();
    return table;
}

int unit_column(int unit)
{
    return unit * SGUI_SCREEN_W / EQVIS_FREQ_UNITS;
}

SDL_Surface *new_argb(int w, int h)
{
    return SDL_CreateRGBSurface(SDL_SWSURFACE | SDL_SRCALPHA, w, h, 32, 0xFF0000, 0xFF00, 0xFF, 0xFF000000);
}

bool create_eqvis_surface(sdl_surface_ptr &s, int h, const char *what)
{
    if (s && s->h == h)
        return true;
    s.reset(new_argb(SGUI_SCREEN_W, h));
    if (!s)
        platform_log("create_eqvis_surface: %s == NULL\n", what);
    return (bool)s;
}

Uint32 *pixel_at(SDL_Surface *s, int x, int y)
{
    return (Uint32 *)((Uint8 *)s->pixels + (size_t)y * s->pitch) + x;
}

// The curve's pixel: half the colour, half what is below, alpha 128.
void blend_pixel(SDL_Surface *s, int x, int y, rgba c)
{
    if (x < 0 || y < 0 || x >= s->w || y >= s->h)
        return;
    Uint32 *p = pixel_at(s, x, y);
    Uint8 r, g, b, a;
    SDL_GetRGBA(*p, s->format, &r, &g, &b, &a);
    *p = SDL_MapRGBA(s->format, (Uint8)((c.r * 127 + r * 128) / 256), (Uint8)((c.g * 127 + g * 128) / 256),
                     (Uint8)((c.b * 127 + b * 128) / 256), 128);
}

void fill(SDL_Surface *s, int x, int y, int w, int h, rgba c)
{
    SDL_Rect r = {(Sint16)x, (Sint16)y, (Uint16)std::max(w, 0), (Uint16)std::max(h, 0)};
    SDL_FillRect(s, &r, SDL_MapRGBA(s->format, c.r, c.g, c.b, c.a));
}

void outline(SDL_Surface *s, int x, int y, int w, int h, rgba c)
{
    fill(s, x, y, w, 1, c);
    fill(s, x, y + h - 1, w, 1, c);
    fill(s, x, y, 1, h, c);
    fill(s, x + w - 1, y, 1, h, c);
}

// Bresenham from (x0, y0) to (x1, y1), without the end point.
void line(SDL_Surface *s, int x0, int y0, int x1, int y1, rgba c)
{
    int dx = std::abs(x1 - x0), dy = -std::abs(y1 - y0);
    int sx = x0 < x1 ? 1 : -1, sy = y0 < y1 ? 1 : -1, err = dx + dy;
    while (x0 != x1 || y0 != y1) {
        blend_pixel(s, x0, y0, c);
        int e2 = 2 * err;
        if (e2 >= dy) {
            err += dy;
            x0 += sx;
        }
        if (e2 <= dx) {
            err += dx;
            y0 += sy;
        }
    }
}

// The numbers of the handles, rendered once: light on the handle colours,
// dark on the selected one.
SDL_Surface *number_glyph(int n, bool dark)
{
    static sdl_surface_ptr glyphs[2][MAX_HANDLES + 1];
    if (n < 1 || n > MAX_HANDLES)
        return nullptr;
    sdl_surface_ptr &g = glyphs[dark ? 1 : 0][n];
    if (!g) {
        TTF_Font *f = font_get(2).font;
        char text[4];
        snprintf(text, sizeof text, "%d", n);
        if (f != nullptr)
            g.reset(TTF_RenderUTF8_Blended(f, text, font_colour(dark ? 0 : 8)));
    }
    return g.get();
}

void draw_number(SDL_Surface *dst, int n, bool dark, int cx, int cy)
{
    SDL_Surface *g = number_glyph(n, dark);
    if (g == nullptr)
        return;
    SDL_Rect d = {(Sint16)(cx - g->w / 2), (Sint16)(cy - g->h / 2), 0, 0};
    SDL_BlitSurface(g, nullptr, dst, &d);
}

// The centre of a numbered marker, kept on the display.
int marker_x(int x)
{
    return std::clamp(x, MARKER / 2, SGUI_SCREEN_W - 1 - MARKER / 2);
}

int marker_y(const eqvis_data *d, int y)
{
    return std::clamp(y, MARKER / 2, std::max(d->height - 1 - MARKER / 2, MARKER / 2));
}

// Bandwidth of a peak filter in octaves: N = 2 / ln 2 * asinh(1 / (2 Q)).
float bandwidth_octaves(float q)
{
    return q > 0 ? 2.0f / std::log(2.0f) * std::asinh(1.0f / (2.0f * q)) : 0.0f;
}

void place_handles(eqvis_data *d, int mode)
{
    page &p = d->pages[mode];
    for (int i = 0; i < p.count_handles; i++) {
        const handle &h = p.handles[i];
        if (mode == EQVIS_GRAPHIC) {
            p.x[i] = eqvis_geq_column(i);
            p.y[i] = eqvis_db_row(h.gain, d->height);
        } else {
            p.x[i] = marker_x(eqvis_freq_column(h.freq));
            p.y[i] = marker_y(d, mode == EQVIS_HPF ? d->half : eqvis_db_row(h.gain, d->height));
        }
    }
}

void draw_page(eqvis_data *d, int mode)
{
    page &p = d->pages[mode];
    if (!create_eqvis_surface(p.s, d->height, "p->s"))
        return;
    SDL_Surface *s = p.s.get();
    SDL_FillRect(s, nullptr, 0);
    place_handles(d, mode);
    for (int i = 0; i < p.count_handles; i++) {
        rgba c = i == p.selected ? selected_colour : handle_colour[mode];
        const handle &h = p.handles[i];
        if (mode == EQVIS_GRAPHIC) {
            int top = std::min(p.y[i], d->half), bottom = std::max(p.y[i], d->half);
            fill(s, p.x[i] - GEQ_BAR / 2, top, GEQ_BAR, bottom - top + 1, c);
            int x = p.x[i] - GEQ_MARKER / 2, y = p.y[i] - GEQ_MARKER / 2;
            fill(s, x, y, GEQ_MARKER, GEQ_MARKER, c);
            outline(s, x, y, GEQ_MARKER, GEQ_MARKER, i == p.selected ? selected_colour : geq_edge);
            continue;
        }
        if (mode == EQVIS_PEQ && h.enabled) {
            float half_bw = bandwidth_octaves(h.q) / 2;
            int x1 = eqvis_freq_column(h.freq * std::exp2(-half_bw));
            int x2 = eqvis_freq_column(h.freq * std::exp2(half_bw));
            fill(s, x1, p.y[i], x2 - x1 + 1, 1, c);
        }
        int x = p.x[i] - MARKER / 2, y = p.y[i] - MARKER / 2;
        if (h.enabled)
            fill(s, x, y, MARKER, MARKER, c);
        else
            outline(s, x, y, MARKER, MARKER, c);
    }
    p.stale = false;
}

void draw_grid(eqvis_data *d)
{
    if (d->sgrid && d->sgrid->h == d->height)
        return;
    d->sgrid.reset(SDL_CreateRGBSurface(SDL_SWSURFACE, SGUI_SCREEN_W, d->height, 24, 0xFF0000, 0xFF00, 0xFF, 0));
    if (!d->sgrid)
        return;
    SDL_Surface *s = d->sgrid.get();
    SDL_FillRect(s, nullptr, 0);
    sdl_surface_ptr lines(new_argb(SGUI_SCREEN_W, d->height));
    if (lines) {
        SDL_FillRect(lines.get(), nullptr, 0);
        for (int f : grid_freqs)
            fill(lines.get(), eqvis_freq_column((float)f), 0, 1, d->height, grid_colour);
        SDL_BlitSurface(lines.get(), nullptr, s, nullptr);
    }
    const struct {
        int freq;
        const char *text;
    } labels[] = {{100, "100"}, {1000, "1k"}, {10000, "10k"}};
    for (const auto &l : labels)
        font_writea(s, 2, 29, 128, FONT_CENTRE, eqvis_freq_column((float)l.freq),
                    std::max(d->height - GEQ_LABEL_ROW - font_height(2, l.text) / 2, 1), l.text);
}

void draw_curve(eqvis_data *d)
{
    if (!create_eqvis_surface(d->scurve, d->height, "data->scurve"))
        return;
    SDL_Surface *s = d->scurve.get();
    // What is below the curve is the grid; the result is copied as it is.
    SDL_SetAlpha(s, 0, 255);
    if (d->sgrid)
        SDL_BlitSurface(d->sgrid.get(), nullptr, s, nullptr);
    else
        SDL_FillRect(s, nullptr, SDL_MapRGBA(s->format, 0, 0, 0, 255));
    if (SDL_LockSurface(s) == 0) {
        int prev = eqvis_db_row(eqvis_curve_at(d->curve, 0), d->height);
        for (int x = 1; x < SGUI_SCREEN_W; x++) {
            int y = eqvis_db_row(eqvis_curve_at(d->curve, x), d->height);
            line(s, x - 1, prev, x, y, curve_colour);
            prev = y;
        }
        blend_pixel(s, SGUI_SCREEN_W - 1, prev, curve_colour);
        SDL_UnlockSurface(s);
    }
    d->curve_stale = false;
}

// Composes grid and curve, the page's handles and their numbers.
void eqvis_draw(sgui_widget *w)
{
    eqvis_data *d = data_of(w);
    if (d == nullptr || !sgui_leaf_surface(w, w->view.w, w->view.h))
        return;
    SDL_Surface *dst = w->s.get();
    SDL_FillRect(dst, nullptr, 0);
    draw_grid(d);
    if (d->curve_stale || !d->scurve)
        draw_curve(d);
    if (d->scurve)
        SDL_BlitSurface(d->scurve.get(), nullptr, dst, nullptr);
    page &p = d->pages[d->mode];
    if (p.stale || !p.s)
        draw_page(d, d->mode);
    if (p.s)
        SDL_BlitSurface(p.s.get(), nullptr, dst, nullptr);
    for (int i = 0; i < p.count_handles; i++) {
        bool sel = i == p.selected;
        if (d->mode == EQVIS_GRAPHIC) {
            if (sel)
                draw_number(dst, i + 1, false, std::clamp(p.x[i], 8, SGUI_SCREEN_W - 9),
                            std::clamp(p.handles[i].gain >= 0 ? p.y[i] - 10 : p.y[i] + 10, 7, d->height - 8));
        } else {
            draw_number(dst, i + 1, sel && p.handles[i].enabled, p.x[i], p.y[i]);
        }
    }
    sgui_add_damage(w, 0, 0, INT_MAX, INT_MAX);
}

void changed(sgui_widget *w)
{
    sgui_invalidate(w);
}

void page_changed(sgui_widget *w, eqvis_data *d, int mode)
{
    d->pages[mode].stale = true;
    if (mode == d->mode)
        changed(w);
}

page *page_of(eqvis_data *d, int mode)
{
    if (d == nullptr || mode < 0 || mode >= EQVIS_MODES || d->pages[mode].count_handles == 0)
        return nullptr;
    return &d->pages[mode];
}

handle *handle_of(eqvis_data *d, int mode, int id)
{
    page *p = page_of(d, mode);
    return p != nullptr && id >= 0 && id < p->count_handles ? &p->handles[id] : nullptr;
}

int eqvis_key(sgui_widget *w, int keys, int)
{
    eqvis_data *d = data_of(w);
    int dir = (keys & SGUI_KEY_PAGE_PREV) ? -1 : (keys & SGUI_KEY_PAGE_NEXT) ? 1 : 0;
    if (d == nullptr || dir == 0)
        return keys;
    page &p = d->pages[d->mode];
    int next = std::clamp(p.selected + dir, 0, std::max(p.count_handles - 1, 0));
    if (next != p.selected) {
        eqvis_set_selection(w, d->mode, next);
        sgui_event_val(w, next, nullptr);
    }
    return keys & ~(SGUI_KEY_PAGE_PREV | SGUI_KEY_PAGE_NEXT);
}

// screen.txt: the page, the selected handle (as numbered on the screen),
// how many curves came, and the curve's level at the 1 kHz column.
const char *eqvis_describe(sgui_widget *w, char *text, size_t size)
{
    static constexpr const char *page_names[EQVIS_MODES] = {"GRAPHIC", "PEQ", "HPF", "SHELF"};
    eqvis_data *d = data_of(w);
    if (d != nullptr)
        snprintf(text, size, "page=%s sel=%d handles=%d curves=%d 1k=%.1f", page_names[d->mode],
                 d->pages[d->mode].selected + 1, d->pages[d->mode].count_handles, d->curves,
                 eqvis_curve_at(d->curve, eqvis_freq_column(1000.0f)));
    return "eqvis";
}

void eqvis_free(sgui_widget *w)
{
    delete data_of(w);
    w->data = nullptr;
}

}  // namespace

sgui_widget *eqvis(sgui_widget *par, int flags, int height, int has_geq, int peq_count)
{
    if (!(height > 0))
        assert_fail("eqvis", "height > 0");
    sgui_widget *w = sgui_widget_box(par, flags, SGUI_UNITS, (height * SGUI_UNITS + SGUI_SCREEN_H / 2) / SGUI_SCREEN_H,
                                     0, eqvis_draw);
    if (w == nullptr || !(w->par != nullptr))
        assert_fail("eqvis", "w->par != ((void *)0)");
    auto *d = new (std::nothrow) eqvis_data{};
    if (d == nullptr) {
        platform_log("eqvis: self->par == NULL\n");
        sgui_widget_free(w);
        return nullptr;
    }
    w->data = d;
    w->free_data = eqvis_free;
    w->key = eqvis_key;
    w->describe = eqvis_describe;
    w->keymask |= SGUI_KEY_PAGE_PREV | SGUI_KEY_PAGE_NEXT | SGUI_KEY_ENTER;
    d->widget = w;
    d->height = w->view.h;
    d->px_per_db = (float)d->height / EQVIS_DB_SPAN;
    d->half = d->height / 2;
    d->has_geq = has_geq != 0;
    const int counts[EQVIS_MODES] = {d->has_geq ? EQVIS_GEQ_BANDS : 0, std::clamp(peq_count, 1, MAX_HANDLES), 1, 2};
    for (int m = 0; m < EQVIS_MODES; m++) {
        d->pages[m].count_handles = counts[m];
        d->pages[m].stale = true;
        for (handle &h : d->pages[m].handles)
            h = {1000.0f, 0.0f, 1.0f, 1};
    }
    d->mode = d->has_geq ? EQVIS_GRAPHIC : EQVIS_PEQ;
    d->curve_stale = true;
    return w;
}

void eqvis_set_geq(sgui_widget *w, int band, float gain)
{
    eqvis_data *d = data_of(w);
    if (handle *h = handle_of(d, EQVIS_GRAPHIC, band)) {
        h->gain = gain;
        page_changed(w, d, EQVIS_GRAPHIC);
    }
}

void eqvis_set_peq(sgui_widget *w, int band, float freq, float gain, float q)
{
    eqvis_data *d = data_of(w);
    if (handle *h = handle_of(d, EQVIS_PEQ, band)) {
        h->freq = freq;
        h->gain = gain;
        h->q = q;
        page_changed(w, d, EQVIS_PEQ);
    }
}

void eqvis_set_shelf(sgui_widget *w, int index, float freq, float gain)
{
    eqvis_data *d = data_of(w);
    if (handle *h = handle_of(d, EQVIS_SHELF, index)) {
        h->freq = freq;
        h->gain = gain;
        page_changed(w, d, EQVIS_SHELF);
    }
}

void eqvis_set_hpf(sgui_widget *w, float freq)
{
    eqvis_data *d = data_of(w);
    if (handle *h = handle_of(d, EQVIS_HPF, 0)) {
        h->freq = freq;
        page_changed(w, d, EQVIS_HPF);
    }
}

void eqvis_set_enabled(sgui_widget *w, int mode, int id, int enabled)
{
    eqvis_data *d = data_of(w);
    handle *h = handle_of(d, mode, id);
    if (h != nullptr && h->enabled != (enabled != 0)) {
        h->enabled = enabled != 0;
        page_changed(w, d, mode);
    }
}

void eqvis_set_selection(sgui_widget *w, int mode, int id)
{
    eqvis_data *d = data_of(w);
    if (d == nullptr || mode < 0 || mode >= EQVIS_MODES)
        assert_fail("eqvis_set_selection", "(mode >= 0) && (mode < 4)");
    if (!(id >= 0 && id < d->pages[mode].count_handles))
        assert_fail("eqvis_set_selection", "id < data->pages[mode].count_handles");
    if (d->pages[mode].selected != id) {
        d->pages[mode].selected = id;
        page_changed(w, d, mode);
    }
}

int eqvis_selection(sgui_widget *w, int mode)
{
    eqvis_data *d = data_of(w);
    return d != nullptr && mode >= 0 && mode < EQVIS_MODES ? d->pages[mode].selected : -1;
}

void eqvis_set_mode(sgui_widget *w, int mode)
{
    eqvis_data *d = data_of(w);
    if (page_of(d, mode) == nullptr || d->mode == mode)
        return;
    d->mode = mode;
    changed(w);
}

int eqvis_get_mode(sgui_widget *w)
{
    eqvis_data *d = data_of(w);
    return d != nullptr ? d->mode : -1;
}

int eqvis_handle_count(sgui_widget *w, int mode)
{
    page *p = page_of(data_of(w), mode);
    return p != nullptr ? p->count_handles : 0;
}

void eqvis_set_curve(sgui_widget *w, const float *values, int count)
{
    eqvis_data *d = data_of(w);
    if (d == nullptr)
        return;
    count = std::clamp(count, 0, EQVIS_CURVE_POINTS);
    std::fill(std::copy(values, values + count, d->curve), d->curve + EQVIS_CURVE_POINTS, 0.0f);
    d->curves++;
    d->curve_stale = true;
    changed(w);
}

int eqvis_curve_count(sgui_widget *w)
{
    eqvis_data *d = data_of(w);
    return d != nullptr ? d->curves : 0;
}

float eqvis_freq(int unit)
{
    return freq_table()[(size_t)std::clamp(unit, 0, EQVIS_FREQ_UNITS - 1)];
}

int eqvis_freq_column(float freq)
{
    const auto &t = freq_table();
    if (std::isnan(freq))
        return 0;
    auto it = std::lower_bound(t.begin(), t.end(), freq);
    int unit = it == t.end() ? EQVIS_FREQ_UNITS - 1 : (int)(it - t.begin());
    return unit_column(unit);
}

int eqvis_geq_column(int band)
{
    return unit_column((band + 1) * 1043 - 372);
}

float eqvis_curve_at(const float *c, int column)
{
    float pos = (float)column * (EQVIS_CURVE_POINTS - 1) / SGUI_SCREEN_W;
    int i = std::clamp((int)pos, 0, EQVIS_CURVE_POINTS - 1);
    float t = pos - (float)i;
    auto at = [c](int k) { return c[std::clamp(k, 0, EQVIS_CURVE_POINTS - 1)]; };
    float p0 = at(i - 1), p1 = at(i), p2 = at(i + 1), p3 = at(i + 2);
    return 0.5f * (2 * p1 + (p2 - p0) * t + (2 * p0 - 5 * p1 + 4 * p2 - p3) * t * t +
                   (3 * p1 - p0 - 3 * p2 + p3) * t * t * t);
}

int eqvis_db_row(float db, int height)
{
    if (std::isnan(db))
        db = 0;
    float y = std::round((float)(height / 2) - db * ((float)height / EQVIS_DB_SPAN));
    return (int)std::clamp(y, 0.0f, (float)std::max(height - 1, 0));
}
