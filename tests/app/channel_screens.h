// The channel screens in the test's own process: the maps, the properties
// screens, the loudspeaker selection and the channel status page built as
// mirelapp builds them, reports dispatched by hand, keys delivered to the
// widgets and the queued command lines taken.
#pragma once
#include <gtest/gtest.h>

#include <string>

#include "sgui/sgui.h"

class ChannelScreens : public testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    static void dispatch(std::string lines);
    static void turn(int steps);
    static void key(int keys);
    // Focuses a control and turns the encoder.
    static void turn_on(sgui_widget *control, int steps);
    // Redraws until no slide runs: the screen opened is the one shown.
    static void settle();
    // The colour of a screen pixel as 0xRRGGBB.
    static uint32_t screen_pixel(int x, int y);

    sgui_widget *menu = nullptr, *bus_eq = nullptr, *out_eq = nullptr;
};
