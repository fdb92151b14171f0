// What the screen shows, as text: one line per visible widget, so that
// tests and people can read the panel without looking at pixels. With
// MIREL_ROOT set the panel writes it to DIR/tmp/screen.txt on SIGUSR2.
//
// Line: KIND X Y W H MARKS TEXT
//   KIND     the widget kind ("label", "spinner", "eqvis", ...)
//   X Y W H  the part of the widget on the screen, in pixels
//   MARKS    "*" focused, "s" selected (tab, radio item), "d" disabled,
//            "-" none of these
//   TEXT     its text or value (line ends written as "\n")
// Plain containers (layout only) are not listed. While a page or screen
// slides in, a line "slide 0 0 320 240 - page" (or "- screen") follows;
// the status overlay is the line "overlay X Y W H - TEXT".
#pragma once
#include <string>

#include "sgui/sgui.h"

std::string sgui_screen_text();
// Writes the text aside, then renames it into place. 0 on success.
int sgui_save_screen_text(const char *path);
