// The EQ curve display: the frequency axis, the 40 dB scale, the curve's
// interpolation and pixels, the handles and their selection.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include "app_test.h"
#include "gui/eqvis.h"
#include "sgui/sgui_widget.h"

namespace {

constexpr int HEIGHT = 120;

class EqVis : public testing::Test {
protected:
    void SetUp() override
    {
        app_test_reset();
        sgui_lock();
        sgui_set_connected(1);
        root = sgui_widget_container(nullptr, 0, -1, -1);
        sgui_set_root(root);
        page = sgui_widget_container(root, SGUI_HORIZONTAL, -1, -1);
        page->event_val = [](sgui_widget *, int value, const char *) { selections.push_back(value); };
        selections.clear();
    }
    void TearDown() override
    {
        sgui_unlock();
        app_test_reset();
    }
    sgui_widget *make(int has_geq, int peq)
    {
        sgui_widget *w = eqvis(page, SGUI_VERTICAL, HEIGHT, has_geq, peq);
        sgui_redraw(1);
        return w;
    }
    // The curve's pixel rows in a column of the display: the bright ones
    // (grid lines and the grid's black are darker, on a grid line too).
    static std::vector<int> curve_rows(sgui_widget *w, int column)
    {
        std::vector<int> rows;
        for (int y = 0; y < w->view.h; y++) {
            uint32_t px = app_test_pixel(w->s.get(), column, y);
            int r = px >> 16, g = (px >> 8) & 0xFF, b = px & 0xFF;
            if (std::min({r, g, b}) > 100)
                rows.push_back(y);
        }
        return rows;
    }
    sgui_widget *root = nullptr, *page = nullptr;
    static std::vector<int> selections;
};

std::vector<int> EqVis::selections;

TEST_F(EqVis, FrequencyAxisColumns)
{
    EXPECT_FLOAT_EQ(eqvis_freq(0), 17.5f);
    EXPECT_NEAR(eqvis_freq(EQVIS_FREQ_UNITS - 1), 24235.0f, 10.0f);
    EXPECT_EQ(eqvis_freq_column(20), 5);
    EXPECT_EQ(eqvis_freq_column(100), 77);
    EXPECT_EQ(eqvis_freq_column(1000), 178);
    EXPECT_EQ(eqvis_freq_column(10000), 280);
    EXPECT_EQ(eqvis_freq_column(20000), 311);
    // Beyond the axis: held at its ends.
    EXPECT_EQ(eqvis_freq_column(1), 0);
    EXPECT_EQ(eqvis_freq_column(96000), 319);
    EXPECT_EQ(eqvis_freq_column(NAN), 0);
    // The graphic bands are evenly spaced over the width, not at their frequencies.
    EXPECT_EQ(eqvis_geq_column(0), 6);
    EXPECT_EQ(eqvis_geq_column(30), 312);
    for (int b = 1; b < 31; b++) {
        int step = eqvis_geq_column(b) - eqvis_geq_column(b - 1);
        EXPECT_TRUE(step == 10 || step == 11) << b << ": " << step;
    }
}

TEST_F(EqVis, FortyDecibelsOverTheHeightAndClippedBeyond)
{
    EXPECT_EQ(eqvis_db_row(0, HEIGHT), 60);
    EXPECT_EQ(eqvis_db_row(20, HEIGHT), 0);
    EXPECT_EQ(eqvis_db_row(-20, HEIGHT), HEIGHT - 1);
    EXPECT_EQ(eqvis_db_row(35, HEIGHT), 0);
    EXPECT_EQ(eqvis_db_row(-80, HEIGHT), HEIGHT - 1);
    EXPECT_EQ(eqvis_db_row(3, HEIGHT), 51);  // 3 px per dB
    EXPECT_EQ(eqvis_db_row(NAN, HEIGHT), 60);
}

TEST_F(EqVis, CurveIsInterpolatedBetweenTheServersPoints)
{
    float c[EQVIS_CURVE_POINTS] = {};
    for (int i = 0; i < EQVIS_CURVE_POINTS; i++)
        c[i] = (float)i * 0.1f;  // a straight line stays straight
    for (int col = 0; col < 320; col += 7)
        EXPECT_NEAR(eqvis_curve_at(c, col), col * 127.0f / 320.0f * 0.1f, 1e-3) << col;
    // Column 0 is the first point, and the last column nearly the last point.
    float peak[EQVIS_CURVE_POINTS] = {};
    peak[64] = 6.0f;
    int at = (int)std::ceil(64 * 320.0 / 127.0);  // the first column at or past point 64
    EXPECT_GT(eqvis_curve_at(peak, at), 4.5f);
    EXPECT_LT(eqvis_curve_at(peak, at - 10), 0.5f);
    EXPECT_FLOAT_EQ(eqvis_curve_at(peak, 0), 0.0f);
}

TEST_F(EqVis, CurvePixelsFollowTheReportedValues)
{
    sgui_widget *w = make(1, 5);
    ASSERT_TRUE(w->s);
    ASSERT_EQ(w->view.h, HEIGHT);
    // Flat: the curve runs along the 0 dB row (on the 900 Hz grid line,
    // between two graphic handles).
    int col = 174;
    EXPECT_EQ(curve_rows(w, col), std::vector<int>{60});
    float c[EQVIS_CURVE_POINTS];
    for (float &v : c)
        v = 20.0f;
    eqvis_set_curve(w, c, EQVIS_CURVE_POINTS);
    EXPECT_EQ(eqvis_curve_count(w), 1);
    sgui_redraw(0);
    EXPECT_EQ(curve_rows(w, col), std::vector<int>{0});
    for (float &v : c)
        v = -25.0f;
    eqvis_set_curve(w, c, EQVIS_CURVE_POINTS);
    sgui_redraw(0);
    EXPECT_EQ(curve_rows(w, col), std::vector<int>{HEIGHT - 1});
    // A short report: the missing points are 0 dB.
    eqvis_set_curve(w, c, 10);
    sgui_redraw(0);
    EXPECT_EQ(curve_rows(w, 296), std::vector<int>{60});
}

TEST_F(EqVis, SelectionKeysAreClampedToThePage)
{
    sgui_widget *w = make(0, 4);
    EXPECT_EQ(eqvis_get_mode(w), EQVIS_PEQ);  // no graphic page on an output
    EXPECT_EQ(eqvis_handle_count(w, EQVIS_PEQ), 4);
    EXPECT_EQ(eqvis_handle_count(w, EQVIS_GRAPHIC), 0);
    eqvis_set_mode(w, EQVIS_GRAPHIC);
    EXPECT_EQ(eqvis_get_mode(w), EQVIS_PEQ);
    EXPECT_EQ(w->key(w, SGUI_KEY_PAGE_PREV, 0), 0);  // consumed, stays at the first
    EXPECT_EQ(eqvis_selection(w, EQVIS_PEQ), 0);
    for (int i = 0; i < 6; i++)
        w->key(w, SGUI_KEY_PAGE_NEXT, 0);
    EXPECT_EQ(eqvis_selection(w, EQVIS_PEQ), 3);
    EXPECT_EQ(selections, (std::vector<int>{1, 2, 3}));  // no event for the clamped keys
    EXPECT_EQ(w->key(w, SGUI_KEY_ENTER, 0), SGUI_KEY_ENTER);
    eqvis_set_mode(w, EQVIS_SHELF);
    w->key(w, SGUI_KEY_PAGE_NEXT, 0);
    EXPECT_EQ(eqvis_selection(w, EQVIS_SHELF), 1);
    EXPECT_EQ(eqvis_selection(w, EQVIS_PEQ), 3);  // each page keeps its own
}

TEST_F(EqVis, HandlesAreDrawnAtTheirFrequencyAndGain)
{
    sgui_widget *w = make(1, 5);
    eqvis_set_mode(w, EQVIS_PEQ);
    eqvis_set_peq(w, 2, 1000.0f, 10.0f, 1.0f);
    eqvis_set_selection(w, EQVIS_PEQ, 2);
    sgui_redraw(0);
    // The selected marker's colour (224, 255, 255 at 170 over the display) at 1 kHz, +10 dB.
    uint32_t px = app_test_pixel(w->s.get(), eqvis_freq_column(1000) - 6, eqvis_db_row(10, HEIGHT) - 6);
    EXPECT_GT(px >> 16, 140u) << std::hex << px;
    // A bypassed band is an outline: its middle shows what is below.
    eqvis_set_peq(w, 0, 100.0f, -10.0f, 1.0f);
    eqvis_set_enabled(w, EQVIS_PEQ, 0, 0);
    sgui_redraw(0);
    int x = eqvis_freq_column(100), y = eqvis_db_row(-10, HEIGHT);
    EXPECT_NE(app_test_pixel(w->s.get(), x - 7, y), 0u);
    EXPECT_EQ(app_test_pixel(w->s.get(), x - 5, y + 3), 0u);
}

TEST_F(EqVis, DescribesPageSelectionAndTheCurveAtOneKilohertz)
{
    sgui_widget *w = make(1, 5);
    float c[EQVIS_CURVE_POINTS] = {};
    for (float &v : c)
        v = 3.0f;
    eqvis_set_curve(w, c, EQVIS_CURVE_POINTS);
    eqvis_set_selection(w, EQVIS_GRAPHIC, 17);
    char text[128];
    EXPECT_STREQ(sgui_widget_describe(w, text, sizeof text), "eqvis");
    EXPECT_STREQ(text, "page=GRAPHIC sel=18 handles=31 curves=1 1k=3.0");
}

TEST(EqVisDeathTest, SelectingBeyondThePageIsAnAssertion)
{
    EXPECT_DEATH(
        {
            sgui_lock();
            sgui_widget *r = sgui_widget_container(nullptr, 0, -1, -1);
            sgui_widget *w = eqvis(r, SGUI_VERTICAL, HEIGHT, 1, 5);
            eqvis_set_selection(w, EQVIS_PEQ, 5);
        },
        "id < data->pages\\[mode\\].count_handles");
}

}  // namespace
