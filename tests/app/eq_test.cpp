// The EQ editor in the panel's own process: its pages and controls, the
// command lines it queues, the reports it keeps, and its limits.
#include <gtest/gtest.h>

#include <cfloat>
#include <climits>
#include <cstring>

#include "app_test.h"
#include "gui/channels.h"
#include "gui/eq.h"
#include "gui/eqvis.h"
#include "gui/screen.h"
#include "network.h"
#include "platform.h"
#include "sgui/sgui_spinner.h"
#include "sgui/sgui_widget.h"
#include "support/process.h"

namespace {

class Eq : public testing::Test {
protected:
    void SetUp() override
    {
        app_test_reset();
        screen_reset();
        sgui_lock();
        sgui_set_connected(1);
        ASSERT_EQ(network_init(), 0);
        channels_init();
        dispatch("32,0,0,1,2,3,4,5,6,7,0,0,0,0,0,0,0,0\n");  // every output its own group
        // The first screen, as the main menu is in the program.
        menu = sgui_widget_container(nullptr, 0, -1, -1);
        sgui_widget_button(sgui_widget_container(menu, SGUI_HORIZONTAL, -1, -1), SGUI_VERTICAL, -1, -1, "MENU");
        sgui_set_root(menu);
        sgui_redraw(1);
        bus = eq_init(nullptr, 0, 1);
        out = eq_init(nullptr, 0, 0);
        network_take_output();
    }
    void TearDown() override
    {
        sgui_widget_free(bus);
        sgui_widget_free(out);
        sgui_widget_free(menu);
        sgui_unlock();
        app_test_reset();
        screen_reset();
    }
    static void dispatch(std::string lines) { network_dispatch(lines.data(), lines.size()); }
    static void turn(int steps) { sgui_deliver_keys(0, steps, 0); }
    static void key(int keys) { sgui_deliver_keys(keys, 0, 0); }
    // Focuses a control and turns the encoder.
    static void turn_on(sgui_widget *control, int steps)
    {
        sgui_focus_set(control);
        turn(steps);
    }
    // Moves to a page through the tab bar, as a user does.
    static void page(eq_editor *e, int mode)
    {
        sgui_focus_set(e->tabbar);
        for (int i = 0; i < 4 && e->mode != mode; i++)
            key(SGUI_KEY_PAGE_NEXT);
        for (int i = 0; i < 4 && e->mode != mode; i++)
            key(SGUI_KEY_PAGE_PREV);
        ASSERT_EQ(e->mode, mode);
    }
    sgui_widget *menu = nullptr, *bus = nullptr, *out = nullptr;
};

TEST_F(Eq, GraphicBandGainStepsOneDecibelPerDetent)
{
    ASSERT_EQ(eq_open(bus, 2), 1);
    eq_editor *e = eq_of(bus);
    EXPECT_EQ(sgui_focus(), e->controls.gain);
    EXPECT_STREQ(sgui_get_text(e->header), "IN 3 ");
    // The band: seventeen detents on FREQ give 1 kHz.
    turn_on(e->controls.freq, 17);
    EXPECT_STREQ(sgui_spinner_get_text(e->controls.freq), "1k");
    EXPECT_EQ(eqvis_selection(e->eqw, EQVIS_GRAPHIC), 17);
    EXPECT_EQ(network_take_output(), "");  // choosing a band sends nothing
    turn_on(e->controls.gain, 1);
    turn(1);
    turn(1);
    EXPECT_EQ(network_take_output(), "12,0,2,17,1.0\n12,0,2,17,2.0\n12,0,2,17,3.0\n");
    EXPECT_FLOAT_EQ(e->channels[2].geq[17], 3.0f);
    // A turn with Enter held switches to fine steps of a tenth; Enter ends them.
    sgui_deliver_keys(SGUI_KEY_ENTER, -1, 0);
    turn(-1);
    key(SGUI_KEY_ENTER);
    EXPECT_EQ(network_take_output(), "12,0,2,17,2.0\n12,0,2,17,1.9\n");
    EXPECT_FLOAT_EQ(e->channels[2].geq[17], 1.9f);  // as sent, not the spinner's fixed point
    // Down from -14.5 stops at the limit.
    dispatch("12,5,2,17,-14.5\n");
    turn(-3);
    EXPECT_EQ(network_take_output(), "12,0,2,17,-15.0\n");
}

TEST_F(Eq, ParametricBandCarriesAllFourFieldsAndFlatAllSendsEveryBand)
{
    eq_open(bus, 0);
    eq_editor *e = eq_of(bus);
    page(e, EQ_PEQ);
    // Band 2 through the curve display's keys (4 and 8 reach it from the controls).
    sgui_focus_set(e->controls.gain);
    key(SGUI_KEY_PAGE_NEXT);
    key(SGUI_KEY_PAGE_NEXT);
    EXPECT_EQ(e->band[EQ_PEQ], 2);
    EXPECT_STREQ(sgui_spinner_get_text(e->controls.freq), "800");
    turn(1);
    turn(1);
    EXPECT_EQ(network_take_output(), "16,0,0,2,800,1.0,1.0,0\n16,0,0,2,800,1.0,2.0,0\n");
    turn_on(e->controls.freq, 1);
    turn_on(e->controls.q, 1);
    EXPECT_EQ(network_take_output(), "16,0,0,2,810,1.0,2.0,0\n16,0,0,2,810,1.2,2.0,0\n");
    // ENABLED shows the inverse of the band's bypass.
    EXPECT_EQ(sgui_checkbox_get_ticked(e->controls.enabled), 1);
    turn_on(e->controls.enabled, -1);
    EXPECT_EQ(network_take_output(), "16,0,0,2,810,1.2,2.0,1\n");
    key(SGUI_KEY_ENTER);  // Enter toggles it back
    EXPECT_EQ(network_take_output(), "16,0,0,2,810,1.2,2.0,0\n");
    sgui_focus_set(e->controls.flat);
    key(SGUI_KEY_ENTER);
    EXPECT_EQ(network_take_output(), "16,0,0,0,50,1.0,0.0,0\n16,0,0,1,200,1.0,0.0,0\n16,0,0,2,810,1.2,0.0,0\n"
                                     "16,0,0,3,2500,1.0,0.0,0\n16,0,0,4,5000,1.0,0.0,0\n");
    EXPECT_STREQ(sgui_spinner_get_text(e->controls.gain), "0.0");
}

TEST_F(Eq, FlatAllOfTheGraphicPageAndThePageBypassFlags)
{
    eq_open(bus, 1);
    eq_editor *e = eq_of(bus);
    dispatch("12,0,1,3,4.0\n");
    sgui_focus_set(e->controls.flat);
    key(SGUI_KEY_ENTER);
    EXPECT_EQ(network_take_output(), "15,0,1\n");
    EXPECT_FLOAT_EQ(e->channels[1].geq[3], 0.0f);
    turn_on(e->controls.bypass, 1);
    EXPECT_EQ(network_take_output(), "14,0,1,4\n");
    page(e, EQ_HPF);
    turn_on(e->controls.bypass, 1);
    EXPECT_EQ(network_take_output(), "14,0,1,2052\n");
    // The flags word as reported sets the boxes of every page.
    dispatch("14,3,1,288\n");
    EXPECT_EQ(sgui_checkbox_get_ticked(e->controls.bypass), 0);
    page(e, EQ_SHELF);
    EXPECT_EQ(sgui_checkbox_get_ticked(e->controls.bypass), 1);
}

TEST_F(Eq, HighPassFrequencyAndKinds)
{
    eq_open(bus, 0);
    eq_editor *e = eq_of(bus);
    page(e, EQ_HPF);
    EXPECT_STREQ(sgui_spinner_get_text(e->controls.freq), "80");
    turn_on(e->controls.freq, 1);
    std::string want = "18,0,0,81,0,0\n";
    const char *names[] = {"BW24", "LR24", "BW12", "LR12"};
    sgui_focus_set(e->controls.type);
    for (int t = 1; t <= 4; t++) {
        turn(1);
        want += "18,0,0,81," + std::to_string(t) + ",0\n";
        EXPECT_STREQ(sgui_spinner_get_text(e->controls.type), names[t - 1]);
    }
    turn(1);  // no type beyond LR12
    EXPECT_EQ(network_take_output(), want);
    // A bus high-pass set higher by another client is shown as it is.
    dispatch("18,4,0,5000,2,0\n");
    EXPECT_STREQ(sgui_spinner_get_text(e->controls.freq), "5.0k");
    EXPECT_STREQ(sgui_spinner_get_text(e->controls.type), "LR24");
}

TEST_F(Eq, ShelvesHaveTheirOwnFrequencyRanges)
{
    eq_open(bus, 0);
    eq_editor *e = eq_of(bus);
    page(e, EQ_SHELF);
    EXPECT_STREQ(sgui_spinner_get_text(e->controls.freq), "100");
    turn_on(e->controls.freq, 200);
    EXPECT_STREQ(sgui_spinner_get_text(e->controls.freq), "500");  // the low shelf ends there
    sgui_focus_set(e->controls.gain);
    key(SGUI_KEY_PAGE_NEXT);  // the high shelf
    EXPECT_EQ(e->band[EQ_SHELF], 1);
    EXPECT_STREQ(sgui_spinner_get_text(e->controls.freq), "10.0k");
    turn_on(e->controls.freq, -100);
    EXPECT_STREQ(sgui_spinner_get_text(e->controls.freq), "1.0k");
    std::string sent = network_take_output();
    EXPECT_EQ(sent.substr(sent.rfind("17,")), "17,0,0,1,1000,0.0,0\n");
    sgui_focus_set(e->controls.flat);
    key(SGUI_KEY_ENTER);
    EXPECT_EQ(network_take_output(), "17,0,0,0,500,0.0,0\n17,0,0,1,1000,0.0,0\n");
}

TEST_F(Eq, ReportsOfAnotherChannelChangeItsRecordButNotTheScreen)
{
    eq_open(bus, 0);
    eq_editor *e = eq_of(bus);
    page(e, EQ_PEQ);
    int curves = eqvis_curve_count(e->eqw);
    dispatch("16,2,3,0,250,2.0,-5.0,1\n13,0,3,1.0,2.0,3.0\n");
    EXPECT_FLOAT_EQ(e->channels[3].peq[0].freq, 250.0f);
    EXPECT_EQ(e->channels[3].peq[0].bypass, 1);
    EXPECT_EQ(e->channels[3].curve_count, 3);
    EXPECT_EQ(eqvis_curve_count(e->eqw), curves);
    EXPECT_EQ(e->curve_changed, 0);
    EXPECT_STREQ(sgui_spinner_get_text(e->controls.freq), "50");
    // The shown channel: controls, handles and curve follow.
    dispatch("16,2,0,0,250,2.0,-5.0,1\n13,0,0,1.0,2.0,3.0\n");
    EXPECT_STREQ(sgui_spinner_get_text(e->controls.freq), "250");
    EXPECT_STREQ(sgui_spinner_get_text(e->controls.gain), "-5.0");
    EXPECT_EQ(sgui_checkbox_get_ticked(e->controls.enabled), 0);
    EXPECT_EQ(eqvis_curve_count(e->eqw), curves + 1);
    EXPECT_EQ(e->curve_changed, 1);
    // Output reports go to the output editor's records only.
    dispatch("45,2,0,0,99,1.0,1.0,0\n48,0,0,4.0\n");
    EXPECT_FLOAT_EQ(e->channels[0].peq[0].freq, 250.0f);
    EXPECT_FLOAT_EQ(eq_of(out)->channels[0].peq[0].freq, 99.0f);
    EXPECT_FLOAT_EQ(eq_of(out)->channels[0].curve[0], 4.0f);
}

TEST_F(Eq, BadChannelsAndBandsInReportsAreIgnored)
{
    eq_editor *e = eq_of(bus), *o = eq_of(out);
    eq_channel before[EQ_CHANNELS], before_out[EQ_CHANNELS];
    memcpy(before, e->channels, sizeof before);
    memcpy(before_out, o->channels, sizeof before_out);
    dispatch("16,0,8,0,250,2.0,-5.0,1\n16,0,-1,0,250,2.0,-5.0,1\n16,0,0,5,250,2.0,-5.0,1\n"
             "12,0,0,31,3.0\n12,0,9,1,3.0\n17,0,0,2,100,1.0,0\n18,0,12,100,1,0\n14,0,-3,4\n"
             "13,0,8,1.0,2.0\n13,0,-2,1.0\n124,0,9,1,2\n16,0,0\n");
    EXPECT_EQ(memcmp(before, e->channels, sizeof before), 0);
    // The output editor has four bands.
    dispatch("45,0,0,4,250,2.0,-5.0,1\n47,0,8,100,1,0\n");
    EXPECT_EQ(memcmp(before_out, o->channels, sizeof before_out), 0);
}

TEST_F(Eq, OutputEditorEditsTheGroupOfTheOutput)
{
    dispatch("35,0,0,MAIN\n32,0,0,0,1,2,3,4,5,6,0,0,0,0,0,0,0,0\n");
    ASSERT_EQ(eq_open(out, 1), 1);
    eq_editor *e = eq_of(out);
    EXPECT_EQ(e->group, 0);
    EXPECT_EQ(e->outputs[0], 0);
    EXPECT_EQ(e->outputs[1], 1);
    EXPECT_EQ(e->outputs[2], -1);
    EXPECT_STREQ(sgui_get_text(e->header), "OUT 1+2 MAIN");
    EXPECT_EQ(e->mode, EQ_PEQ);  // no graphic page on outputs
    EXPECT_EQ(e->tabs[EQ_GRAPHIC], nullptr);
    turn(1);
    EXPECT_EQ(network_take_output(), "45,0,0,0,50,1.0,1.0,0\n");
    sgui_focus_set(e->controls.flat);
    key(SGUI_KEY_ENTER);
    std::string flat = network_take_output();
    EXPECT_EQ(std::count(flat.begin(), flat.end(), '\n'), 4) << flat;
    page(e, EQ_HPF);
    turn_on(e->controls.freq, 1);
    EXPECT_EQ(network_take_output(), "47,0,0,81,0,0\n");
    turn_on(e->controls.freq, 2000);
    EXPECT_STREQ(sgui_spinner_get_text(e->controls.freq), "1.2k");  // outputs: 1200 Hz at most
    network_take_output();
    turn_on(e->controls.bypass, 1);
    EXPECT_EQ(network_take_output(), "49,0,0,2048\n");
    // The group map changes under the editor: output 1 becomes its own group 7.
    dispatch("32,0,0,7,2,3,4,5,6,1,0,0,0,0,0,0,0,0\n");
    EXPECT_EQ(e->group, 7);
    EXPECT_STREQ(sgui_get_text(e->header), "OUT 2 ");
}

TEST_F(Eq, BackKeyClosesTheEditor)
{
    ASSERT_EQ(eq_open(bus, 0), 1);
    for (int i = 0; i < 100 && sgui_screen_slide(); i++)
        sgui_redraw(0);
    EXPECT_EQ(sgui_root(), bus);
    key(SGUI_KEY_BACK);
    for (int i = 0; i < 100 && sgui_screen_slide(); i++)
        sgui_redraw(0);
    EXPECT_EQ(sgui_screen_slide(), 0);
    EXPECT_EQ(sgui_root(), menu);
    EXPECT_EQ(screen_depth(), 0);
}

TEST_F(Eq, LongestCommandStaysWellBelowTheBuffer)
{
    eq_editor *e = eq_of(bus);
    eq_open(bus, 7);
    eq_channel &c = e->channels[7];
    for (float &g : c.geq)
        g = -FLT_MAX;
    for (eq_peq_band &b : c.peq)
        b = {-FLT_MAX, -FLT_MAX, -FLT_MAX, INT_MIN};
    for (eq_shelf &s : c.shelf)
        s = {-FLT_MAX, -FLT_MAX, INT_MIN};
    c.hpf = {-FLT_MAX, INT_MIN, INT_MIN};
    c.flags = INT_MIN;
    int longest = 0;
    for (int kind : {EQ_SET_GEQ, EQ_SET_PEQ, EQ_SET_HPF, EQ_SET_SHELF, EQ_SET_FLAGS, EQ_SET_FLAT}) {
        int len = eq_format(e, kind, kind == EQ_SET_GEQ ? 30 : 1);
        EXPECT_EQ(len, (int)strlen(e->cmd_buf));
        longest = std::max(longest, len);
        send_eq_set(e, kind, kind == EQ_SET_GEQ ? 30 : 1);  // never the assertion
    }
    // The PEQ line: three floats of 40 to 42 characters and four ints.
    EXPECT_EQ(longest, eq_format(e, EQ_SET_PEQ, 1));
    EXPECT_LT(longest, 200);
    EXPECT_GT(longest, 130);
    EXPECT_EQ(network_take_output().size(), 0u + [&] {
        int sum = 0;
        for (int kind : {EQ_SET_GEQ, EQ_SET_PEQ, EQ_SET_HPF, EQ_SET_SHELF, EQ_SET_FLAGS, EQ_SET_FLAT})
            sum += eq_format(e, kind, kind == EQ_SET_GEQ ? 30 : 1);
        return sum;
    }());
}

TEST(EqDeathTest, ChannelEightIsAnAssertionNotAnOverrun)
{
    EXPECT_DEATH(
        {
            sgui_lock();
            network_init();
            sgui_widget *r = eq_init(nullptr, 0, 1);
            eq_set_ch(r, 8);
        },
        "\\(ch >= 0\\) && \\(ch < \\(8\\)\\)");
}

// Our own change coming back must not undo a newer turn; the same change
// copied to a linked bus must arrive there.
class EqEcho : public Eq {
protected:
    void SetUp() override
    {
        setenv("MIREL_PORT", std::to_string(server.port()).c_str(), 1);
        platform_init();
        Eq::SetUp();
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
        Eq::TearDown();
        unsetenv("MIREL_PORT");
        platform_init();
    }
    FakeServer server;
};

TEST_F(EqEcho, OwnEchoOfTheShownChannelIsNotAppliedLinkedCopiesAre)
{
    eq_open(bus, 0);
    eq_editor *e = eq_of(bus);
    turn(1);
    turn(1);
    EXPECT_EQ(network_take_output(), "12,3,0,0,1.0\n12,3,0,0,2.0\n");
    dispatch("12,3,0,0,1.0\n12,3,1,0,1.0\n");
    EXPECT_STREQ(sgui_spinner_get_text(e->controls.gain), "2.0");
    EXPECT_FLOAT_EQ(e->channels[0].geq[0], 2.0f);
    EXPECT_FLOAT_EQ(e->channels[1].geq[0], 1.0f);
    // Another client's change of the same band is taken.
    dispatch("12,4,0,0,-6.0\n");
    EXPECT_STREQ(sgui_spinner_get_text(e->controls.gain), "-6.0");
}

}  // namespace
