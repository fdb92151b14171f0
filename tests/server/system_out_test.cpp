#include <cmath>
#include <functional>

#include "report.h"
#include "server_state.h"
#include "system_bus.h"
#include "system_out.h"

namespace {

// Makes outputs first .. first + ways - 1 one group with a ways-way preset,
// as a preset assignment would leave them.
void make_group(int first, int ways, int group)
{
    for (int i = 0; i < ways; i++) {
        sys_output &o = my_sys->out[first + i];
        o.group_lsp = group;
        o.lsp.ways = ways;
        o.id_lsp = 40 + group;
        o.way.way_index = i + 1;
        o.way.gain = -1.0f * (float)i;
    }
}

class SystemOut : public ServerState {
protected:
    void SetUp() override
    {
        ServerState::SetUp();
        make_group(2, 3, 2);  // outputs 2, 3, 4: groups 3 and 4 are gone
    }
};

// Every output of group 2 holds the same head; each keeps its own way.
void expect_group_in_sync()
{
    for (int o : {3, 4})
        EXPECT_EQ(memcmp(&my_sys->out[2], &my_sys->out[o], offsetof(sys_output, way)), 0) << o;
    EXPECT_EQ(my_sys->out[3].way.way_index, 2);
    EXPECT_EQ(my_sys->out[4].way.way_index, 3);
}

// An accepted group change: silent, the group in sync and every output of
// it marked, the change itself under the requester's id.
void expect_group_change(int report_id, int conn, const std::function<void()> &call)
{
    report_pending_clear();
    EXPECT_EQ(errors_of(call), "");
    expect_group_in_sync();
    for (int o = 0; o < SYS_OUTPUTS; o++)
        EXPECT_EQ(report_pending.out[o], o >= 2 && o <= 4) << o;
    EXPECT_EQ(report_pending.requester[report_id], conn);
}

TEST_F(SystemOut, GroupRoutinesFindAndSyncTheGroup)
{
    EXPECT_EQ(find_first_out(2), 2);
    EXPECT_EQ(find_first_out(7), 7);
    EXPECT_EQ(errors_of([] { EXPECT_EQ(find_first_out(3), -1); }), "find_first_out: group not active\n");
    EXPECT_EQ(errors_of([] { EXPECT_EQ(find_first_out(-1), -1); }), "find_first_out: group not active\n");

    // The first output is the authority: its head goes to the others,
    // marked as the server's own change; mute and way stay per output.
    my_sys->out[2].gain = -9;
    my_sys->out[2].mute = 0;
    snprintf(my_sys->out[2].label, SYS_LABEL_SIZE, "Left");
    sync_group_outputs(2);
    expect_group_in_sync();
    EXPECT_STREQ(my_sys->out[4].label, "Left");
    EXPECT_EQ(my_sys->out[3].mute, 1);
    EXPECT_EQ(my_sys->out[4].way.gain, -2.0f);
    EXPECT_EQ(report_pending.out[3], 1);
    EXPECT_EQ(report_pending.out[4], 1);
    EXPECT_EQ(report_pending.out[5], 0);
    EXPECT_EQ(report_pending.requester[0], 0);
}

TEST_F(SystemOut, GroupChangesReachEveryOutputOfTheGroup)
{
    expect_group_change(38, 3, [] { system_out_group_set_gain(3, 2, -12.5f); });
    EXPECT_EQ(my_sys->out[4].gain, -12.5f);
    expect_group_change(39, 3, [] { system_out_group_set_phase(3, 2, 1); });
    EXPECT_EQ(my_sys->out[3].phase, 1);
    expect_group_change(40, 4, [] { system_out_group_set_grp_local(4, 2, 3); });
    EXPECT_EQ(my_sys->out[4].group_local, 3);
    expect_group_change(41, 4, [] { system_out_group_set_grp_net(4, 2, 7); });
    EXPECT_EQ(my_sys->out[4].group_net, 7);
    expect_group_change(42, 5, [] { system_out_group_set_input(5, 2, 6); });
    EXPECT_EQ(my_sys->out[3].bus_input, 6);
    expect_group_change(49, 5, [] { system_out_group_set_eq_flags(5, 2, 0x920); });
    EXPECT_EQ(my_sys->out[4].eq_flags, 0x920);
    expect_group_change(45, 1, [] { system_out_group_set_peq(1, 2, 3, 24000, 0.3f, -15, 9); });
    EXPECT_EQ(my_sys->out[4].peq[3].freq, 24000.0f);
    EXPECT_EQ(my_sys->out[4].peq[3].bypass, 1);
    expect_group_change(46, 1, [] { system_out_group_set_shelf(1, 2, 1, 1000, 15, 0); });
    EXPECT_EQ(my_sys->out[3].shelf[1].freq, 1000.0f);
    expect_group_change(47, 2, [] { system_out_group_set_hpf(2, 2, 1200, 4, 1); });
    EXPECT_EQ(my_sys->out[4].highpass.freq, 1200.0f);
    EXPECT_EQ(my_sys->out[4].highpass.kind, 4);

    std::string long_label(230, 'y');
    expect_group_change(35, 2, [&] { system_out_group_label(2, 2, long_label.c_str()); });
    EXPECT_EQ(std::string(my_sys->out[4].label), std::string(200, 'y'));
    EXPECT_EQ(report_pending.out_flags[2] & REPORT_FLAG_LABEL, REPORT_FLAG_LABEL);
    expect_group_change(35, 2, [] { system_out_group_label(2, 2, "Sub"); });
    EXPECT_EQ(my_sys->out[3].label[4], 0);  // no tail of the longer label
    // Group changes belong to the project.
    EXPECT_EQ(my_sys->modified, 1);
}

TEST_F(SystemOut, GroupValuesAreChecked)
{
    struct bad_case {
        const char *message;
        std::function<void()> call;
    };
    const bad_case cases[] = {
        {"system_out_group_set_gain: group_lsp out of range\n", [] { system_out_group_set_gain(1, 8, 0); }},
        {"system_out_group_set_gain: gain out of range\n", [] { system_out_group_set_gain(1, 2, 20.1f); }},
        {"system_out_group_set_gain: gain out of range\n", [] { system_out_group_set_gain(1, 2, NAN); }},
        {"system_out_group_set_phase: phase out of range\n", [] { system_out_group_set_phase(1, 2, 2); }},
        {"system_out_group_set_grp_local: group out of range\n", [] { system_out_group_set_grp_local(1, 2, 4); }},
        {"system_out_group_set_grp_local: group out of range\n", [] { system_out_group_set_grp_local(1, 2, -2); }},
        {"system_out_group_set_grp_net: group out of range\n", [] { system_out_group_set_grp_net(1, 2, 8); }},
        {"system_out_group_set_input: input out of range\n", [] { system_out_group_set_input(1, 2, 8); }},
        {"system_out_group_set_input: group_lsp out of range\n", [] { system_out_group_set_input(1, -1, 0); }},
        {"system_out_group_set_eq_flags: group_lsp out of range\n", [] { system_out_group_set_eq_flags(1, 9, 0); }},
        {"system_out_group_set_peq: peqid out of range\n", [] { system_out_group_set_peq(1, 2, 4, 100, 1, 0, 0); }},
        {"system_out_group_set_peq: freq out of range\n", [] { system_out_group_set_peq(1, 2, 0, 15, 0, 99, 0); }},
        {"system_out_group_set_peq: q out of range\n", [] { system_out_group_set_peq(1, 2, 0, 100, 0.2f, 99, 0); }},
        {"system_out_group_set_peq: gain out of range\n", [] { system_out_group_set_peq(1, 2, 0, 100, 1, 16, 0); }},
        {"system_out_group_set_shelf: shelfid out of range\n", [] { system_out_group_set_shelf(1, 2, 2, 0, 0, 0); }},
        {"system_out_group_set_shelf: freq out of range\n", [] { system_out_group_set_shelf(1, 2, 0, 600, 0, 0); }},
        {"system_out_group_set_shelf: gain out of range\n", [] { system_out_group_set_shelf(1, 2, 1, 2e3f, 16, 0); }},
        // The output high-pass stops at 1200 Hz (the bus one at 24000), and
        // its kind is checked first.
        {"system_out_group_set_hpf: freq out of range\n", [] { system_out_group_set_hpf(1, 2, 1201, 1, 0); }},
        {"system_out_group_set_hpf: freq out of range\n", [] { system_out_group_set_hpf(1, 2, 15.9f, 1, 0); }},
        {"system_out_group_set_hpf: type out of range\n", [] { system_out_group_set_hpf(1, 2, 1e5f, 5, 0); }},
        {"system_out_group_label: label==NULL\n", [] { system_out_group_label(1, 2, nullptr); }},
        {"system_out_group_label: group_lsp out of range\n", [] { system_out_group_label(1, 8, "x"); }},
        {"system_out_group_set_mute: mute out of range\n", [] { system_out_group_set_mute(1, 2, 2); }},
        {"system_out_set_mute: outid out of range\n", [] { system_out_set_mute(1, 8, 0); }},
        {"system_out_set_mute: outid out of range\n", [] { system_out_set_mute(1, -2, 1); }},
        {"system_out_set_mute: mute out of range\n", [] { system_out_set_mute(1, 3, 2); }},
        {"system_out_set_mute: mute out of range\n", [] { system_out_set_mute(1, -1, -1); }},
    };
    for (const bad_case &c : cases)
        expect_rejected(c.message, c.call);
}

TEST_F(SystemOut, AGroupThatNoOutputCarriesChangesNothing)
{
    const std::string inactive = "find_first_out: group not active\n";
    expect_rejected(inactive, [] { system_out_group_set_gain(1, 3, -3); });
    expect_rejected(inactive, [] { system_out_group_set_mute(1, 4, 0); });
    expect_rejected(inactive, [] { system_out_group_label(1, 3, "x"); });
    expect_rejected(inactive, [] { system_out_group_set_delay(1, 4, 1, 0); });
    expect_rejected(inactive + "system_out_group_set_peq: out not found\n",
                    [] { system_out_group_set_peq(1, 3, 0, 100, 1, 0, 0); });
}

TEST_F(SystemOut, DelayLimitIsExpressedInTheCurrentUnit)
{
    // 293.15 K: 343.42 m/s, so 156.66667 ms are 53.80 m or 176.52 ft.
    my_sys->delay_unit = DELAY_UNIT_MS;
    expect_group_change(43, 1, [] { system_out_group_set_delay(1, 2, 156.66667f, 0); });
    EXPECT_EQ(my_sys->out[4].delay_ms, 156.66667f);
    EXPECT_NEAR(my_sys->out[4].delay_m, 53.802, 0.001);
    expect_rejected("system_out_group_set_delay: delay out of range (ms)\n",
                    [] { system_out_group_set_delay(1, 2, 157, 0); });

    my_sys->delay_unit = DELAY_UNIT_METRES;
    expect_group_change(43, 1, [] { system_out_group_set_delay(1, 2, 53.80f, 0); });
    EXPECT_NEAR(my_sys->out[3].delay_ms, 156.66, 0.01);
    expect_rejected("system_out_group_set_delay: delay out of range (meter)\n",
                    [] { system_out_group_set_delay(1, 2, 53.81f, 0); });

    my_sys->delay_unit = DELAY_UNIT_FEET;
    expect_group_change(43, 1, [] { system_out_group_set_delay(1, 2, 10, 0); });
    EXPECT_NEAR(my_sys->out[2].delay_m, 3.048, 1e-5);
    EXPECT_NEAR(my_sys->out[2].delay_ms, 3.048 / 0.34342, 1e-4);
    expect_group_change(43, 1, [] { system_out_group_set_delay(1, 2, 176.5f, 0); });
    expect_rejected("system_out_group_set_delay: delay out of range (feet)\n",
                    [] { system_out_group_set_delay(1, 2, 176.6f, 0); });
    for (float bad : {-0.01f, NAN})
        expect_rejected("system_out_group_set_delay: delay out of range (feet)\n",
                        [&] { system_out_group_set_delay(1, 2, bad, 0); });
    // Project loading gives metres whatever the unit.
    expect_group_change(43, 0, [] { system_out_group_set_delay(0, 2, 20, 1); });
    EXPECT_EQ(my_sys->out[2].delay_m, 20.0f);
    expect_rejected("system_out_group_set_delay: delay out of range (meter)\n",
                    [] { system_out_group_set_delay(0, 2, 60, 1); });
}

TEST_F(SystemOut, MutesArePerOutputAndBelongToTheProjectOnlyOnRequest)
{
    // System flags bit 0 clear: mutes are live settings, not project data.
    report_pending_clear();
    EXPECT_EQ(errors_of([] { system_out_set_mute(6, 3, 0); }), "");
    EXPECT_EQ(my_sys->out[3].mute, 0);
    EXPECT_EQ(my_sys->out[2].mute, 1);
    EXPECT_EQ(my_sys->out[4].mute, 1);
    EXPECT_EQ(report_pending.out[3], 1);
    EXPECT_EQ(report_pending.requester[44], 6);
    EXPECT_EQ(my_sys->modified, 0);
    EXPECT_FALSE(report_pending.project);

    // The group mute sets every output of the group; the pass reports each
    // as 44, so the requester goes to both ids.
    report_pending_clear();
    system_out_group_set_mute(7, 2, 0);
    for (int o = 0; o < SYS_OUTPUTS; o++) {
        EXPECT_EQ(my_sys->out[o].mute, o >= 2 && o <= 4 ? 0 : 1) << o;
        EXPECT_EQ(report_pending.out[o], o >= 2 && o <= 4) << o;
    }
    EXPECT_EQ(report_pending.requester[37], 7);
    EXPECT_EQ(report_pending.requester[44], 7);
    EXPECT_EQ(my_sys->modified, 0);

    // Bit 0 set: a mute change is a project change.
    my_sys->system_flags = 1;
    system_out_set_mute(6, 0, 0);
    EXPECT_EQ(my_sys->modified, 1);
    EXPECT_TRUE(report_pending.project);
    my_sys->modified = 0;
    system_out_group_set_mute(6, 2, 1);
    EXPECT_EQ(my_sys->modified, 1);

    // Output -1 with mute 0 is no alarm and no change.
    expect_rejected("", [] { system_out_set_mute(6, -1, 0); });
}

TEST_F(SystemOut, FreeingAnOutputGivesItTheLowestUnusedGroup)
{
    snprintf(my_sys->out[3].label, SYS_LABEL_SIZE, "Mid");
    my_sys->out[3].mute = 0;
    report_pending_clear();
    // Without a database the record's own copy of entry 0 stands in.
    EXPECT_EQ(errors_of([] { free_output_channel(2, 4); }),
              "free_output_channel: lspconfig_parse_from_id() returned NULL\n");
    const sys_output &o = my_sys->out[4];
    EXPECT_EQ(o.group_lsp, 3);  // 3 and 4 were free, 3 is the lowest
    EXPECT_EQ(o.mute, 1);
    EXPECT_EQ(o.id_lsp, 0);
    EXPECT_EQ(o.label[0], 0);
    EXPECT_EQ(o.lsp.ways, 1);
    EXPECT_EQ(o.lsp.locked, SYS_LSP_DIRECT_LOCK);
    EXPECT_STREQ(o.lsp.label, SYS_LSP_DIRECT_LABEL);
    EXPECT_EQ(o.way.way_index, 0);
    EXPECT_EQ(o.way.gain, 0.0f);
    EXPECT_EQ(o.way.release, 60.0f);
    EXPECT_TRUE(report_pending.group_map);
    EXPECT_EQ(report_pending.requester[36], 2);
    EXPECT_EQ(report_pending.out_flags[4] & REPORT_FLAG_REFRESH, REPORT_FLAG_REFRESH);
    EXPECT_EQ(my_sys->out[3].group_lsp, 2);  // the rest of the group stays

    // Every group number in use (each output its own group): the output
    // stays muted in its group.
    for (int i = 0; i < SYS_OUTPUTS; i++)
        my_sys->out[i].group_lsp = i;
    my_sys->out[3].mute = 0;
    EXPECT_EQ(errors_of([] { free_output_channel(2, 3); }), "free_output_channel: find_unused_group()==-1\n");
    EXPECT_EQ(my_sys->out[3].group_lsp, 3);
    EXPECT_EQ(my_sys->out[3].mute, 1);
    EXPECT_STREQ(my_sys->out[3].label, "Mid");
    EXPECT_EQ(errors_of([] { free_output_channel(2, 8); }), "free_output_channel: outid out of range\n");
}

// ---- copy ----

class SystemOutCopy : public SystemOut {
protected:
    void SetUp() override
    {
        SystemOut::SetUp();
        my_sys->modified = 1;
        sys_output &s = my_sys->out[6];  // group 6, one output
        s.bus_input = 5;
        s.gain = -4.5f;
        s.phase = 1;
        s.delay_m = 12.0f;
        s.delay_ms = (float)(12.0 / 0.34342);
        s.highpass = sys_highpass{200, 3, 1, 0};
        for (int i = 0; i < SYS_OUT_PEQ_BANDS; i++)
            s.peq[i] = sys_peq{300.0f * (i + 1), 3.0f, 2.0f, i & 1};
        s.shelf[0] = sys_shelf{90, -2, 1, 0};
        s.shelf[1] = sys_shelf{12000, 3, 0, 0};
        s.eq_flags = 0x920;
        s.group_local = 1;
        s.group_net = 2;
        snprintf(s.label, sizeof s.label, "Source");
        my_sys->out[2].eq_flags = 0x1;
        sync_group_outputs(2);
        report_pending_clear();
    }
};

TEST_F(SystemOutCopy, EachFlagCopiesItsValuesIntoTheWholeTargetGroup)
{
    struct flag_case {
        uint32_t flag;
        std::function<void(sys_output &, const sys_output &)> apply;
    };
    const flag_case cases[] = {
        {OUT_COPY_INPUT, [](sys_output &d, const sys_output &s) { d.bus_input = s.bus_input; }},
        {OUT_COPY_GAIN, [](sys_output &d, const sys_output &s) { d.gain = s.gain; }},
        {OUT_COPY_PHASE, [](sys_output &d, const sys_output &s) { d.phase = s.phase; }},
        {OUT_COPY_HIGHPASS,
         [](sys_output &d, const sys_output &s) {
             d.highpass = s.highpass;
             d.eq_flags = 0x1 | 0x800;
         }},
        {OUT_COPY_PEQ,
         [](sys_output &d, const sys_output &s) {
             memcpy(d.peq, s.peq, sizeof d.peq);
             d.eq_flags = 0x1 | 0x20;
         }},
        {OUT_COPY_SHELF,
         [](sys_output &d, const sys_output &s) {
             d.shelf[0] = s.shelf[0];
             d.shelf[1] = s.shelf[1];
             d.eq_flags = 0x1 | 0x100;
         }},
    };
    sys_file start = *my_sys;
    for (const flag_case &c : cases) {
        SCOPED_TRACE(c.flag);
        *my_sys = start;
        report_pending_clear();
        sys_file expected = start;
        for (int o : {2, 3, 4})
            c.apply(expected.out[o], start.out[6]);
        EXPECT_EQ(errors_of([&] { system_out_group_copy(5, 2, 6, c.flag); }), "");
        EXPECT_TRUE(record_equals(expected));
        EXPECT_EQ(report_pending.out[2], 1);
        EXPECT_EQ(report_pending.out[6], 0);
    }
}

TEST_F(SystemOutCopy, DelayTravelsInTheCurrentUnitEvenAtTheLimit)
{
    for (int unit : {DELAY_UNIT_METRES, DELAY_UNIT_FEET, DELAY_UNIT_MS}) {
        SCOPED_TRACE(unit);
        my_sys->delay_unit = unit;
        // At the limit, set in milliseconds: the unit's rounding must not refuse it.
        my_sys->delay_unit = DELAY_UNIT_MS;
        system_out_group_set_delay(0, 6, SYSTEM_OUT_DELAY_MAX_MS, 0);
        my_sys->delay_unit = unit;
        EXPECT_EQ(errors_of([] { system_out_group_copy(5, 2, 6, OUT_COPY_DELAY); }), "");
        EXPECT_NEAR(my_sys->out[4].delay_ms, SYSTEM_OUT_DELAY_MAX_MS, 1e-3);
        EXPECT_NEAR(my_sys->out[4].delay_m, my_sys->out[6].delay_m, 1e-4);
        EXPECT_EQ(report_pending.requester[43], 0);
    }
}

TEST_F(SystemOutCopy, CopyTellsTheUserAndMergesOnlyTheCopiedSectionBits)
{
    my_sys->out[2].eq_flags = 0x1000 | 0x800;
    sync_group_outputs(2);
    my_sys->out[6].eq_flags = 0x20;
    system_out_group_copy(4, 2, 6, OUT_COPY_HIGHPASS | OUT_COPY_PEQ | OUT_COPY_GAIN);
    EXPECT_EQ(my_sys->out[3].eq_flags, 0x1000 | 0x20);
    EXPECT_EQ(report_pending.requester[49], 0);
    EXPECT_EQ(report_pending.requester[38], 0);
    std::string line = reply_of([](report_writer *w) { EXPECT_TRUE(report_message_take(4, w)); });
    EXPECT_EQ(line, "25,4,0,Output%20copied.\n");

    // Nothing of the bits to take over: eq_flags is left alone.
    report_pending_clear();
    report_pending.requester[49] = 99;
    system_out_group_copy(4, 2, 6, OUT_COPY_INPUT);
    EXPECT_EQ(report_pending.requester[49], 99);
}

TEST_F(SystemOutCopy, BadGroupsChangeNothingAndTellTheUserNothing)
{
    struct bad_case {
        int dst, src;
        const char *errors;
    };
    const bad_case cases[] = {
        {3, 3, "system_out_group_copy: cannot copy on itself\n"},
        {9, 9, "system_out_group_copy: cannot copy on itself\n"},
        {8, 6,
         "system_out_group_copy: dest_group_lsp out of range\nfind_first_out: group not active\n"
         "system_out_group_copy: find_first_out()#2 out of range\n"},
        {2, -1,
         "system_out_group_copy: source_group_lsp out of range\nfind_first_out: group not active\n"
         "system_out_group_copy: find_first_out()#1 out of range\n"},
        {2, 3, "find_first_out: group not active\nsystem_out_group_copy: find_first_out()#1 out of range\n"},
        {4, 6, "find_first_out: group not active\nsystem_out_group_copy: find_first_out()#2 out of range\n"},
    };
    for (const bad_case &c : cases) {
        SCOPED_TRACE(c.errors);
        expect_rejected(c.errors, [&] { system_out_group_copy(3, c.dst, c.src, 0x7f); });
        EXPECT_EQ(reply_of([](report_writer *w) { EXPECT_FALSE(report_message_take(3, w)); }), "");
    }
}

}  // namespace
