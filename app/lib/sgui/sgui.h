// sgui: the panel's retained-mode widget toolkit on SDL 1.2 surfaces.
//
// Every screen is a tree of sgui_widget records. Each widget draws into a
// surface of its own; containers lay out their children in a flow, compose
// the children's changed rectangles into their own surface and scroll to
// keep the focused child visible. The root's surface is copied to the
// 320 x 240 screen only where something changed.
//
// Everything here runs with the sgui mutex held (sgui_lock), from the GUI
// thread or from the link thread's report listeners.
#pragma once
#include <SDL.h>
#include <climits>
#include <cstddef>
#include <cstdint>

#include "font.h"

constexpr int SGUI_SCREEN_W = 320;
constexpr int SGUI_SCREEN_H = 240;
constexpr int SGUI_MAX_DAMAGE = 5;
constexpr int SGUI_SCROLL_MARGIN = 12;
// Sizes are given in 1/32768 of the screen's width and height.
constexpr int SGUI_UNITS = 32768;

// Layout flags.
enum {
    SGUI_VERTICAL = 1,    // a row of its own
    SGUI_HORIZONTAL = 2,  // right of the previous widget
    SGUI_CENTRE_H = 4,    // container: centre the horizontal children
    SGUI_CENTRE_V = 8,    // container: centre the vertical children
    SGUI_NOSCROLL = 16,   // container: never scroll to follow the focus
};

// Key bits handed to key handlers.
enum {
    SGUI_KEY_PREV = 1,
    SGUI_KEY_NEXT = 2,
    SGUI_KEY_PAGE_PREV = 4,
    SGUI_KEY_PAGE_NEXT = 8,
    SGUI_KEY_ENTER = 16,
    SGUI_KEY_BACK = 32,
    SGUI_KEY_SCREEN = 64,
    SGUI_KEY_ALT = 128,
    SGUI_KEY_MUTE_ALL = 256,  // the device's combination 0x90
    SGUI_KEY_LOCK = 512,      // the device's combination 0x50
    SGUI_KEY_LOCKED = 1024,   // any key while the keys are locked
};

// Damage rectangle in surface coordinates; x2 and y2 are exclusive.
struct sgui_rect {
    int x1, y1, x2, y2;
};
constexpr sgui_rect SGUI_FULL_RECT = {0, 0, INT_MAX, INT_MAX};

struct sgui_view {
    int16_t x, y;
    uint16_t w, h;
};

struct sgui_widget;
using sgui_draw_fn = void (*)(sgui_widget *);
using sgui_key_fn = int (*)(sgui_widget *, int keys, int steps);
using sgui_free_fn = void (*)(sgui_widget *);
using sgui_surface_fn = SDL_Surface *(*)(sgui_widget *);
using sgui_focus_fn = void (*)(sgui_widget *, int focused);
using sgui_show_fn = void (*)(sgui_widget *);
using sgui_value_fn = void (*)(sgui_widget *, int value, const char *text);
using sgui_idle_fn = int (*)(sgui_widget *);
// A kind of the screens' own: its name and, in text, what it shows (screen.txt).
using sgui_describe_fn = const char *(*)(sgui_widget *, char *text, size_t size);

struct sgui_widget {
    sgui_widget *prev, *next, *par, *child;
    sgui_widget *focus_next, *focus_prev;  // explicit focus order, overrides siblings
    sgui_widget *post_draw;                // invalidated after the pass that composed this one
    int enabled;
    int focusable;
    int focused;  // on the focus path
    int keymask;  // keys wanted when keys bubble up
    int dirty;
    int flags;
    uint8_t colour[4];  // background: blue, green, red, alpha
    int shown;
    int hidden;
    int anim_due;
    sdl_surface_ptr s;
    void *data;  // kind data
    struct {
        uint16_t w, h;
    } size;
    int offx, offy;  // containers: centring offset of the children
    sgui_view view;
    int sw, sh;  // allocated surface size
    sgui_draw_fn draw;
    sgui_key_fn key;
    sgui_free_fn free_data;
    sgui_surface_fn make_surface;
    sgui_focus_fn on_focus;
    sgui_show_fn on_show;
    sgui_value_fn event_val;
    sgui_idle_fn idle;
    struct {
        int x1, y1, x2, y2;
    } abs;
    int user;
    int frozen;
    int redraw;  // bit 0: contents changed
    int childdirty;
    int ndamage;
    sgui_rect damage[SGUI_MAX_DAMAGE];
    int kind;  // which constructor made it (sgui_widget.h), 0 for plain containers
    sgui_describe_fn describe;
};

