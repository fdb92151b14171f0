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
// How many screens lie below the current one.
int screen_depth();
// Forgets every opened screen (tests).
void screen_reset();

// An entry whose screen comes later says so.
constexpr const char *SCREEN_NOT_AVAILABLE = "Not available yet.";
void screen_not_available();
