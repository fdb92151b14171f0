// Widget kinds: the spinner's texts and step rules, the text edit, check
// box, tabs, labels and the message box.
#include <gtest/gtest.h>

#include "app_test.h"
#include "sgui/sgui_msgbox.h"
#include "sgui/sgui_spinner.h"
#include "sgui/sgui_textedit.h"
#include "sgui/sgui_widget.h"

namespace {

struct value_event {
    int value;
    std::string text;
};
std::vector<value_event> values;

void record_value(sgui_widget *, int value, const char *text)
{
    values.push_back({value, text != nullptr ? text : "(none)"});
}

class Widgets : public testing::Test {
protected:
    void SetUp() override
    {
        app_test_reset();
        sgui_lock();
        root = sgui_widget_container(nullptr, 0, -1, -1);
        page = sgui_widget_container(root, SGUI_HORIZONTAL, -1, -1);
        page->event_val = record_value;
        values.clear();
    }
    void TearDown() override
    {
        sgui_unlock();
        app_test_reset();
    }
    sgui_widget *spinner(double min, double value, double max, int type, double step, int immediate = 1)
    {
        sgui_widget *s = sgui_widget_spinner(page, SGUI_VERTICAL, -1, -1, min, value, max, type, step, immediate);
        sgui_focus_set(s);
        return s;
    }
    static std::string turn(sgui_widget *s, int steps)
    {
        sgui_route_keys(0, steps);
        return sgui_spinner_get_text(s);
    }
    sgui_widget *root = nullptr, *page = nullptr;
};

TEST_F(Widgets, SpinnerInfinityAtTheMaximum)
{
    sgui_widget *s = spinner(1, 20, 20, SPINNER_INT_INF, 1);
    EXPECT_STREQ(sgui_spinner_get_text(s), "\u221E");
    EXPECT_EQ(turn(s, -1), "19");
    EXPECT_EQ(values.back().value, 19);
    EXPECT_EQ(turn(s, 1), "\u221E");
    // Down from the maximum gives maximum - 1 whatever the step size.
    sgui_widget *big = spinner(0, 1000, 1000, SPINNER_INT_INF, 100);
    EXPECT_EQ(turn(big, -1), "999");
}

TEST_F(Widgets, FrequencySpinnerSteps)
{
    sgui_widget *s = spinner(20, 99, 20000, SPINNER_FREQ, 1);
    EXPECT_EQ(turn(s, 1), "100");
    EXPECT_EQ(turn(s, 1), "105");
    sgui_spinner_set_value(s, 480);
    EXPECT_EQ(turn(s, 1), "485");
    sgui_spinner_set_value(s, 990);
    EXPECT_EQ(turn(s, 1), "1.0k");
    EXPECT_EQ(sgui_spinner_get_value(s), 1000);
    EXPECT_EQ(turn(s, 1), "1.1k");
    EXPECT_EQ(turn(s, -2), "990");
    EXPECT_EQ(turn(s, -1), "980");
    sgui_spinner_set_value(s, 100);
    EXPECT_EQ(turn(s, -1), "99");
    sgui_spinner_set_value(s, 487);
    EXPECT_EQ(turn(s, 1), "490");  // back onto the grid of 5
    sgui_spinner_set_value(s, 19990);
    EXPECT_EQ(turn(s, 5), "20.0k");  // stops at the maximum
    sgui_spinner_set_value(s, 21);
    EXPECT_EQ(turn(s, -5), "20");
}

TEST_F(Widgets, GainCrossingZeroStopsAtZero)
{
    sgui_widget *s = spinner(-60, 0.5, 20, SPINNER_FLOAT1, 1);  // steps of 1 dB
    EXPECT_EQ(turn(s, -1), "0.0");
    EXPECT_EQ(turn(s, -1), "-1.0");
    EXPECT_EQ(turn(s, 3), "0.0");
    EXPECT_EQ(turn(s, 3), "3.0");
    // Values just below zero are zero.
    sgui_spinner_set_value(s, -0.005);
    EXPECT_STREQ(sgui_spinner_get_text(s), "0.0");
    EXPECT_EQ(sgui_spinner_data_of(s)->val, 0);
}

TEST_F(Widgets, SpinnerTextsOfTheTypes)
{
    struct row {
        int type;
        double value, max;
        const char *text;
    };
    const row rows[] = {
        {SPINNER_OFF_MAX, 256, 256, "OFF"},  {SPINNER_OFF_MAX, 3.5, 256, "3.5"},
        {SPINNER_AUTO, 0, 10, "AUTO"},       {SPINNER_NETMODE, 3, 3, "STATIC"},
        {SPINNER_OUTPAIR, 2, 4, "3+4"},      {SPINNER_OUTPAIR, 0, 4, "LOOP"},
        {SPINNER_HPFTYPE, 0, 4, "\u2013"},   {SPINNER_GEQ, 17, 30, "1k"},
        {SPINNER_GEQ, 30, 30, "20k"},        {SPINNER_DELAYUNIT, 1, 2, "ft"},
        {SPINNER_RATIO, 21, 21, "\u221E"},   {SPINNER_POLARITY, 1, 1, "REV"},
        {SPINNER_DASH, 0, 5, "\u2013"},      {SPINNER_FLOAT2, 1.25, 5, "1.25"},
        {SPINNER_ETHSWITCHMODE, 2, 2, "AUDIO"}, {SPINNER_AVB, 0, 1, "AVB/ADAT"},
    };
    for (const row &r : rows) {
        sgui_widget *s = sgui_widget_spinner(page, SGUI_VERTICAL, -1, -1, 0, r.value, r.max, r.type, 1, 1);
        EXPECT_STREQ(sgui_spinner_get_text(s), r.text) << "type " << r.type;
    }
}

TEST_F(Widgets, TableSpinnersWalkTheirTables)
{
    sgui_widget *ratio = spinner(1, 4, 21, SPINNER_RATIO, 1);
    EXPECT_EQ(turn(ratio, 1), "8");
    EXPECT_EQ(turn(ratio, 10), "\u221E");
    EXPECT_EQ(turn(ratio, -1), "20");
    sgui_widget *knee = spinner(0, 6, 12, SPINNER_KNEE, 1);
    EXPECT_EQ(turn(knee, -5), "0");
    EXPECT_EQ(turn(knee, 1), "3");
}

TEST_F(Widgets, ReportedValueOutsideTheRangeIsHeldAtItsEnd)
{
    // A list spinner must never index past its list.
    sgui_widget *s = spinner(0, 0, 3, SPINNER_NETMODE, 1);
    sgui_spinner_set_value(s, 9);
    EXPECT_STREQ(sgui_spinner_get_text(s), "STATIC");
    sgui_spinner_set_value(s, -4);
    EXPECT_STREQ(sgui_spinner_get_text(s), "AUTO");
}

TEST_F(Widgets, NonImmediateSpinnerCommitsOnEnterAndGoesBackOnKey32)
{
    sgui_widget *s = spinner(0, 5, 10, SPINNER_INT_INF2, 1, 0);
    EXPECT_EQ(turn(s, 2), "7");
    EXPECT_TRUE(values.empty());  // not committed yet
    EXPECT_EQ(sgui_route_keys(SGUI_KEY_BACK, 0), 0);
    EXPECT_STREQ(sgui_spinner_get_text(s), "5");
    turn(s, 3);
    EXPECT_EQ(sgui_route_keys(SGUI_KEY_ENTER, 0), 0);
    ASSERT_EQ(values.size(), 1u);
    EXPECT_EQ(values[0].value, 8);
    EXPECT_EQ(values[0].text, "8");
    // Committed: key 32 is not the spinner's any more.
    EXPECT_EQ(sgui_route_keys(SGUI_KEY_BACK, 0), SGUI_KEY_BACK);
}

TEST_F(Widgets, EnterWithTurnIsCoarseAndItsReleaseIsSwallowed)
{
    sgui_widget *s = spinner(-100, 0, 100, 99, 1);  // plain "%d"
    EXPECT_EQ(sgui_route_keys(SGUI_KEY_ENTER, 1), 0);
    EXPECT_STREQ(sgui_spinner_get_text(s), "10");
    EXPECT_EQ(sgui_route_keys(SGUI_KEY_ENTER, 0), 0);  // the release after the turn
    EXPECT_EQ(sgui_spinner_data_of(s)->fine, 0);
}

TEST_F(Widgets, DisabledSpinnerPassesKeysOn)
{
    sgui_widget *s = spinner(0, 5, 10, 99, 1);
    sgui_set_enabled(s, 0);
    EXPECT_EQ(sgui_route_keys(SGUI_KEY_ENTER, 3), SGUI_KEY_ENTER);
    EXPECT_STREQ(sgui_spinner_get_text(s), "5");
}

TEST_F(Widgets, TextEditWithOnlyNumbersCyclesDigits)
{
    sgui_widget *e = sgui_widget_textedit(page, SGUI_VERTICAL, -1, -1, "0000", 4, 0);
    sgui_textedit_set_onlynumbers(e);
    sgui_focus_set(e);
    EXPECT_EQ(sgui_textedit_cursor(e), 3);  // the last allowed position
    sgui_route_keys(SGUI_KEY_PAGE_PREV, 0);
    sgui_route_keys(SGUI_KEY_PAGE_PREV, 0);
    sgui_route_keys(0, 1);
    EXPECT_STREQ(sgui_textedit_get_text(e), "0100");
    sgui_route_keys(0, 20);
    EXPECT_STREQ(sgui_textedit_get_text(e), "0900");  // stops at the last digit
    sgui_route_keys(0, -30);
    EXPECT_STREQ(sgui_textedit_get_text(e), "0000");
    // No space at the end of a number: moving right stays on the last digit.
    for (int i = 0; i < 5; i++)
        sgui_route_keys(SGUI_KEY_PAGE_NEXT, 0);
    EXPECT_EQ(sgui_textedit_cursor(e), 3);
    sgui_route_keys(0, 1);
    EXPECT_STREQ(sgui_textedit_get_text(e), "0001");
    EXPECT_EQ(sgui_route_keys(SGUI_KEY_ENTER, 0), 0);
    ASSERT_EQ(values.size(), 1u);
    EXPECT_EQ(values[0].text, "0001");
}

TEST_F(Widgets, TextEditAppendsASpaceAndWalksUtf8Characters)
{
    sgui_widget *e = sgui_widget_textedit(page, SGUI_VERTICAL, -1, -1, "Z", 11, 1);
    sgui_focus_set(e);
    EXPECT_EQ(sgui_textedit_cursor(e), 1);  // behind the text
    sgui_route_keys(SGUI_KEY_PAGE_PREV, 0);
    sgui_route_keys(0, 1);  // Z -> Ä
    EXPECT_STREQ(sgui_textedit_get_text(e), "\u00C4");
    ASSERT_EQ(values.size(), 1u);  // immediate: every change is reported
    sgui_route_keys(SGUI_KEY_PAGE_NEXT, 0);
    EXPECT_STREQ(sgui_textedit_get_text(e), "\u00C4 ");
    EXPECT_EQ(sgui_textedit_cursor(e), 1);
    sgui_route_keys(0, 1);
    EXPECT_STREQ(sgui_textedit_get_text(e), "\u00C4A");
    sgui_textedit_set_text(e, "ABCDEFGHIJKLMNOP");
    EXPECT_STREQ(sgui_textedit_get_text(e), "ABCDEFGHIJK");
}

TEST_F(Widgets, CheckboxFollowsTheEncoderAndReportsChanges)
{
    sgui_widget *c = sgui_widget_checkbox(page, SGUI_VERTICAL, -1, -1);
    sgui_focus_set(c);
    sgui_route_keys(0, 1);
    EXPECT_TRUE(sgui_checkbox_get_ticked(c));
    sgui_route_keys(0, 1);  // no change, no report
    sgui_route_keys(0, -1);
    EXPECT_FALSE(sgui_checkbox_get_ticked(c));
    EXPECT_EQ(sgui_route_keys(SGUI_KEY_ENTER, 0), 0);
    ASSERT_EQ(values.size(), 3u);
    EXPECT_EQ(values[0].value, 1);
    EXPECT_EQ(values[0].text, "1");
    EXPECT_EQ(values[1].value, 0);
    EXPECT_EQ(values[2].value, -1);
    EXPECT_EQ(values[2].text, "(none)");
}

TEST_F(Widgets, TabsSkipEmptyOnes)
{
    sgui_widget *bar = sgui_widget_container(page, SGUI_VERTICAL, SGUI_UNITS, SGUI_TAB_H);
    bar->event_val = record_value;
    sgui_widget *t[3];
    const char *names[] = {"EQ", "", "DYN"};
    for (int i = 0; i < 3; i++) {
        t[i] = sgui_widget_tab(bar, SGUI_HORIZONTAL, 10000, -1, names[i]);
        t[i]->user = 10 + i;
    }
    EXPECT_TRUE(bar->focusable);
    sgui_focus_set(bar);
    EXPECT_TRUE(sgui_tab_selected(t[0]));
    EXPECT_EQ(sgui_route_keys(SGUI_KEY_PAGE_NEXT, 0), 0);
    EXPECT_TRUE(sgui_tab_selected(t[2]));
    ASSERT_EQ(values.size(), 1u);
    EXPECT_EQ(values[0].value, 12);
    EXPECT_EQ(values[0].text, "DYN");
}

TEST_F(Widgets, LabelAlignmentFontAndScrolling)
{
    sgui_widget *centred = sgui_widget_label(page, SGUI_VERTICAL, -1, -1, "\x60TITLE", 0);
    EXPECT_STREQ(sgui_get_text(centred), "TITLE");
    auto *d = static_cast<sgui_label_data *>(centred->data);
    EXPECT_EQ(d->align, FONT_CENTRE);
    EXPECT_EQ(d->font, 0);
    EXPECT_EQ(static_cast<sgui_label_data *>(sgui_widget_label(page, 1, -1, 2424, "x", 0)->data)->font, 2);
    EXPECT_EQ(static_cast<sgui_label_data *>(sgui_widget_label(page, 1, -1, 3358, "x", 0)->data)->font, 4);
    EXPECT_EQ(static_cast<sgui_label_data *>(sgui_widget_label(page, 1, -1, 2000, "x", 0)->data)->font, 3);
    // A long focused label scrolls in a loop.
    sgui_widget *b = sgui_widget_button(page, SGUI_VERTICAL, 7450, -1, "A VERY LONG BUTTON TEXT");
    sgui_focus_set(b);
    sgui_redraw(1);
    ASSERT_GT(b->sw, b->view.w);
    for (int i = 0; i < 50; i++) {  // the pause at position 0
        sgui_anim_tick();
        sgui_redraw(0);
    }
    EXPECT_EQ(b->view.x, 0);
    int end = b->sw - b->view.w;
    for (int i = 0; i < end - 1; i++) {
        sgui_anim_tick();
        sgui_redraw(0);
    }
    EXPECT_EQ(b->view.x, end - 1);
    sgui_anim_tick();
    sgui_redraw(0);
    EXPECT_EQ(b->view.x, 0);
}

int box_answer = 99;
std::string box_entry;
void on_answer(int answer, void *)
{
    box_answer = answer;
    box_entry = sgui_message_box_entry();
}

TEST_F(Widgets, MessageBoxAnswersAndComesBack)
{
    sgui_widget *b = sgui_widget_button(page, SGUI_VERTICAL, -1, -1, "BEHIND");
    sgui_focus_set(b);
    sgui_redraw(1);
    box_answer = 99;
    ASSERT_EQ(sgui_message_box(SGUI_MSGBOX_YESNOCANCEL, "Do You really\nwant this?", on_answer, nullptr), 0);
    EXPECT_EQ(sgui_message_box(SGUI_MSGBOX_OK, "second", nullptr, nullptr), -1);
    EXPECT_NE(sgui_root(), root);
    EXPECT_STREQ(sgui_get_text(sgui_focus()), "YES");
    sgui_route_keys(SGUI_KEY_PAGE_NEXT, 0);  // to NO
    EXPECT_STREQ(sgui_get_text(sgui_focus()), "NO");
    sgui_deliver_keys(SGUI_KEY_ENTER, 0, 0);
    EXPECT_EQ(box_answer, -1);
    EXPECT_EQ(sgui_root(), root);
    EXPECT_EQ(sgui_focus(), b);
    EXPECT_FALSE(sgui_message_box_open());
    // Back (key 32) answers 0.
    sgui_message_box(SGUI_MSGBOX_OKCANCEL, "Sure?", on_answer, nullptr);
    sgui_deliver_keys(SGUI_KEY_BACK, 0, 0);
    EXPECT_EQ(box_answer, 0);
}

TEST_F(Widgets, MessageBoxCodeEntryAndKeyLock)
{
    sgui_redraw(1);
    sgui_set_keylock(1);
    ASSERT_EQ(sgui_message_box(SGUI_MSGBOX_OKCANCEL, "Code?\n$E,50,4,1,0000", on_answer, nullptr), 0);
    EXPECT_EQ(sgui_keylock(), 0);  // suspended while open
    sgui_widget *entry = sgui_focus();
    ASSERT_EQ(entry->kind, SGUI_KIND_TEXTEDIT);
    EXPECT_EQ(entry->view.w, 73);
    EXPECT_STREQ(sgui_textedit_get_text(entry), "0000");
    // Opened while locked: any key answers 0 and the lock comes back.
    sgui_deliver_keys(0, 1, 0);
    EXPECT_EQ(box_answer, 0);
    EXPECT_EQ(sgui_keylock(), 1);
    sgui_set_keylock(0);
    sgui_message_box(SGUI_MSGBOX_OKCANCEL, "$E,50,4,1,0000", on_answer, nullptr);
    sgui_deliver_keys(0, 7, 0);
    sgui_deliver_keys(SGUI_KEY_ENTER, 0, 0);
    EXPECT_EQ(box_answer, 1);
    EXPECT_EQ(box_entry, "0007");
}

TEST_F(Widgets, InfoBoxStaysUntilClosed)
{
    sgui_redraw(1);
    sgui_info_box(1, "Loading\nFIRMWARE UPDATE");
    EXPECT_NE(sgui_root(), root);
    sgui_info_box(1, "Still loading");
    EXPECT_NE(sgui_root(), root);
    sgui_info_box(1, nullptr);
    EXPECT_EQ(sgui_root(), root);
    sgui_notice("Key lock");
    EXPECT_EQ(sgui_root(), root);
}

}  // namespace
