#include <cmath>
#include <functional>

#include "report.h"
#include "server_state.h"
#include "system_bus.h"

namespace {

using SystemBus = ServerState;

// An accepted call: silent, bus marked for report id with the connection.
void expect_accepted(int bus, int report_id, int conn, const std::function<void()> &call)
{
    report_pending_clear();
    EXPECT_EQ(errors_of(call), "");
    EXPECT_EQ(report_pending.bus[bus], 1);
    EXPECT_EQ(report_pending.requester[report_id], conn);
}

struct float_setter {
    const char *op;
    const char *what;
    void (*set)(int, int, float);
    float sys_bus::*field;
    float lo, hi, below, above;
    int report_id;
};

const float_setter float_setters[] = {
    {"system_bus_set_gain", "gain", system_bus_set_gain, &sys_bus::gain, -60, 20, -60.1f, 20.1f, 2},
    {"system_bus_set_comp_thres", "thres", system_bus_set_comp_thres, &sys_bus::comp_thres, -60, 0, -60.1f, 0.1f, 4},
    {"system_bus_set_comp_knee", "knee", system_bus_set_comp_knee, &sys_bus::comp_knee, 0, 12, -0.1f, 12.1f, 6},
    {"system_bus_set_peak_overshoot", "overshoot", system_bus_set_peak_overshoot, &sys_bus::peak_overshoot, 0, 256,
     -0.1f, 256.1f, 7},
    {"system_bus_set_comp_attack", "attack", system_bus_set_comp_attack, &sys_bus::comp_attack, 0, 500, -0.1f,
     500.1f, 113},
    {"system_bus_set_peak_release", "release", system_bus_set_peak_release, &sys_bus::peak_release, 0, 500, -0.1f,
     500.1f, 115},
};

TEST_F(SystemBus, FloatSettersAcceptTheirLimitsAndRejectTheNextValueAndNaN)
{
    for (const float_setter &s : float_setters) {
        SCOPED_TRACE(s.op);
        std::string range = std::string(s.op) + ": " + s.what + " out of range\n";
        for (float v : {s.lo, s.hi}) {
            expect_accepted(3, s.report_id, 4, [&] { s.set(4, 3, v); });
            EXPECT_EQ(my_sys->bus[3].*s.field, v);
        }
        for (float v : {s.below, s.above, NAN, INFINITY})
            expect_rejected(range, [&] { s.set(4, 3, v); });
        std::string busid = std::string(s.op) + ": busid out of range\n";
        for (int bus : {8, -1, 1000})
            expect_rejected(busid, [&] { s.set(4, bus, s.lo); });
    }
}

TEST_F(SystemBus, RatioAboveTwentyIsALimiter)
{
    const char *range = "system_bus_set_comp_ratio: ratio out of range\n";
    for (std::pair<float, float> c : {std::pair{1.0f, 1.0f}, {20.0f, 20.0f}, {20.01f, 1e8f}, {1e8f, 1e8f}}) {
        expect_accepted(0, 5, 1, [&] { system_bus_set_comp_ratio(1, 0, c.first); });
        EXPECT_EQ(my_sys->bus[0].comp_ratio, c.second) << c.first;
    }
    for (float v : {0.99f, 1.01e8f, NAN})
        expect_rejected(range, [&] { system_bus_set_comp_ratio(1, 0, v); });
    expect_rejected("system_bus_set_comp_ratio: busid out of range\n", [] { system_bus_set_comp_ratio(1, 8, 2); });
}

TEST_F(SystemBus, InvalidReleaseFallsBackToEightyAndIsReported)
{
    for (float v : {50.0f, 5000.0f}) {
        expect_accepted(6, 114, 2, [&] { system_bus_set_comp_release(2, 6, v); });
        EXPECT_EQ(my_sys->bus[6].comp_release, v);
    }
    for (float v : {30.0f, 5001.0f, NAN}) {
        my_sys->bus[6].comp_release = 1000;
        report_pending_clear();
        EXPECT_EQ(errors_of([&] { system_bus_set_comp_release(2, 6, v); }),
                  "system_bus_set_comp_release: release out of range\n");
        EXPECT_EQ(my_sys->bus[6].comp_release, 80.0f);
        EXPECT_EQ(report_pending.bus[6], 1);
        EXPECT_EQ(report_pending.requester[114], 2);
    }
    expect_rejected("system_bus_set_comp_release: busid out of range\n",
                    [] { system_bus_set_comp_release(2, 9, 30); });
}

TEST_F(SystemBus, SwitchesAndGroupsTakeOnlyTheirValues)
{
    struct int_setter {
        const char *message;
        void (*set)(int, int, int);
        int32_t sys_bus::*field;
        std::vector<int> good, bad;
        int report_id;
    };
    const int_setter setters[] = {
        {"system_bus_set_mute: mute out of range\n", system_bus_set_mute, &sys_bus::mute, {0, 1}, {2, -1}, 1},
        {"system_bus_set_phase: phase out of range\n", system_bus_set_phase, &sys_bus::phase, {0, 1}, {2, -1}, 3},
        {"system_bus_set_group_local: group out of range\n", system_bus_set_group_local, &sys_bus::group_local,
         {-1, 3}, {4, -2}, 10},
        {"system_bus_set_group_net: group out of range\n", system_bus_set_group_net, &sys_bus::group_net, {-1, 7},
         {8, -2}, 11},
    };
    for (const int_setter &s : setters) {
        SCOPED_TRACE(s.message);
        for (int v : s.good) {
            expect_accepted(7, s.report_id, 8, [&] { s.set(8, 7, v); });
            EXPECT_EQ(my_sys->bus[7].*s.field, v);
        }
        for (int v : s.bad)
            expect_rejected(s.message, [&] { s.set(8, 7, v); });
    }
}

TEST_F(SystemBus, PatchAndEqFlagsTakeAnyValue)
{
    expect_accepted(1, 8, 3, [] { system_bus_set_patch(3, 1, 0x3f); });
    EXPECT_EQ(my_sys->bus[1].patch, 0x3f);
    expect_accepted(1, 14, 3, [] { system_bus_set_eq_flags(3, 1, 0x924); });
    EXPECT_EQ(my_sys->bus[1].eq_flags, 0x924);
    expect_rejected("system_bus_set_patch: busid out of range\n", [] { system_bus_set_patch(3, 8, 1); });
    expect_rejected("system_bus_set_eq_flags: busid out of range\n", [] { system_bus_set_eq_flags(3, -1, 1); });
}

TEST_F(SystemBus, LabelIsCutAtTwoHundredCharacters)
{
    std::string long_label(250, 'x');
    expect_accepted(2, 9, 1, [&] { system_bus_set_label(1, 2, long_label.c_str()); });
    EXPECT_EQ(std::string(my_sys->bus[2].label), std::string(200, 'x'));
    EXPECT_EQ(report_pending.bus_label[2], 1);

    expect_accepted(2, 9, 1, [] { system_bus_set_label(1, 2, "Kick"); });
    EXPECT_STREQ(my_sys->bus[2].label, "Kick");
    // The tail of the longer label is gone, not left behind the new one.
    EXPECT_EQ(my_sys->bus[2].label[5], 0);
    EXPECT_EQ(my_sys->bus[2].label[199], 0);

    expect_rejected("system_bus_set_label: label==NULL\n", [] { system_bus_set_label(1, 2, nullptr); });
    expect_rejected("system_bus_set_label: busid out of range\n", [] { system_bus_set_label(1, 8, "x"); });
}

TEST_F(SystemBus, GraphicEqBandsAndReset)
{
    expect_accepted(0, 12, 5, [] { system_bus_set_geq(5, 0, 30, 15); });
    expect_accepted(0, 12, 5, [] { system_bus_set_geq(5, 0, 0, -15); });
    EXPECT_EQ(my_sys->bus[0].geq[30], 15.0f);
    EXPECT_EQ(my_sys->bus[0].geq[0], -15.0f);
    expect_rejected("system_bus_set_geq: geqid out of range\n", [] { system_bus_set_geq(5, 0, 31, 0); });
    // The band is checked before the gain.
    expect_rejected("system_bus_set_geq: geqid out of range\n", [] { system_bus_set_geq(5, 0, -1, 99); });
    expect_rejected("system_bus_set_geq: gain out of range\n", [] { system_bus_set_geq(5, 0, 3, 15.1f); });
    expect_rejected("system_bus_set_geq: busid out of range\n", [] { system_bus_set_geq(5, 8, 99, 99); });

    expect_accepted(0, 12, 6, [] { system_bus_geq_reset(6, 0); });
    for (float g : my_sys->bus[0].geq)
        EXPECT_EQ(g, 0.0f);
    expect_rejected("system_bus_geq_reset: busid out of range\n", [] { system_bus_geq_reset(6, 8); });
}

TEST_F(SystemBus, ParametricBandChecksInOrder)
{
    expect_accepted(4, 16, 2, [] { system_bus_set_peq(2, 4, 4, 24000, 20, 15, 7); });
    const sys_peq &p = my_sys->bus[4].peq[4];
    EXPECT_EQ(p.freq, 24000.0f);
    EXPECT_EQ(p.q, 20.0f);
    EXPECT_EQ(p.gain, 15.0f);
    EXPECT_EQ(p.bypass, 1);  // any non-zero bypass is stored as 1
    expect_accepted(4, 16, 2, [] { system_bus_set_peq(2, 4, 0, 16, 0.3f, -15, 0); });
    EXPECT_EQ(my_sys->bus[4].peq[0].bypass, 0);

    // Two wrong arguments: the first check in the order speaks.
    expect_rejected("system_bus_set_peq: busid out of range\n", [] { system_bus_set_peq(2, 8, 5, 1, 1, 1, 0); });
    expect_rejected("system_bus_set_peq: peqid out of range\n", [] { system_bus_set_peq(2, 4, 5, 1, 1, 1, 0); });
    expect_rejected("system_bus_set_peq: freq out of range\n", [] { system_bus_set_peq(2, 4, 1, 15.9f, 0.2f, 0, 0); });
    expect_rejected("system_bus_set_peq: q out of range\n", [] { system_bus_set_peq(2, 4, 1, 1000, 20.1f, 16, 0); });
    expect_rejected("system_bus_set_peq: gain out of range\n", [] { system_bus_set_peq(2, 4, 1, 1000, 1, NAN, 0); });
}

TEST_F(SystemBus, ShelfFrequencyRangeDependsOnTheShelf)
{
    expect_rejected("system_bus_set_shelf: freq out of range\n", [] { system_bus_set_shelf(1, 0, 0, 600, 0, 0); });
    expect_accepted(0, 17, 1, [] { system_bus_set_shelf(1, 0, 0, 500, -15, 3); });
    EXPECT_EQ(my_sys->bus[0].shelf[0].freq, 500.0f);
    EXPECT_EQ(my_sys->bus[0].shelf[0].bypass, 1);
    expect_accepted(0, 17, 1, [] { system_bus_set_shelf(1, 0, 1, 1000, 15, 0); });
    EXPECT_EQ(my_sys->bus[0].shelf[1].freq, 1000.0f);
    expect_rejected("system_bus_set_shelf: freq out of range\n", [] { system_bus_set_shelf(1, 0, 1, 999, 0, 0); });
    expect_rejected("system_bus_set_shelf: freq out of range\n", [] { system_bus_set_shelf(1, 0, 0, 15, 99, 0); });
    expect_rejected("system_bus_set_shelf: shelfid out of range\n", [] { system_bus_set_shelf(1, 0, 2, 0, 99, 0); });
    expect_rejected("system_bus_set_shelf: gain out of range\n", [] { system_bus_set_shelf(1, 0, 1, 2000, -16, 0); });
    expect_rejected("system_bus_set_shelf: busid out of range\n", [] { system_bus_set_shelf(1, 8, 0, 100, 0, 0); });
}

TEST_F(SystemBus, HighPassChecksTheKindBeforeTheFrequency)
{
    expect_accepted(5, 18, 3, [] { system_bus_set_hpf(3, 5, 24000, 4, 9); });
    EXPECT_EQ(my_sys->bus[5].highpass.freq, 24000.0f);
    EXPECT_EQ(my_sys->bus[5].highpass.kind, 4);
    EXPECT_EQ(my_sys->bus[5].highpass.bypass, 1);
    expect_accepted(5, 18, 3, [] { system_bus_set_hpf(3, 5, 16, 0, 0); });
    expect_rejected("system_bus_set_hpf: type out of range\n", [] { system_bus_set_hpf(3, 5, 1, 5, 0); });
    expect_rejected("system_bus_set_hpf: type out of range\n", [] { system_bus_set_hpf(3, 5, 100, -1, 0); });
    expect_rejected("system_bus_set_hpf: freq out of range\n", [] { system_bus_set_hpf(3, 5, 24001, 1, 0); });
    expect_rejected("system_bus_set_hpf: busid out of range\n", [] { system_bus_set_hpf(3, 8, 1, 9, 0); });
}

TEST_F(SystemBus, OnlyAZeroDelayPassesInEveryUnit)
{
    struct unit_case {
        int unit;
        const char *message;
    };
    for (auto [unit, message] : {unit_case{DELAY_UNIT_METRES, "system_bus_set_delay: delay out of range (meter)\n"},
                                 unit_case{DELAY_UNIT_FEET, "system_bus_set_delay: delay out of range (feet)\n"},
                                 unit_case{DELAY_UNIT_MS, "system_bus_set_delay: delay out of range (ms)\n"}}) {
        SCOPED_TRACE(unit);
        my_sys->delay_unit = unit;
        for (float v : {0.01f, 5.0f, -0.01f, NAN})
            expect_rejected(message, [&] { system_bus_set_delay(1, 2, v, 0); });
        expect_accepted(2, 60, 1, [] { system_bus_set_delay(1, 2, 0, 0); });
        EXPECT_EQ(my_sys->bus[2].delay_m, 0.0f);
        EXPECT_EQ(my_sys->bus[2].delay_ms, 0.0f);
    }
    // Project loading passes metres whatever the unit.
    my_sys->delay_unit = DELAY_UNIT_MS;
    expect_rejected("system_bus_set_delay: delay out of range (meter)\n", [] { system_bus_set_delay(0, 2, 1, 1); });
    expect_rejected("system_bus_set_delay: busid out of range\n", [] { system_bus_set_delay(0, 8, 0, 0); });
}

TEST_F(SystemBus, RecomputedDelaysStayWithinTheLimit)
{
    my_sys->bus[3].delay_m = 3.4f;  // as a record from an older device might hold
    my_sys->bus[4].delay_m = -1.0f;
    system_bus_recompute_delays(0);
    for (int b = 0; b < SYS_BUSES; b++) {
        EXPECT_EQ(my_sys->bus[b].delay_ms, 0.0f);
        EXPECT_EQ(my_sys->bus[b].delay_m, 0.0f);
        EXPECT_EQ(report_pending.bus[b], 1);
    }
    EXPECT_EQ(report_pending.requester[60], 0);
}

TEST_F(SystemBus, GraphicMaskCommandIsAlwaysRefused)
{
    expect_rejected("system_bus_set_geq_ibt: bits_plus/bits_minus inconsistent\n",
                    [] { system_bus_set_geq_ibt(1, 0, 1, 2); });
    expect_rejected("system_bus_set_geq_ibt: busid out of range\n", [] { system_bus_set_geq_ibt(1, 8, 0, 0); });
}

// ---- copy ----

class SystemBusCopy : public SystemBus {
protected:
    void SetUp() override
    {
        SystemBus::SetUp();
        my_sys->modified = 1;  // the project mark is not what these tests look at
        sys_bus &s = my_sys->bus[1];
        s.patch = 0x21;
        s.gain = -7.5f;
        s.phase = 1;
        s.comp_thres = -20;
        s.comp_ratio = 4;
        s.comp_knee = 6;
        s.peak_overshoot = 12;
        s.comp_attack = 5;
        s.comp_release = 400;
        s.peak_release = 30;
        s.highpass = sys_highpass{120, 2, 1, 0};
        for (int i = 0; i < SYS_BUS_PEQ_BANDS; i++)
            s.peq[i] = sys_peq{100.0f * (i + 1), 2.0f, -3.0f, i & 1};
        s.shelf[0] = sys_shelf{250, 4, 1, 0};
        s.shelf[1] = sys_shelf{8000, -4, 0, 0};
        for (int i = 0; i < SYS_GEQ_BANDS; i++)
            s.geq[i] = (float)(i % 7) - 3;
        s.eq_flags = 0x925;
        snprintf(s.label, sizeof s.label, "Source");
        s.mute = 1;
        s.group_local = 2;
        s.group_net = 5;
        my_sys->bus[0].eq_flags = 0x2;
    }
};

TEST_F(SystemBusCopy, EachFlagCopiesItsSectionAndNothingElse)
{
    struct flag_case {
        uint32_t flag;
        std::function<void(sys_bus &, const sys_bus &)> apply;
    };
    const flag_case cases[] = {
        {BUS_COPY_PATCH, [](sys_bus &d, const sys_bus &s) { d.patch = s.patch; }},
        {BUS_COPY_GAIN, [](sys_bus &d, const sys_bus &s) { d.gain = s.gain; }},
        {BUS_COPY_PHASE, [](sys_bus &d, const sys_bus &s) { d.phase = s.phase; }},
        {BUS_COPY_DYNAMICS,
         [](sys_bus &d, const sys_bus &s) {
             d.comp_thres = s.comp_thres;
             d.comp_ratio = s.comp_ratio;
             d.comp_knee = s.comp_knee;
             d.peak_overshoot = s.peak_overshoot;
             d.comp_attack = s.comp_attack;
             d.comp_release = s.comp_release;
             d.peak_release = s.peak_release;
         }},
        {BUS_COPY_HIGHPASS,
         [](sys_bus &d, const sys_bus &s) {
             d.highpass = s.highpass;
             d.eq_flags = 0x2 | 0x800;
         }},
        {BUS_COPY_PEQ,
         [](sys_bus &d, const sys_bus &s) {
             memcpy(d.peq, s.peq, sizeof d.peq);
             d.eq_flags = 0x2 | 0x20;
         }},
        {BUS_COPY_SHELF,
         [](sys_bus &d, const sys_bus &s) {
             d.shelf[0] = s.shelf[0];
             d.shelf[1] = s.shelf[1];
             d.eq_flags = 0x2 | 0x100;
         }},
        {BUS_COPY_GEQ,
         [](sys_bus &d, const sys_bus &s) {
             memcpy(d.geq, s.geq, sizeof d.geq);
             d.eq_flags = 0x2 | 0x4;
         }},
        {BUS_COPY_DELAY, [](sys_bus &, const sys_bus &) {}},
    };
    sys_file start = *my_sys;
    for (const flag_case &c : cases) {
        SCOPED_TRACE(c.flag);
        *my_sys = start;
        report_pending_clear();
        sys_file expected = start;
        c.apply(expected.bus[0], start.bus[1]);
        EXPECT_EQ(errors_of([&] { system_bus_copy(4, 0, 1, c.flag); }), "");
        EXPECT_TRUE(record_equals(expected));
        EXPECT_EQ(report_pending.bus[0], 1);
        EXPECT_EQ(report_pending.bus[1], 0);
    }
}

TEST_F(SystemBusCopy, CopiedValuesAreReportedAsTheServersOwn)
{
    system_bus_copy(6, 0, 1, BUS_COPY_GAIN | BUS_COPY_DELAY);
    EXPECT_EQ(report_pending.requester[2], 0);
    EXPECT_EQ(report_pending.requester[60], 0);
    // The user who asked is told.
    std::string line = reply_of([](report_writer *w) { EXPECT_TRUE(report_message_take(6, w)); });
    EXPECT_EQ(line, "25,6,0,Input%20Bus%20copied.\n");
}

TEST_F(SystemBusCopy, EqFlagsMergeKeepsTheTargetsOtherBits)
{
    my_sys->bus[0].eq_flags = 0x1002;
    system_bus_copy(1, 0, 1, 0x1ff);
    EXPECT_EQ(my_sys->bus[0].eq_flags, 0x1002 | 0x924);
    EXPECT_EQ(report_pending.requester[14], 0);

    // Nothing to take over: eq_flags is not set again.
    report_pending_clear();
    report_pending.requester[14] = 99;
    system_bus_copy(1, 0, 1, BUS_COPY_PEQ);
    EXPECT_EQ(report_pending.requester[14], 99);

    // A section whose bypass bit is clear on the source clears it on the target.
    my_sys->bus[0].eq_flags = 0x4 | 0x1;
    my_sys->bus[1].eq_flags = 0;
    system_bus_copy(1, 0, 1, BUS_COPY_GEQ);
    EXPECT_EQ(my_sys->bus[0].eq_flags, 0x1);
}

TEST_F(SystemBusCopy, BadTargetsAreRefusedWithoutAMessageToTheUser)
{
    sys_file before = *my_sys;
    EXPECT_EQ(errors_of([] { system_bus_copy(3, 2, 2, 0x1ff); }), "system_bus_copy: cannot copy on itself\n");
    EXPECT_EQ(errors_of([] { system_bus_copy(3, 8, 8, 0x1ff); }), "system_bus_copy: cannot copy on itself\n");
    EXPECT_EQ(errors_of([] { system_bus_copy(3, 8, 9, 0x1ff); }), "system_bus_copy: dest_busid out of range\n");
    EXPECT_EQ(errors_of([] { system_bus_copy(3, 0, -1, 0x1ff); }), "system_bus_copy: source_busid out of range\n");
    EXPECT_TRUE(record_equals(before));
    EXPECT_TRUE(nothing_marked());
    EXPECT_EQ(reply_of([](report_writer *w) { EXPECT_FALSE(report_message_take(3, w)); }), "");
}

}  // namespace
