#include <cmath>
#include <functional>

#include "command.h"
#include "server_state.h"

namespace {

using Command = ServerState;

std::string run(const std::string &line, int internal = 0)
{
    return errors_of([&] { command_work(line.c_str(), internal); });
}

TEST_F(Command, ConnectionIdTravelsToTheMark)
{
    EXPECT_EQ(run("1,5,0,1"), "");
    EXPECT_EQ(my_sys->bus[0].mute, 1);
    EXPECT_EQ(report_pending.requester[1], 5);
    EXPECT_EQ(report_pending.bus[0], 1);

    // The same line from a linked device carries the link's id.
    EXPECT_EQ(run("1,5,0,0", 1), "");
    EXPECT_EQ(my_sys->bus[0].mute, 0);
    EXPECT_EQ(report_pending.requester[1], COMMAND_CONN_INTERNAL);
}

TEST_F(Command, MalformedAndUnknownLinesChangeNothing)
{
    sys_file before = *my_sys;
    EXPECT_EQ(run(" 1,0,0,1"), "command_work: defect command (' 1,0,0,1')\n");
    EXPECT_EQ(run("-1,0"), "command_work: defect command ('-1,0')\n");
    EXPECT_EQ(run(""), "command_work: defect command ('')\n");
    EXPECT_EQ(run("126,0"), "command_work: error (command_id=126; command_dispatch[command_id]=0)\n");
    EXPECT_EQ(run("13,0"), "command_work: error (command_id=13; command_dispatch[command_id]=0)\n");
    EXPECT_EQ(run("0,0"), "command_work: error (command_id=0; command_dispatch[command_id]=0)\n");
    EXPECT_EQ(run("4096,1,0,1"), "command_work: error (command_id=4096; command_dispatch[command_id]=0)\n");
    EXPECT_TRUE(record_equals(before));
    EXPECT_TRUE(nothing_marked());
}

TEST_F(Command, IgnoredIdsAreAcceptedSilently)
{
    sys_file before = *my_sys;
    EXPECT_EQ(run("83,0,1"), "");
    EXPECT_EQ(run("84,0"), "");
    EXPECT_EQ(run("125,0"), "");
    EXPECT_TRUE(record_equals(before));
    EXPECT_TRUE(nothing_marked());
}

TEST_F(Command, MissingArgumentsAreRefused)
{
    sys_file before = *my_sys;
    // Refused by the operation's own range check.
    EXPECT_EQ(run("2,1,0"), "system_bus_set_gain: gain out of range\n");
    EXPECT_EQ(run("2,1"), "system_bus_set_gain: busid out of range\n");
    EXPECT_EQ(run("1,1,3"), "system_bus_set_mute: mute out of range\n");
    EXPECT_EQ(run("12,1,0"), "system_bus_set_geq: geqid out of range\n");
    EXPECT_EQ(run("15,1"), "system_bus_geq_reset: busid out of range\n");
    EXPECT_EQ(run("60,1,0"), "system_bus_set_delay: delay out of range (meter)\n");
    // Values that no range could refuse must be there.
    EXPECT_EQ(run("8,1,0"), "command_work: missing argument ('8,1,0')\n");
    EXPECT_EQ(run("14,1,0"), "command_work: missing argument ('14,1,0')\n");
    EXPECT_EQ(run("16,1,0,1,1000,1,3"), "command_work: missing argument ('16,1,0,1,1000,1,3')\n");
    EXPECT_EQ(run("17,1,0,1,2000,3"), "command_work: missing argument ('17,1,0,1,2000,3')\n");
    EXPECT_EQ(run("18,1,0,100,1"), "command_work: missing argument ('18,1,0,100,1')\n");
    EXPECT_EQ(run("120,1,0,1"), "command_work: missing argument ('120,1,0,1')\n");
    EXPECT_TRUE(record_equals(before));
    EXPECT_TRUE(nothing_marked());
}

TEST_F(Command, EveryBusEntryParsesItsArguments)
{
    struct entry_case {
        const char *line;
        std::function<bool(const sys_bus &)> holds;
        int report_id;
    };
    const entry_case cases[] = {
        {"1,2,6,1", [](const sys_bus &b) { return b.mute == 1; }, 1},
        {"2,2,6,-3.5", [](const sys_bus &b) { return b.gain == -3.5f; }, 2},
        {"3,2,6,1", [](const sys_bus &b) { return b.phase == 1; }, 3},
        {"4,2,6,-20.5", [](const sys_bus &b) { return b.comp_thres == -20.5f; }, 4},
        {"5,2,6,4", [](const sys_bus &b) { return b.comp_ratio == 4.0f; }, 5},
        {"6,2,6,6", [](const sys_bus &b) { return b.comp_knee == 6.0f; }, 6},
        {"7,2,6,12", [](const sys_bus &b) { return b.peak_overshoot == 12.0f; }, 7},
        {"8,2,6,48", [](const sys_bus &b) { return b.patch == 48; }, 8},
        {"9,2,6,Kick%20Drum", [](const sys_bus &b) { return std::string(b.label) == "Kick%20Drum"; }, 9},
        {"10,2,6,3", [](const sys_bus &b) { return b.group_local == 3; }, 10},
        {"11,2,6,7", [](const sys_bus &b) { return b.group_net == 7; }, 11},
        {"12,2,6,30,-4.5", [](const sys_bus &b) { return b.geq[30] == -4.5f; }, 12},
        {"14,2,6,2048", [](const sys_bus &b) { return b.eq_flags == 2048; }, 14},
        {"16,2,6,3,1000,2.5,-4.5,1",
         [](const sys_bus &b) {
             const sys_peq &p = b.peq[3];
             return p.freq == 1000.0f && p.q == 2.5f && p.gain == -4.5f && p.bypass == 1;
         },
         16},
        {"17,2,6,1,8000,3,1",
         [](const sys_bus &b) { return b.shelf[1].freq == 8000.0f && b.shelf[1].gain == 3.0f && b.shelf[1].bypass; },
         17},
        {"18,2,6,120,2,1",
         [](const sys_bus &b) { return b.highpass.freq == 120.0f && b.highpass.kind == 2 && b.highpass.bypass == 1; },
         18},
        {"60,2,6,0", [](const sys_bus &b) { return b.delay_m == 0.0f && b.delay_ms == 0.0f; }, 60},
        {"113,2,6,20.5", [](const sys_bus &b) { return b.comp_attack == 20.5f; }, 113},
        {"114,2,6,250", [](const sys_bus &b) { return b.comp_release == 250.0f; }, 114},
        {"115,2,6,40", [](const sys_bus &b) { return b.peak_release == 40.0f; }, 115},
        {"15,2,6", [](const sys_bus &b) { return b.geq[30] == 0.0f; }, 12},
    };
    for (const entry_case &c : cases) {
        SCOPED_TRACE(c.line);
        report_pending_clear();
        EXPECT_EQ(run(c.line), "");
        EXPECT_TRUE(c.holds(my_sys->bus[6]));
        EXPECT_EQ(report_pending.requester[c.report_id], 2);
        EXPECT_EQ(report_pending.bus[6], 1);
    }
}

TEST_F(Command, CopyAndMaskEntries)
{
    EXPECT_EQ(run("120,3,0,1,2"), "");
    EXPECT_EQ(my_sys->bus[0].gain, my_sys->bus[1].gain);
    EXPECT_EQ(run("120,3,0,1,4294967295"), "");  // every flag, as an unsigned word
    EXPECT_EQ(run("124,3,0,1,2"), "system_bus_set_geq_ibt: bits_plus/bits_minus inconsistent\n");
}

TEST_F(Command, TextArgumentsAreCutAtTheirWidth)
{
    std::string label(300, 'a');
    EXPECT_EQ(run("9,1,4," + label), "");
    EXPECT_EQ(std::string(my_sys->bus[4].label), std::string(200, 'a'));

    // The shared text buffer starts empty for every line: an absent label clears.
    EXPECT_EQ(run("9,1,4"), "");
    EXPECT_STREQ(my_sys->bus[4].label, "");
}

}  // namespace
