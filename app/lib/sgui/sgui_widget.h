// sgui widget kinds: labels (and the icon, button and radio item built on
// them), tabs, boxes, separators, rectangles, scroll bars, check boxes, the
// animated image, the digital-input state and the network indicator. The
// spinner, the text edit and the message boxes have headers of their own.
//
// Sizes are in 1/32768 of the screen (SGUI_UNITS); -1 selects the kind's
// default. Setters and getters accept a caption container in place of the
// control: its first child's next sibling is used then.
#pragma once
#include <string>

#include "sgui/sgui.h"

enum sgui_kind {
    SGUI_KIND_CONTAINER = 0,
    SGUI_KIND_LABEL,
    SGUI_KIND_ICON,
    SGUI_KIND_BUTTON,
    SGUI_KIND_RADIO,
    SGUI_KIND_TAB,
    SGUI_KIND_SPINNER,
    SGUI_KIND_BOX,
    SGUI_KIND_SEPARATOR,
    SGUI_KIND_RECT,
    SGUI_KIND_SCROLLBAR,
    SGUI_KIND_CHECKBOX,
    SGUI_KIND_TEXTEDIT,
    SGUI_KIND_ANIMIMAGE,
    SGUI_KIND_DIGSTATE,
    SGUI_KIND_NETWORK,
};

constexpr int SGUI_LABEL_H = 3357;  // 25 pixels: one text row
constexpr int SGUI_TAB_H = 2611;

// Label kind data (labels, icons, buttons, radio items).
struct sgui_label_data {
    std::string text;
    int align;  // font_align
    int font;
    int normal_font;
    int boxed;
    int last_focused;
    int pause;  // ticks to wait at position 0 before scrolling
    int scrolling;
    int selected;  // radio items
};

// A text beginning with a grave accent is shown without it, centred.
sgui_widget *sgui_widget_label(sgui_widget *par, int flags, int w, int h, const char *text, int boxed);
// A pictogram (text of the symbol face); user is the screen's value.
sgui_widget *sgui_widget_icon(sgui_widget *par, int flags, int w, int h, const char *text, int user);
// Enter calls event_val (widget, 1, text).
sgui_widget *sgui_widget_button(sgui_widget *par, int flags, int w, int h, const char *text);
// Enter selects it and clears the selection of its siblings.
sgui_widget *sgui_widget_radio(sgui_widget *par, int flags, int w, int h, const char *text);
sgui_widget *sgui_widget_tab(sgui_widget *par, int flags, int w, int h, const char *text);
// A filled box, or one drawn by draw.
sgui_widget *sgui_widget_box(sgui_widget *par, int flags, int w, int h, int focusable, sgui_draw_fn draw);
sgui_widget *sgui_widget_separator(sgui_widget *par, int flags, int w, int h);
// colour: 0xRRGGBB, or -1, -2, -3 for the greys 121, 66 and 48.
sgui_widget *sgui_widget_rect(sgui_widget *par, int flags, int w, int h, int colour);
sgui_widget *sgui_widget_scrollbar(sgui_widget *par, int flags, int w, int h, int horizontal);
sgui_widget *sgui_widget_checkbox(sgui_widget *par, int flags, int w, int h);
sgui_widget *sgui_widget_animimage(sgui_widget *par, int flags);
sgui_widget *sgui_widget_digstate(sgui_widget *par, int flags, int w, int h);
sgui_widget *sgui_widget_network(sgui_widget *par, int flags, int w, int h);

// The control behind a caption container (see above).
sgui_widget *sgui_control(sgui_widget *w);

void sgui_set_text(sgui_widget *w, const char *text);
const char *sgui_get_text(sgui_widget *w);
void sgui_set_font(sgui_widget *w, int font);
void sgui_set_enabled(sgui_widget *w, int enabled);
int sgui_radio_selected(sgui_widget *w);
void sgui_radio_select(sgui_widget *w);
int sgui_tab_selected(sgui_widget *w);
// Selects a tab and clears the selection of the other tabs of its bar.
void sgui_tab_select(sgui_widget *w);
void sgui_scrollbar_set_target(sgui_widget *w, sgui_widget *target);
void sgui_checkbox_set_ticked(sgui_widget *w, int ticked);
int sgui_checkbox_get_ticked(sgui_widget *w);
void sgui_digstate_set_texts(sgui_widget *w, const char *first, const char *second);
void sgui_network_set_address(sgui_widget *w, const char *address, int state, int state2);
// The frame an animated image shows (0..11).
int sgui_animimage_frame(sgui_widget *w);

// The name of w's kind ("label", "spinner", ...; a screen's own kind gives
// its describe callback's) with what it shows in text: its text, value or
// state. For screen.txt.
const char *sgui_widget_describe(sgui_widget *w, char *text, size_t size);