// Units -> pixels, rounded to the nearest pixel.
int sgui_units_w(int units);
int sgui_units_h(int units);

// Creation and destruction.
sgui_widget *widget_new(sgui_widget *par, int flags);
void widget_create_surface(sgui_widget *w);
// Sets size and view from units (-1: def_w / def_h); a root gets the screen.
void sgui_widget_set_size(sgui_widget *w, int width, int height, int def_w, int def_h);
void sgui_widget_free(sgui_widget *w);
void sgui_release_surfaces(sgui_widget *w);

// A plain container (no kind data): the screens' pages and rows.
sgui_widget *sgui_widget_container(sgui_widget *par, int flags, int w, int h);

// Invalidation.
void sgui_invalidate(sgui_widget *w);
void sgui_invalidate_tree(sgui_widget *w);
void sgui_invalidate_all(sgui_widget *w);
void sgui_set_redraw_root(sgui_widget *w);

void sgui_set_shown(sgui_widget *w, int shown);
void sgui_set_focused(sgui_widget *w, int value);
void sgui_set_hidden(sgui_widget *w, int hidden);

void draw_container(sgui_widget *c);
void sgui_redraw(int force);
void sgui_add_damage(sgui_widget *w, int x1, int y1, int x2, int y2);

sgui_widget *sgui_first_focusable(sgui_widget *w);
sgui_widget *sgui_first_focused(sgui_widget *w);

// Global state.
sgui_widget *sgui_root();
void sgui_set_root(sgui_widget *w);
sgui_widget *sgui_background();
sgui_widget *sgui_focus();
sgui_widget *sgui_keycapture();
void sgui_set_keycapture(sgui_widget *w);
// Makes w the focused widget: clears the old focus path, sets the new one.
void sgui_focus_set(sgui_widget *w);
int sgui_transition();      // page slide direction, 0 when none
int sgui_screen_slide();    // popup slide direction, 0 when none
SDL_Surface *sgui_screen();
void sgui_set_screen(SDL_Surface *s);
int sgui_widget_count();    // widgets alive (global list)
// Whether w is a live widget (handlers may free their own screen).
bool sgui_widget_alive(const sgui_widget *w);

// Page slide: direction -1 previous page, 1 next page. 0 when refused.
int sgui_page_move(int direction);
// Opens w's screen as the new root; mode 0 at once, 1 / -1 sliding in from
// the bottom / top over the current root. 0 when refused.
int sgui_popup(sgui_widget *w, int mode);
void sgui_replace(sgui_widget *old_w, sgui_widget *new_w);

// The status overlay: "CONNECTING..." while not connected, else the status
// text when there is one.
void sgui_set_connected(int connected);
int sgui_connected();
void sgui_set_status_text(const char *text);
const char *sgui_status_text();

// Animation list (scrolling labels, animated images).
void sgui_anim_add(sgui_widget *w, int period);
void sgui_anim_remove(sgui_widget *w);
void sgui_anim_tick();

// Makes sure a leaf has a surface of sw x sh (recreated when the size
// changed). False when there is none.
bool sgui_leaf_surface(sgui_widget *w, int sw, int sh);
// Fills a surface (or part of it) with an RGB colour.
void sgui_fill(SDL_Surface *s, const SDL_Rect *r, int red, int green, int blue);
// Fills the widget's surface with its background colour.
void sgui_fill_background(sgui_widget *w);

// The sgui mutex (recursive): guards the tree, the parsed report, the
// listener lists and the outgoing command text. A failing mutex is fatal.
void sgui_mutex_create();
void sgui_lock();
void sgui_unlock();

// Calls the widget's event_val, or the nearest ancestor's.
void sgui_event_val(sgui_widget *w, int value, const char *text);
