// screen.txt: what the screen shows as text, widget by widget.
#include <gtest/gtest.h>

#include <csignal>
#include <fstream>
#include <sstream>
#include <vector>

#include "app_test.h"
#include "platform.h"
#include "sgui/sgui_screentext.h"
#include "sgui/sgui_spinner.h"
#include "sgui/sgui_widget.h"
#include "support/process.h"

namespace {

std::vector<std::string> lines_of(const std::string &text)
{
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string l; std::getline(in, l);)
        lines.push_back(l);
    return lines;
}

class ScreenText : public testing::Test {
protected:
    void SetUp() override
    {
        app_test_reset();
        sgui_lock();
        sgui_set_connected(1);
        root = app_test_pages(2, 0, false);
        page = root->child;
    }
    void TearDown() override
    {
        sgui_unlock();
        app_test_reset();
    }
    sgui_widget *root = nullptr, *page = nullptr;
};

TEST_F(ScreenText, OneLinePerVisibleWidgetWithPlaceMarksAndText)
{
    sgui_widget_label(page, SGUI_VERTICAL, -1, -1, "TITLE\nTWO", 1);
    sgui_widget *row = sgui_widget_container(page, SGUI_VERTICAL, -1, SGUI_LABEL_H);
    sgui_widget *sp = sgui_widget_spinner(row, SGUI_HORIZONTAL, -1, -1, -15, 3, 15, SPINNER_FLOAT1, 0.1, 1);
    sgui_widget *box = sgui_widget_checkbox(row, SGUI_HORIZONTAL, -1, -1);
    sgui_widget *bar = sgui_widget_container(page, SGUI_VERTICAL, -1, SGUI_TAB_H);
    sgui_widget_tab(bar, SGUI_HORIZONTAL, SGUI_UNITS / 2, -1, "ONE");
    sgui_widget_tab(bar, SGUI_HORIZONTAL, SGUI_UNITS / 2, -1, "TWO");
    sgui_set_hidden(sgui_widget_label(page, SGUI_VERTICAL, -1, -1, "HIDDEN", 0), 1);
    sgui_set_enabled(box, 0);
    sgui_checkbox_set_ticked(box, 1);
    sgui_widget_label(root->child->next, SGUI_VERTICAL, -1, -1, "OTHER PAGE", 0);
    sgui_focus_set(sp);
    sgui_redraw(1);
    std::vector<std::string> want = {
        "label 0 0 320 25 - TITLE\\nTWO",
        "spinner 0 25 73 25 * 3.0",
        "checkbox 73 25 73 25 d 1",
        "tab 0 50 160 19 s ONE",
        "tab 160 50 160 19 - TWO",
    };
    EXPECT_EQ(lines_of(sgui_screen_text()), want);
}

TEST_F(ScreenText, ScrolledAndClippedWidgetsShowTheirVisiblePart)
{
    // A list taller than the screen, scrolled to its last row.
    sgui_widget *last = nullptr;
    for (int i = 0; i < 12; i++)
        last = sgui_widget_button(page, SGUI_VERTICAL, -1, -1, ("ROW " + std::to_string(i)).c_str());
    sgui_focus_set(last);
    sgui_redraw(1);
    std::vector<std::string> lines = lines_of(sgui_screen_text());
    ASSERT_FALSE(lines.empty());
    // 12 rows of 25 px: the view ends with the content, at 60 .. 300.
    EXPECT_EQ(lines.front(), "button 0 0 320 15 - ROW 2");
    EXPECT_EQ(lines.back(), "button 0 215 320 25 * ROW 11");
    EXPECT_EQ(lines.size(), 10u);
}

TEST_F(ScreenText, OverlayAndSlidesAreSaid)
{
    sgui_widget_label(page, SGUI_VERTICAL, -1, -1, "X", 0);
    sgui_set_connected(0);
    sgui_redraw(1);
    std::vector<std::string> lines = lines_of(sgui_screen_text());
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[1].rfind("overlay ", 0), 0u);
    EXPECT_NE(lines[1].find(" - CONNECTING..."), std::string::npos);
    sgui_set_connected(1);
    sgui_widget_button(root->child->next, SGUI_VERTICAL, -1, -1, "NEXT");
    ASSERT_EQ(sgui_page_move(1), 1);
    EXPECT_NE(sgui_screen_text().find("\nslide 0 0 320 240 - page\n"), std::string::npos);
    for (int i = 0; i < 100 && sgui_transition(); i++)
        sgui_redraw(0);
    EXPECT_EQ(lines_of(sgui_screen_text()), std::vector<std::string>{"button 0 0 320 25 * NEXT"});
}

TEST_F(ScreenText, SignalWritesTheFileInTheEventLoop)
{
    sgui_widget_label(page, SGUI_VERTICAL, -1, -1, "SIGNALLED", 0);
    sgui_redraw(1);
    std::string path = platform_path("/tmp/screen.txt");
    unlink(path.c_str());
    sgui_unlock();
    raise(SIGUSR2);
    EXPECT_TRUE(wait_until([&] {
        sgui_poll();
        std::ifstream f(path);
        std::string text((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
        return text == "label 0 0 320 25 - SIGNALLED\n";
    }));
    sgui_lock();
}

}  // namespace
