// The properties screens in the panel's own process: the command line of
// every control, the reports they follow, the label and the input
// assignment sub-screens, and the command buffer's limit.
#include <gtest/gtest.h>

#include <string>

#include "channel_screens.h"
#include "gui/channels.h"
#include "gui/chanprops.h"
#include "gui/inputmap_properties.h"
#include "gui/labeledit.h"
#include "gui/levels.h"
#include "gui/outputmap_properties.h"
#include "network.h"
#include "sgui/sgui_spinner.h"
#include "sgui/sgui_textedit.h"
#include "sgui/sgui_widget.h"
#include "app_test.h"
#include "platform.h"
#include "support/capture.h"
#include "support/process.h"

namespace {

class Properties : public ChannelScreens {
protected:
    inputmap_properties_widgets *open_bus(int bus)
    {
        inputmap_properties_open(bus);
        settle();
        return inputmap_properties_get();
    }
    // The line a turn of a control sends.
    std::string turned(sgui_widget *control, int steps)
    {
        turn_on(control, steps);
        return network_take_output();
    }
};

TEST_F(Properties, EveryBusControlSendsItsOwnLine)
{
    inputmap_properties_widgets *p = open_bus(2);
    EXPECT_STREQ(sgui_get_text(p->s.header), "IN 3 ");
    EXPECT_EQ(turned(p->gain, 1), "2,0,2,1.0\n");
    EXPECT_EQ(turned(p->polarity, 1), "3,0,2,1\n");
    EXPECT_EQ(turned(p->thres, -1), "4,0,2,-1.00\n");  // from 0 dBFS, shown as 20.2 dBu
    EXPECT_EQ(turned(p->knee, 1), "6,0,2,3\n");
    EXPECT_EQ(turned(p->attack, 1), "113,0,2,51.0\n");
    EXPECT_EQ(turned(p->release, 1), "114,0,2,90.0\n");
    EXPECT_EQ(turned(p->peak_release, 1), "115,0,2,1.0\n");
    EXPECT_EQ(turned(p->local, 1), "10,0,2,0\n");  // selection 1 is group 0
    EXPECT_EQ(turned(p->net, 2), "11,0,2,1\n");
    EXPECT_EQ(turned(p->local, -1), "10,0,2,-1\n");
    // Ratio: "∞" at the top is sent as 100000000, the step below it as 20.
    EXPECT_STREQ(sgui_spinner_get_text(p->ratio), "\u221E");
    EXPECT_EQ(turned(p->ratio, -1), "5,0,2,20\n");
    EXPECT_EQ(turned(p->ratio, 1), "5,0,2,100000000\n");
    // Overshoot: "OFF" at the top is sent as 256.
    EXPECT_STREQ(sgui_spinner_get_text(p->overshoot), "30.0");
    EXPECT_EQ(turned(p->overshoot, 1), "7,0,2,256.00\n");
    EXPECT_STREQ(sgui_spinner_get_text(p->overshoot), "OFF");
    EXPECT_EQ(turned(p->overshoot, -1), "7,0,2,30.00\n");
    // The local copy holds what was sent.
    channels_bus *b = channels_bus_get(2);
    EXPECT_FLOAT_EQ(b->gain, 1.0f);
    EXPECT_FLOAT_EQ(b->thres, -1.0f);
    EXPECT_FLOAT_EQ(b->ratio, 100000000.0f);
    EXPECT_EQ(b->group_local, -1);
    EXPECT_EQ(b->group_net, 1);
    // The delay only goes as far as the server's largest bus delay (0 ms).
    EXPECT_EQ(turned(p->delay, 1), "");
}

TEST_F(Properties, ThresholdsFollowTheLevelUnit)
{
    dispatch("4,5,1,-18.0\n");
    inputmap_properties_widgets *p = open_bus(1);
    EXPECT_STREQ(sgui_spinner_get_text(p->thres), "2.2");  // -18 dBFS in dBu
    EXPECT_STREQ(sgui_get_text(chanprops_caption_of(p->thres)), "THRESHOLD dBu");
    EXPECT_EQ(turned(p->thres, 1), "4,0,1,-17.00\n");
    // With dBFS the value goes as it is shown.
    levels_unit_set(3);
    EXPECT_STREQ(sgui_get_text(chanprops_caption_of(p->thres)), "THRESHOLD dBFS");
    EXPECT_STREQ(sgui_spinner_get_text(p->thres), "-17.0");
    EXPECT_EQ(turned(p->thres, -3), "4,0,1,-20.00\n");  // one line for a quick turn
    // dBGR shows thresholds in dBFS too; dBV has its own offset.
    levels_unit_set(4);
    EXPECT_STREQ(sgui_get_text(chanprops_caption_of(p->thres)), "THRESHOLD dBFS");
    levels_unit_set(2);
    EXPECT_STREQ(sgui_spinner_get_text(p->thres), "-2.0");
    EXPECT_EQ(turned(p->thres, 1), "4,0,1,-19.00\n");
    levels_unit_set(0);
}

TEST_F(Properties, ReportsOfTheBusShownShowOtherBusesDoNot)
{
    inputmap_properties_widgets *p = open_bus(0);
    dispatch("2,5,0,-7.5\n3,5,0,1\n5,5,0,4.0\n6,5,0,9.0\n7,5,0,256.0\n113,5,0,20.0\n10,5,0,3\n11,5,0,-1\n");
    EXPECT_STREQ(sgui_spinner_get_text(p->gain), "-7.5");
    EXPECT_STREQ(sgui_spinner_get_text(p->polarity), "REV");
    EXPECT_STREQ(sgui_spinner_get_text(p->ratio), "4");
    EXPECT_STREQ(sgui_spinner_get_text(p->knee), "9");
    EXPECT_STREQ(sgui_spinner_get_text(p->overshoot), "OFF");
    EXPECT_STREQ(sgui_spinner_get_text(p->attack), "20.0");
    EXPECT_STREQ(sgui_spinner_get_text(p->local), "4");
    EXPECT_STREQ(sgui_spinner_get_text(p->net), "\u2013");
    dispatch("2,5,1,-20.0\n9,5,0,VOX\n");
    EXPECT_STREQ(sgui_spinner_get_text(p->gain), "-7.5");
    EXPECT_STREQ(sgui_get_text(p->s.header), "IN 1 VOX");
    EXPECT_FLOAT_EQ(channels_bus_get(1)->gain, -20.0f);
    // The delay as the unit says: a distance with its time, or a time.
    dispatch("23,0,0,293.15,53.75,3.4\n60,0,0,1.70\n61,0,0,5.00\n");
    EXPECT_STREQ(sgui_get_text(p->delay_info), "1.7 meter (5.00 ms)");
    EXPECT_STREQ(sgui_spinner_get_text(p->delay), "1.7");
    dispatch("23,0,2,293.15,156.67,10.0\n60,0,0,5.00\n");
    EXPECT_STREQ(sgui_get_text(p->delay_info), "5.0 milliseconds");
    EXPECT_EQ(turned(p->delay, 1), "60,0,0,6.0\n");
}

TEST_F(Properties, LabelIsComposedCutToElevenCharactersAndSent)
{
    EXPECT_EQ(labeledit_compose("", "PA"), "PA");
    EXPECT_EQ(labeledit_compose("PA", "LEFT"), "PA LEFT");
    EXPECT_EQ(labeledit_compose("PA ", "LEFT"), "PA LEFT");
    EXPECT_EQ(labeledit_compose("PA LEFT", "UPPER"), "PA LEFT UPP");
    EXPECT_EQ(labeledit_compose("PA LEFT", "<CLEAR>"), "");
    EXPECT_EQ(labeledit_cut("\u00C4\u00D6\u00DC\u00E4\u00F6\u00FC\u00DF\u00C4\u00D6\u00DC\u00E4\u00F6"),
              "\u00C4\u00D6\u00DC\u00E4\u00F6\u00FC\u00DF\u00C4\u00D6\u00DC\u00E4");  // characters, not bytes

    dispatch("9,5,3,MONITOR%20WEDGE%20LEFT\n");
    inputmap_properties_widgets *p = open_bus(3);
    sgui_focus_set(p->label);
    key(SGUI_KEY_ENTER);
    settle();
    labeledit_screen *l = p->labels;
    ASSERT_EQ(sgui_root(), l->root);
    EXPECT_STREQ(sgui_get_text(l->header), "IN 4 MONITOR WEDGE LEFT");
    EXPECT_STREQ(sgui_textedit_get_text(l->edit), "MONITOR WED");  // a longer label is cut
    sgui_focus_set(l->words[0]);  // <CLEAR>
    key(SGUI_KEY_ENTER);
    EXPECT_EQ(network_take_output(), "9,0,3,\n");
    for (int w : {1, 2, 10}) {  // PA, LEFT, UPPER
        sgui_focus_set(l->words[w]);
        key(SGUI_KEY_ENTER);
    }
    EXPECT_EQ(network_take_output(), "9,0,3,PA\n9,0,3,PA%20LEFT\n9,0,3,PA%20LEFT%20UPP\n");
    EXPECT_STREQ(sgui_textedit_get_text(l->edit), "PA LEFT UPP");
    EXPECT_EQ(channels_bus_get(3)->label, "PA LEFT UPP");
    // Enter in the text edit sends what it holds.
    sgui_textedit_set_text(l->edit, "DRUMS");
    sgui_focus_set(l->edit);
    key(SGUI_KEY_ENTER);
    EXPECT_EQ(network_take_output(), "9,0,3,DRUMS\n");
    // The output groups' list has no PLAYER.
    EXPECT_EQ(l->word_count, 14);
    EXPECT_EQ(outputmap_properties_get()->labels->word_count, 13);
}

TEST_F(Properties, AssigningInputsSendsThePatch)
{
    dispatch("8,0,5,12\n");  // C and D
    inputmap_properties_widgets *p = open_bus(5);
    sgui_focus_set(p->assign);
    key(SGUI_KEY_ENTER);
    settle();
    ASSERT_EQ(sgui_root(), p->assign_root);
    EXPECT_EQ(sgui_checkbox_get_ticked(p->inputs[2]), 1);
    EXPECT_EQ(sgui_checkbox_get_ticked(p->inputs[3]), 1);
    turn_on(p->inputs[4], 1);  // DIGITAL 1
    EXPECT_EQ(network_take_output(), "8,0,5,28\n");
    sgui_focus_set(p->inputs[2]);
    key(SGUI_KEY_ENTER);  // toggles ANALOG C off
    EXPECT_EQ(network_take_output(), "8,0,5,24\n");
    // Another client's patch shows.
    dispatch("8,4,5,2049\n");
    EXPECT_EQ(sgui_checkbox_get_ticked(p->inputs[0]), 1);
    EXPECT_EQ(sgui_checkbox_get_ticked(p->inputs[11]), 1);
    EXPECT_EQ(sgui_checkbox_get_ticked(p->inputs[4]), 0);
}

TEST_F(Properties, EveryGroupControlSendsItsOwnLine)
{
    dispatch("32,0,0,0,2,3,4,5,6,7,2,2,0,0,0,0,0,0\n35,0,0,MAIN\n34,0,0,Top%20Box\n23,0,2,293.15,156.67,0.0\n");
    outputmap_properties_open(0);
    settle();
    outputmap_properties_widgets *p = outputmap_properties_get();
    EXPECT_STREQ(sgui_get_text(p->s.header), "OUT 1+2 MAIN");
    EXPECT_STREQ(sgui_get_text(p->loudspeaker_info), "Top Box");
    EXPECT_EQ(turned(p->input, 2), "42,0,0,2\n");
    EXPECT_EQ(turned(p->gain, -1), "38,0,0,-1.0\n");
    EXPECT_EQ(turned(p->polarity, 1), "39,0,0,1\n");
    EXPECT_EQ(turned(p->delay, 1), "43,0,0,1.0\n");
    EXPECT_EQ(turned(p->local, 4), "40,0,0,3\n");
    EXPECT_EQ(turned(p->net, 1), "41,0,0,0\n");
    channels_group *g = channels_group_get(0);
    EXPECT_EQ(g->input, 2);
    EXPECT_FLOAT_EQ(g->delay, 1.0f);
    // Another client's changes of the group show, of another group do not.
    dispatch("38,5,0,-12.0\n42,5,0,7\n38,5,2,3.0\n43,5,0,12.50\n50,0,0,12.50\n");
    EXPECT_STREQ(sgui_spinner_get_text(p->gain), "-12.0");
    EXPECT_STREQ(sgui_spinner_get_text(p->input), "8");
    EXPECT_STREQ(sgui_get_text(p->delay_info), "12.5 milliseconds");
    // The label goes to the group.
    sgui_focus_set(p->label);
    key(SGUI_KEY_ENTER);
    settle();
    sgui_focus_set(p->labels->words[1]);
    key(SGUI_KEY_ENTER);
    EXPECT_EQ(network_take_output(), "35,0,0,MAIN%20PA\n");
}

TEST_F(Properties, ACommandLongerThanTheBufferIsNotSent)
{
    FdCapture err(2);
    std::string text(CHANPROPS_CMD_BUF_SIZE, 'x');
    EXPECT_EQ(chanprops_send("inputmap_properties", "%d,%d,%d,%s\n", 9, 0, 0, text.c_str()), 0);
    EXPECT_EQ(network_take_output(), "");
    EXPECT_NE(err.text().find("inputmap_properties/event_value: strlen(cmd_buf)>CMD_BUF_SIZE"), std::string::npos);
    // One shorter than the buffer goes.
    text.resize(CHANPROPS_CMD_BUF_SIZE - 10);
    EXPECT_EQ(chanprops_send("inputmap_properties", "9,0,0,%s\n", text.c_str()), 1);
    EXPECT_EQ(network_take_output().size(), CHANPROPS_CMD_BUF_SIZE - 3);
}

}  // namespace

