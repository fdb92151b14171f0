// The input device decoding with injected record times: release, long
// press and repeat, the combinations, the key lock and acceleration.
#include <gtest/gtest.h>

#include "app_test.h"
#include "sgui/sgui_widget.h"
#include "support/capture.h"

namespace {

struct delivery {
    int keys, steps;
};
std::vector<delivery> seen;

int record_keys(sgui_widget *, int keys, int steps)
{
    seen.push_back({keys, steps});
    return 0;
}

class Input : public testing::Test {
protected:
    void SetUp() override
    {
        app_test_reset();
        sgui_lock();
        sgui_widget *root = sgui_widget_container(nullptr, 0, -1, -1);
        target = sgui_widget_box(root, SGUI_VERTICAL, -1, -1, 1, nullptr);
        target->key = record_keys;
        sgui_focus_set(target);
        seen.clear();
    }
    void TearDown() override
    {
        sgui_unlock();
        app_test_reset();
    }
    void feed(int64_t t, int key, int enc, int type = 1)
    {
        sgui_input_event e = app_test_record(t, key, enc, type);
        sgui_input_records(&e, 1);
    }
    static std::vector<int> keys()
    {
        std::vector<int> k;
        for (const delivery &d : seen)
            k.push_back(d.keys);
        return k;
    }
    static std::vector<int> steps()
    {
        std::vector<int> s;
        for (const delivery &d : seen)
            s.push_back(d.steps);
        return s;
    }
    sgui_widget *target = nullptr;
    static constexpr int64_t T0 = 1000000000000;
};

TEST_F(Input, ShortEnterIsDeliveredOnceOnRelease)
{
    feed(T0, SGUI_KEY_ENTER, 0);
    sgui_input_hold(T0 + 100000);
    EXPECT_TRUE(seen.empty());
    feed(T0 + 150000, 0, 0);
    sgui_input_hold(T0 + 2000000);
    EXPECT_EQ(keys(), std::vector<int>{SGUI_KEY_ENTER});
}

TEST_F(Input, HeldEnterActsOnceOnReleaseEvenAfterTheHold)
{
    feed(T0, SGUI_KEY_ENTER, 0);
    for (int64_t t = T0; t < T0 + 1500000; t += 10000)
        sgui_input_hold(t);
    EXPECT_TRUE(seen.empty());
    feed(T0 + 1500000, 0, 0);
    EXPECT_EQ(keys(), std::vector<int>{SGUI_KEY_ENTER});
}

TEST_F(Input, HeldFocusKeyRepeatsAfter450MsThenEvery125Ms)
{
    feed(T0, SGUI_KEY_NEXT, 0);
    int64_t t = T0;
    for (; t <= T0 + 450000; t += 10000)
        sgui_input_hold(t);
    EXPECT_TRUE(seen.empty());  // 450 ms exactly is not yet a long press
    sgui_input_hold(T0 + 460000);
    ASSERT_EQ(keys(), std::vector<int>{SGUI_KEY_NEXT});
    // Then every 125 ms (more than 125 000 microseconds after the last).
    for (t = T0 + 470000; t <= T0 + 460000 + 3 * 130000; t += 10000)
        sgui_input_hold(t);
    EXPECT_EQ(keys(), (std::vector<int>{SGUI_KEY_NEXT, SGUI_KEY_NEXT, SGUI_KEY_NEXT, SGUI_KEY_NEXT}));
    // Release: nothing more.
    feed(t, 0, 0);
    sgui_input_hold(t + 1000000);
    EXPECT_EQ(seen.size(), 4u);
}

TEST_F(Input, CombinationsReplaceThePendingKeys)
{
    feed(T0, SGUI_KEY_NEXT, 0);
    feed(T0 + 1000, SGUI_CODE_LOCK, 0);
    feed(T0 + 2000, 0, 0);
    feed(T0 + 3000, SGUI_CODE_MUTE_ALL, 0);
    feed(T0 + 4000, 0, 0);
    EXPECT_EQ(keys(), (std::vector<int>{SGUI_KEY_LOCK, SGUI_KEY_MUTE_ALL}));
}

TEST_F(Input, WhileLockedOnlyTheUnlockCombinationPasses)
{
    sgui_set_keylock(1);
    feed(T0, SGUI_KEY_ENTER, 0);
    feed(T0 + 1000, 0, 0);
    feed(T0 + 2000, 0, 1);  // a detent
    feed(T0 + 3000, SGUI_CODE_LOCK, 0);
    feed(T0 + 4000, 0, 0);
    EXPECT_EQ(keys(), (std::vector<int>{SGUI_KEY_LOCKED, SGUI_KEY_LOCKED, SGUI_KEY_LOCK}));
    EXPECT_EQ(steps(), (std::vector<int>{0, 0, 0}));
    // No repeat while locked.
    seen.clear();
    feed(T0 + 5000, SGUI_KEY_NEXT, 0);
    sgui_input_hold(T0 + 2000000);
    EXPECT_TRUE(seen.empty());
}

TEST_F(Input, AccelerationGrowsWithQuickStepsAndRestartsOnDirectionChange)
{
    int64_t t = T0;
    for (int i = 0; i < 20; i++, t += 10000)
        feed(t, 0, 1);
    std::vector<int> s = steps();
    ASSERT_EQ(s.size(), 20u);
    EXPECT_EQ(s[0], 1);
    EXPECT_EQ(s[17], 1);   // acceleration count 16 after 17 quick steps
    EXPECT_EQ(s[18], 10);  // above 16: x10
    EXPECT_EQ(s[19], 10);
    // One counter-clockwise step restarts the count; so do the next two clockwise.
    seen.clear();
    feed(t, 0, SGUI_ENCODER_CCW);
    feed(t + 10000, 0, 1);
    feed(t + 20000, 0, 1);
    EXPECT_EQ(steps(), (std::vector<int>{-1, 1, 1}));
    // A slow step restarts it as well.
    seen.clear();
    for (int i = 0; i < 20; i++)
        feed(t + 30000 + i * 10000, 0, 1);
    feed(t + 30000 + 20 * 10000 + 80000, 0, 1);
    EXPECT_EQ(steps().back(), 1);
}

TEST_F(Input, FiftyFoldAfterSixtyFourQuickSteps)
{
    int64_t t = T0;
    for (int i = 0; i < 70; i++, t += 5000)
        feed(t, 0, 1);
    EXPECT_EQ(steps()[65], 1 * 10);
    EXPECT_EQ(steps()[66], 50);
}

TEST_F(Input, IgnoredRecords)
{
    feed(T0, SGUI_KEY_ENTER, 0, 0);  // type 0
    sgui_input_event e = app_test_record(T0, SGUI_KEY_ENTER, 0);
    e.value &= ~0xFF;  // no low byte
    sgui_input_records(&e, 1);
    feed(T0 + 1000, 0, 0);
    EXPECT_TRUE(seen.empty());
}

TEST_F(Input, TurningWhileHoldingAFocusKeyMovesTheFocus)
{
    feed(T0, SGUI_KEY_PREV, 0);
    feed(T0 + 1000, SGUI_KEY_PREV, 1);  // key code with the step: a modifier
    feed(T0 + 2000, SGUI_KEY_PAGE_NEXT, SGUI_ENCODER_CCW);
    feed(T0 + 3000, 0, 0);
    EXPECT_EQ(keys(), (std::vector<int>{SGUI_KEY_PREV, SGUI_KEY_PAGE_PREV}));
}

TEST_F(Input, KeyHookMayConsumeKeys)
{
    sgui_set_keyhook([](int keys, int, int) { return keys == SGUI_KEY_MUTE_ALL ? 0 : keys; });
    feed(T0, SGUI_CODE_MUTE_ALL, 0);
    feed(T0 + 1000, 0, 0);
    feed(T0 + 2000, SGUI_KEY_ENTER, 0);
    feed(T0 + 3000, 0, 0);
    EXPECT_EQ(keys(), std::vector<int>{SGUI_KEY_ENTER});
}

TEST_F(Input, UnusedFocusKeysMoveTheFocus)
{
    sgui_widget *page = target->par;
    target->key = nullptr;
    sgui_widget *second = sgui_widget_box(page, SGUI_VERTICAL, -1, -1, 1, nullptr);
    feed(T0, SGUI_KEY_NEXT, 0);
    feed(T0 + 1000, 0, 0);
    EXPECT_EQ(sgui_focus(), second);
    feed(T0 + 2000, SGUI_KEY_PREV, 0);
    feed(T0 + 3000, 0, 0);
    EXPECT_EQ(sgui_focus(), target);
}

TEST_F(Input, EleventhIdleHandlerIsRefused)
{
    std::vector<sgui_widget *> ws;
    for (int i = 0; i < 11; i++)
        ws.push_back(sgui_widget_box(target->par, SGUI_VERTICAL, -1, -1, 0, nullptr));
    FdCapture err;
    for (int i = 0; i < 11; i++)
        sgui_add_idlehandler(ws[(size_t)i]);
    EXPECT_EQ(err.finish(), "idlehandlers[] too small\n\n");
    for (sgui_widget *w : ws)
        sgui_idle_forget(w);
}

}  // namespace
