// The level meters of the channel maps.
//
// 40 times a second every channel's level line arrives; redrawing the map
// through the widget tree each time would cost the encoder its share of
// the GUI thread. So a meter's level listener draws the new bar straight
// into its map's surface and widens the map's band of changed pixel rows;
// after each batch of reports meter_map_refresh copies that band at full
// width from the map's surface to the screen, when the map is the screen
// shown and no slide or popup runs, and otherwise marks the map for a
// normal redraw. The meter widget itself draws the same bar whenever the
// tree redraws it, so both ways show the same picture.
#pragma once
#include <vector>

#include "sgui/sgui.h"

constexpr float METER_FLOOR_DB = -60.0f;   // dBFS at the left end of a level bar
constexpr float METER_GR_RANGE_DB = 24.0f;  // gain reduction at the right end
constexpr int METER_BAR_R = 206, METER_BAR_G = 110, METER_BAR_B = 21;

// A map screen's meters and its band of changed rows (root surface
// coordinates; empty while top >= bottom).
struct meter_map {
    sgui_widget *root = nullptr;
    int top = SGUI_SCREEN_H, bottom = 0;
    std::vector<sgui_widget *> meters;
};

// A meter in par (its own kind of box) on the map whose root is map->root.
sgui_widget *meter_new(meter_map *map, sgui_widget *par, int flags, int w, int h);
// A level line for the meter: level in dBFS, gain reduction in dB.
void meter_set(sgui_widget *meter, float level, float gr);
// The bar's length in pixels as the meter last drew it.
int meter_bar(sgui_widget *meter);
// The bar length for a level (or, with the unit dBGR, the gain reduction)
// in a meter w pixels wide.
int meter_bar_for(float level, float gr, int w);
// After each batch of reports: the redraw rule above.
void meter_map_refresh(meter_map *map);
// The bars mean something else now (the unit changed): all are redrawn.
void meter_map_invalidate(meter_map *map);