namespace {

// With a connection id of its own (from a fake server) the panel knows its echoes.
class PropertiesEcho : public Properties {
protected:
    void SetUp() override
    {
        setenv("MIREL_PORT", std::to_string(server.port()).c_str(), 1);
        platform_init();
        Properties::SetUp();
        sgui_unlock();
        ASSERT_EQ(network_start(), 0);
        ASSERT_TRUE(server.accept_client());
        ASSERT_TRUE(server.send("3\n"));
        ASSERT_TRUE(wait_until([] { return network_get_conn_id() == 3; }));
        network_stop();  // the id stays; the lines below are dispatched by hand
        sgui_lock();
    }
    void TearDown() override
    {
        Properties::TearDown();
        unsetenv("MIREL_PORT");
        platform_init();
    }
    FakeServer server;
};

TEST_F(PropertiesEcho, OwnEchoDoesNotTurnTheControlBack)
{
    inputmap_properties_widgets *p = open_bus(0);
    EXPECT_EQ(turned(p->gain, 1), "2,3,0,1.0\n");
    EXPECT_EQ(turned(p->gain, 1), "2,3,0,2.0\n");
    dispatch("2,3,0,1.0\n");  // late
    EXPECT_STREQ(sgui_spinner_get_text(p->gain), "2.0");
    EXPECT_EQ(turned(p->gain, 1), "2,3,0,3.0\n");
    dispatch("2,4,0,-6.0\n");  // another client's
    EXPECT_STREQ(sgui_spinner_get_text(p->gain), "-6.0");
}

}  // namespace
