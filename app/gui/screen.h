// Moving between the panel's screens: a screen opened from another slides
// in from the bottom, and going back slides the one below in from the top.
// The screens are built once and kept (their listeners stay registered).
#pragma once
#include "sgui/sgui.h"

// Opens the screen whose root is root over the current one. 0 when refused
// (a slide is running).
int screen_open(sgui_widget *root);
// Goes back to the screen the current one was opened from. 0 when there is
// none or a slide is running.
int screen_back();
// The screen on top (the root of sgui once no popup is open).
sgui_widget *screen_current();
// The key handler of a screen that only goes back: the key lock, and the
// back key returns to the screen below. Returns the keys it did not use.
int screen_back_key(sgui_widget *root, int keys, int steps);
// How many screens lie below the current one.
int screen_depth();
// Forgets every opened screen (tests).
void screen_reset();

// A screen of its own: a root that goes back with the back key and a page
// under a grey title bar (title_px high). page gets the page, whose
// event_val is on_value.
sgui_widget *screen_new_page(const char *title, int title_px, sgui_value_fn on_value, sgui_widget **page);
// A row of the page: the caption (small face, caption_px wide) and room
// right of it for the control, which the caller adds to the returned row.
sgui_widget *screen_caption_row(sgui_widget *page, const char *caption, int row_px, int caption_px);

// An entry whose screen comes later says so.
constexpr const char *SCREEN_NOT_AVAILABLE = "Not available yet.";
void screen_not_available();
