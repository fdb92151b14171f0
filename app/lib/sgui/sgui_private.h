// Inside the toolkit only: the global state that the widget tree (sgui.cpp),
// the layout (sgui_layout.cpp), drawing and damage (sgui_draw.cpp) and the
// page and screen slides (sgui_slide.cpp) share, and their helpers.
// Screens include sgui.h, never this.
#pragma once
#include <vector>

#include "sgui/sgui.h"

struct sgui_anim_rec {
    sgui_widget *w;
    int period;
    int counter;
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
    std::vector<sgui_anim_rec> anims;
    SDL_mutex *mutex;
};

extern sgui_state sgui_g;

// Widget tree (sgui.cpp).
void sgui_set_focus_flag(sgui_widget *w, int value);
// Marks w and the visible part of its subtree shown (calls on_show).
void sgui_show_tree(sgui_widget *w);
bool sgui_contains(const sgui_widget *top, const sgui_widget *w);
sgui_widget *sgui_topmost(sgui_widget *w);

// Drawing and damage (sgui_draw.cpp).
void sgui_set_full_damage(sgui_widget *w);
SDL_Surface *sgui_new_surface(int w, int h);
void sgui_blit_part(SDL_Surface *src, int sx, int sy, int w, int h, SDL_Surface *dst, int dx, int dy);

// Layout (sgui_layout.cpp): one child placed in its container's flow.
struct sgui_placed {
    sgui_widget *w;
    int x, y;  // in the container's surface, centring offsets included
};

// The result of a flow pass over a container's children.
struct sgui_flow {
    int count;           // placed children (not hidden), in sibling order
    int ext_w, ext_h;    // extent of the content
    sgui_widget *follow; // the child on the focus path, if any
    int follow_x, follow_y;  // its flow position (without centring offsets)
};

// Computes the centring offsets of flags 4 and 8 (once, while 0).
void sgui_layout_centre(sgui_widget *c);
// Places the visible children of c into placed (room for every child) and
// sets their absolute positions.
sgui_flow sgui_layout_flow(sgui_widget *c, sgui_placed *placed);
// Scrolls c's view so that the focused child stays visible.
void sgui_layout_scroll(sgui_widget *c, const sgui_flow &flow);

// Page and screen slides (sgui_slide.cpp).
constexpr int SGUI_SLIDE_FACTOR = 29491;  // 0.45 in 16.16
// The page of the root's strip that the view shows (or slides to).
sgui_widget *sgui_current_page();
// One step of a page slide: moves the root's view towards the page.
void sgui_page_slide_step();
// One frame of a popup sliding in over the background screen.
void sgui_slide_frame();
