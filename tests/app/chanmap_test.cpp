// The input bus map and the output map in the panel's own process: the
// meters and their redraw rule, the mutes, the output groups and the
// entries that open the other channel screens.
#include <gtest/gtest.h>

#include <string>

#include "app_test.h"
#include "channel_screens.h"
#include "gui/chanstatus.h"
#include "gui/eq.h"
#include "gui/inputmap.h"
#include "gui/inputmap_properties.h"
#include "gui/levels.h"
#include "gui/meter.h"
#include "gui/outputmap.h"
#include "gui/outputmap_properties.h"
#include "network.h"
#include "sgui/sgui_msgbox.h"
#include "sgui/sgui_widget.h"

namespace {

constexpr uint32_t BAR = (uint32_t)METER_BAR_R << 16 | METER_BAR_G << 8 | METER_BAR_B;

std::string describe(sgui_widget *w)
{
    char text[256];
    std::string kind = sgui_widget_describe(w, text, sizeof text);
    return kind + " " + text;
}

class Maps : public ChannelScreens {
protected:
    void open_inputs()
    {
        inputmap_open();
        settle();
        m = inputmap_get();
        ASSERT_EQ(sgui_root(), m->frame.root);
    }
    // A point in the middle row of a meter, dx pixels from its left end.
    uint32_t map_pixel(sgui_widget *meter, int dx)
    {
        return app_test_pixel(m->frame.root->s.get(), meter->abs.x1 + dx, meter->abs.y1 + meter->view.h / 2);
    }
    uint32_t shown_pixel(sgui_widget *meter, int dx)
    {
        return screen_pixel(meter->abs.x1 + dx, meter->abs.y1 + meter->view.h / 2);
    }
    inputmap_widgets *m = nullptr;
};

TEST_F(Maps, MeterDrawsIntoTheMapAndTheBandReachesTheScreenAfterTheBatch)
{
    ASSERT_NO_FATAL_FAILURE(open_inputs());
    sgui_widget *meter = m->rows[2].meter;
    int bar = meter_bar_for(-20.0f, 0.0f, meter->view.w);
    EXPECT_EQ(bar, meter->view.w * 2 / 3);  // 40 of the 60 dB
    EXPECT_NE(shown_pixel(meter, bar / 2), BAR);
    dispatch("31,2,-20.0,0.0\n");
    EXPECT_EQ(meter_bar(meter), bar);
    // In the map's surface at once, on the screen only after the batch; the
    // tree is not redrawn for it.
    EXPECT_EQ(map_pixel(meter, bar / 2), BAR);
    EXPECT_NE(shown_pixel(meter, bar / 2), BAR);
    EXPECT_EQ(m->frame.meters.top, meter->abs.y1);
    EXPECT_EQ(m->frame.meters.bottom, meter->abs.y1 + meter->view.h);
    EXPECT_FALSE(m->frame.root->dirty);
    inputmap_refresh_meters();
    EXPECT_EQ(shown_pixel(meter, 0), BAR);
    EXPECT_EQ(shown_pixel(meter, bar - 1), BAR);
    EXPECT_NE(shown_pixel(meter, bar + 1), BAR);
    EXPECT_NE(shown_pixel(m->rows[3].meter, bar / 2), BAR);
    EXPECT_EQ(m->frame.meters.top, SGUI_SCREEN_H);  // the band starts again
    EXPECT_EQ(m->frame.meters.bottom, 0);
    // Quieter, and two meters in one batch: one band over both.
    dispatch("31,2,-50.0,0.0\n31,5,0.0,0.0\n");
    EXPECT_EQ(m->frame.meters.top, meter->abs.y1);
    EXPECT_EQ(m->frame.meters.bottom, m->rows[5].meter->abs.y1 + m->rows[5].meter->view.h);
    inputmap_refresh_meters();
    EXPECT_NE(shown_pixel(meter, bar / 2), BAR);
    EXPECT_EQ(shown_pixel(m->rows[5].meter, m->rows[5].meter->view.w - 1), BAR);
    // A full redraw of the tree draws the same bars.
    sgui_redraw(1);
    EXPECT_NE(shown_pixel(meter, bar / 2), BAR);
    EXPECT_EQ(shown_pixel(m->rows[5].meter, m->rows[5].meter->view.w - 1), BAR);
    EXPECT_EQ(describe(meter), "meter -29.8 dBu bar=" + std::to_string(meter_bar_for(-50.0f, 0, meter->view.w)));
}

TEST_F(Maps, MeterWaitsForTheNormalRedrawWhileAPopupOrASlideRuns)
{
    ASSERT_NO_FATAL_FAILURE(open_inputs());
    sgui_widget *meter = m->rows[0].meter;
    int bar = meter_bar_for(-10.0f, 0.0f, meter->view.w);
    ASSERT_EQ(sgui_message_box(SGUI_MSGBOX_OK, "HELLO", nullptr, nullptr), 0);
    dispatch("31,0,-10.0,0.0\n");
    EXPECT_TRUE(meter->dirty);  // for the tree to draw later
    EXPECT_EQ(m->frame.meters.bottom, 0);
    inputmap_refresh_meters();
    EXPECT_NE(shown_pixel(meter, bar / 2), BAR);  // the box covers it
    key(SGUI_KEY_ENTER);                          // OK
    settle();
    EXPECT_EQ(sgui_root(), m->frame.root);
    EXPECT_EQ(shown_pixel(meter, bar / 2), BAR);
    // While the properties slide in over it the map is redrawn the normal way.
    inputmap_properties_open(0);
    ASSERT_NE(sgui_screen_slide(), 0);
    dispatch("31,0,-60.0,0.0\n");
    EXPECT_EQ(m->frame.meters.bottom, 0);
    key(SGUI_KEY_BACK);  // refused while sliding: the slide goes on
    settle();
    key(SGUI_KEY_BACK);
    settle();
    EXPECT_EQ(sgui_root(), m->frame.root);
    EXPECT_NE(shown_pixel(meter, bar / 2), BAR);
}

TEST_F(Maps, TheLevelUnitChangesTheTextsAndDbgrShowsTheGainReduction)
{
    ASSERT_NO_FATAL_FAILURE(open_inputs());
    sgui_widget *meter = m->rows[1].meter;
    dispatch("31,1,-20.0,-6.0\n");
    EXPECT_EQ(describe(meter), "meter 0.2 dBu bar=" + std::to_string(meter->view.w * 2 / 3));
    const char *units[] = {"dBm", "dBV", "dBFS", "dBGR", "dBu"};
    const char *texts[] = {"meter 0.2 dBm", "meter -2.0 dBV", "meter -20.0 dBFS", "meter -6.0 dBGR", "meter 0.2 dBu"};
    for (int i = 0; i < 5; i++) {
        sgui_focus_set(m->frame.unit);
        key(SGUI_KEY_ENTER);
        settle();
        EXPECT_STREQ(sgui_get_text(m->frame.unit), units[i]);
        EXPECT_EQ(describe(meter).rfind(texts[i], 0), 0u) << describe(meter);
        if (i == 3) {
            // Six of the 24 dB of gain reduction.
            EXPECT_EQ(meter_bar(meter), meter->view.w / 4);
            EXPECT_EQ(shown_pixel(meter, meter->view.w / 4 - 1), BAR);
            EXPECT_NE(shown_pixel(meter, meter->view.w / 4 + 1), BAR);
        }
    }
    // The output map shows the same unit.
    EXPECT_STREQ(sgui_get_text(outputmap_get()->frame.unit), "dBu");
}

TEST_F(Maps, MuteBoxesSendTheirLinesAndFollowTheReports)
{
    ASSERT_NO_FATAL_FAILURE(open_inputs());
    sgui_widget *mute = m->rows[3].mute;
    turn_on(mute, 1);
    EXPECT_EQ(network_take_output(), "1,0,3,1\n");
    EXPECT_EQ(describe(mute), "mute 1");
    EXPECT_EQ(m->frame.selected, 3);  // the focus selects the bus
    key(SGUI_KEY_ENTER);              // toggles
    EXPECT_EQ(network_take_output(), "1,0,3,0\n");
    dispatch("1,5,3,1\n1,5,4,1\n");  // another client mutes two
    EXPECT_EQ(describe(mute), "mute 1");
    EXPECT_EQ(describe(m->rows[4].mute), "mute 1");
    EXPECT_EQ(network_take_output(), "");

    // Outputs: each its own mute, and the group's mute for all its outputs.
    dispatch("32,0,0,0,1,2,3,4,5,6,0,0,0,0,0,0,0,0\n44,0,0,1\n44,0,1,0\n");
    outputmap_open();
    settle();
    outputmap_widgets *o = outputmap_get();
    EXPECT_EQ(describe(o->rows[0].group_mute), "mute 0");  // not all of the group muted
    turn_on(o->rows[1].mute, 1);
    EXPECT_EQ(network_take_output(), "44,0,1,1\n");
    EXPECT_EQ(describe(o->rows[0].group_mute), "mute 1");
    turn_on(o->rows[0].group_mute, -1);
    EXPECT_EQ(network_take_output(), "37,0,0,0\n");
    EXPECT_EQ(describe(o->rows[0].mute), "mute 0");
    EXPECT_EQ(describe(o->rows[1].mute), "mute 0");
    dispatch("44,0,2,1\n");
    EXPECT_EQ(describe(o->rows[2].mute), "mute 1");
}

TEST_F(Maps, OutputGroupsShowAsJoinedRowsOnBothMaps)
{
    // A two-way loudspeaker on outputs 0 and 1 (group 0), played from bus 0;
    // group 2 plays bus 1.
    dispatch("32,0,0,0,2,3,4,5,6,7,2,2,0,0,0,0,0,0\n33,0,0,1,3,-1,-1,-1,-1,-1,-1\n34,0,0,Top%20Box\n"
             "35,0,0,MAIN\n42,0,0,0\n42,0,2,1\n");
    ASSERT_NO_FATAL_FAILURE(open_inputs());
    EXPECT_EQ(describe(m->rows[0].route), "route 1+2 4 5 6 7 8");
    EXPECT_EQ(describe(m->rows[1].route), "route 3");
    EXPECT_EQ(describe(m->rows[2].route), "route -");
    outputmap_open();
    settle();
    outputmap_widgets *o = outputmap_get();
    EXPECT_STREQ(sgui_get_text(o->rows[0].name), "HIGH");
    EXPECT_STREQ(sgui_get_text(o->rows[1].name), "LOW");
    EXPECT_STREQ(sgui_get_text(o->rows[2].name), "OUT");  // full range
    EXPECT_STREQ(sgui_get_text(o->rows[0].group), "MAIN");
    EXPECT_STREQ(sgui_get_text(o->rows[1].group), "Top Box");
    EXPECT_STREQ(sgui_get_text(o->rows[0].input), "IN1");
    EXPECT_STREQ(sgui_get_text(o->rows[1].input), "");
    EXPECT_STREQ(sgui_get_text(o->rows[2].input), "IN2");
    EXPECT_EQ(describe(o->rows[0].group_mute).rfind("mute", 0), 0u);
    EXPECT_EQ(describe(o->rows[1].group_mute).rfind("join", 0), 0u);
    // The joined row's box is left out of the focus order.
    sgui_focus_set(o->rows[1].name);
    key(SGUI_KEY_NEXT);
    EXPECT_EQ(sgui_focus(), o->rows[2].mute);
    // Back to single outputs: every row has its group's box again.
    dispatch("32,0,0,1,2,3,4,5,6,7,0,0,0,0,0,0,0,0\n33,0,1,-1,0,-1,-1,-1,-1,-1,-1\n");
    EXPECT_EQ(describe(o->rows[1].group_mute).rfind("mute", 0), 0u);
    EXPECT_STREQ(sgui_get_text(o->rows[1].name), "OUT");
}

TEST_F(Maps, EntriesOpenTheScreensOfTheSelectedChannel)
{
    ASSERT_NO_FATAL_FAILURE(open_inputs());
    sgui_focus_set(m->rows[4].name);
    sgui_focus_set(m->frame.props);
    key(SGUI_KEY_ENTER);
    settle();
    EXPECT_EQ(sgui_root(), inputmap_properties_get()->s.root);
    EXPECT_EQ(inputmap_properties_get()->bus, 4);
    key(SGUI_KEY_BACK);
    settle();
    sgui_focus_set(m->frame.eq);
    key(SGUI_KEY_ENTER);
    settle();
    EXPECT_EQ(sgui_root(), bus_eq);
    EXPECT_EQ(eq_of(bus_eq)->bus, 4);
    key(SGUI_KEY_BACK);
    settle();
    sgui_focus_set(m->frame.status);
    key(SGUI_KEY_ENTER);
    settle();
    EXPECT_EQ(sgui_root(), chanstatus_get()->root);
    key(SGUI_KEY_BACK);
    settle();
    // Enter on a row's name opens that row's properties.
    sgui_focus_set(m->rows[6].name);
    key(SGUI_KEY_ENTER);
    settle();
    EXPECT_EQ(inputmap_properties_get()->bus, 6);
    // On the output map the group of the output.
    dispatch("32,0,0,0,2,3,4,5,6,7,0,0,0,0,0,0,0,0\n");
    key(SGUI_KEY_BACK);
    settle();
    key(SGUI_KEY_BACK);
    settle();
    outputmap_open();
    settle();
    outputmap_widgets *o = outputmap_get();
    sgui_focus_set(o->rows[1].name);
    key(SGUI_KEY_ENTER);
    settle();
    EXPECT_EQ(sgui_root(), outputmap_properties_get()->s.root);
    EXPECT_EQ(outputmap_properties_get()->group, 0);
    EXPECT_STREQ(sgui_get_text(outputmap_properties_get()->s.header), "OUT 1+2 ");
}

TEST_F(Maps, ChannelStatusShowsEveryLevelInTheUnit)
{
    dispatch("31,3,-12.5,-3.0\n30,7,-60.0,0.0\n29,0,258\n62,0,1\n");
    chanstatus_open();
    settle();
    chanstatus_widgets *s = chanstatus_get();
    chanstatus_show_levels();
    EXPECT_STREQ(sgui_get_text(s->bus_level[3]), "7.7");
    EXPECT_STREQ(sgui_get_text(s->bus_gr[3]), "-3.0");
    EXPECT_STREQ(sgui_get_text(s->out_level[7]), "-39.8");
    EXPECT_STREQ(sgui_get_text(s->out_level[0]), "-inf");  // silent
    EXPECT_STREQ(sgui_get_text(s->unit), "dBu");
    EXPECT_STREQ(sgui_get_text(s->load_mute), "PROJECT LOAD = MUTE   OFF");
    dispatch("62,0,0\n");
    EXPECT_STREQ(sgui_get_text(s->load_mute), "PROJECT LOAD = MUTE   ON");
    levels_unit_set(3);
    EXPECT_STREQ(sgui_get_text(s->unit), "dBFS");
    EXPECT_STREQ(sgui_get_text(s->bus_level[3]), "-12.5");
    levels_unit_set(0);
}

}  // namespace
