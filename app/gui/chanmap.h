// What the input bus map and the output map share: the frame of a map
// screen (title, eight rows, the bar of entries at the bottom), its mute
// boxes and small texts, the row that holds the focus (the channel whose
// properties, EQ and status the entries open) and the level unit entry.
#pragma once
#include <cstddef>

#include "gui/meter.h"
#include "sgui/sgui.h"

constexpr int CHANMAP_ROWS = 8;
constexpr int CHANMAP_TITLE_PX = 20;
constexpr int CHANMAP_ROW_PX = 24;
constexpr int CHANMAP_BAR_PX = SGUI_SCREEN_H - CHANMAP_TITLE_PX - CHANMAP_ROWS * CHANMAP_ROW_PX;
constexpr int CHANMAP_MUTE_PX = 22;
constexpr int CHANMAP_NUMBER_PX = 16;  // the channel's number
constexpr int CHANMAP_SMALL_FONT = 2;

// Widths and heights in pixels, as units: the fewest units that round to
// px (a label's face follows its height in units; 25 pixels stay face 0).
constexpr int chanmap_units(int px, int screen)
{
    return px <= 0 ? 0 : (px * SGUI_UNITS - SGUI_UNITS / 2 + screen - 1) / screen;
}
constexpr int chanmap_w(int px)
{
    return chanmap_units(px, SGUI_SCREEN_W);
}
constexpr int chanmap_h(int px)
{
    return chanmap_units(px, SGUI_SCREEN_H);
}
static_assert(chanmap_h(25) < 3358 && chanmap_h(25) * SGUI_SCREEN_H * 2 >= 49 * SGUI_UNITS, "25 rows in face 0");

struct chanmap_frame {
    sgui_widget *root, *page, *title;
    sgui_widget *rows[CHANMAP_ROWS];  // row containers; user: the row's index
    sgui_widget *props, *eq, *status, *unit;  // the entries at the bottom
    meter_map meters;
    int selected;  // row of the focus (the channel the entries open)
};

// Builds the frame: the screen's root (its data is the frame), the title,
// eight empty rows and the entries. on_value gets Enter on the rows'
// buttons and on the entries; the unit entry is handled here.
void chanmap_build(chanmap_frame *f, const char *title, sgui_value_fn on_value);
// The frame of a map screen's widget (nullptr elsewhere).
chanmap_frame *chanmap_of(sgui_widget *w);
// The map's screen is freed (its free_data calls this).
void chanmap_forget(chanmap_frame *f);

// A mute box in a row: a check box drawn as a red "M" while muted.
sgui_widget *chanmap_mute_box(sgui_widget *row, int flags);
// A group's mute box on the rows of an output group: a mute box on the
// group's first row (with a line down to the next row when the group goes
// on), and on the other rows only the line that joins them (not focusable).
void chanmap_group_box(sgui_widget *box, bool first, bool goes_on);
// The channel's number in a row (counted from 1).
sgui_widget *chanmap_number(sgui_widget *row, int index);
// A small text of px pixels in a row.
sgui_widget *chanmap_text(sgui_widget *row, int px, const char *text, int align);
// A button of px pixels in a row, in the small face (Enter opens the row).
sgui_widget *chanmap_button(sgui_widget *row, int px, const char *text);
// Links the focus through the rows' controls (each row's list in order,
// then the entries). rows_controls holds CHANMAP_ROWS x per_row widgets.
void chanmap_link_focus(chanmap_frame *f, sgui_widget *const *rows_controls, size_t per_row);
// The row a widget of the map lies in, -1 for none.
int chanmap_row_of(const chanmap_frame *f, const sgui_widget *w);
// The unit entry shows the level unit.
void chanmap_show_unit(chanmap_frame *f);
