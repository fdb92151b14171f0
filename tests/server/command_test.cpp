#include <climits>
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
    // -1 is a valid "no link group": a cut line must not leave the group.
    EXPECT_EQ(run("10,1,0"), "command_work: missing argument ('10,1,0')\n");
    EXPECT_EQ(run("11,1,0"), "command_work: missing argument ('11,1,0')\n");
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

TEST_F(Command, EveryGroupEntryParsesItsArguments)
{
    struct entry_case {
        const char *line;
        std::function<bool(const sys_output &)> holds;
        int report_id;
    };
    const entry_case cases[] = {
        {"35,2,6,Main%20Left", [](const sys_output &o) { return std::string(o.label) == "Main%20Left"; }, 35},
        {"37,2,6,0", [](const sys_output &o) { return o.mute == 0; }, 37},
        {"38,2,6,-3.5", [](const sys_output &o) { return o.gain == -3.5f; }, 38},
        {"39,2,6,1", [](const sys_output &o) { return o.phase == 1; }, 39},
        {"40,2,6,-1", [](const sys_output &o) { return o.group_local == -1; }, 40},
        {"41,2,6,7", [](const sys_output &o) { return o.group_net == 7; }, 41},
        {"42,2,6,4", [](const sys_output &o) { return o.bus_input == 4; }, 42},
        {"43,2,6,1.5", [](const sys_output &o) { return o.delay_m == 1.5f; }, 43},
        {"44,2,6,1", [](const sys_output &o) { return o.mute == 1; }, 44},
        {"45,2,6,3,1000,2.5,-4.5,1",
         [](const sys_output &o) {
             const sys_peq &p = o.peq[3];
             return p.freq == 1000.0f && p.q == 2.5f && p.gain == -4.5f && p.bypass == 1;
         },
         45},
        {"46,2,6,0,90,3,1",
         [](const sys_output &o) { return o.shelf[0].freq == 90.0f && o.shelf[0].gain == 3.0f && o.shelf[0].bypass; },
         46},
        {"47,2,6,120,2,1",
         [](const sys_output &o) { return o.highpass.freq == 120.0f && o.highpass.kind == 2 && o.highpass.bypass; },
         47},
        {"49,2,6,2048", [](const sys_output &o) { return o.eq_flags == 2048; }, 49},
    };
    for (const entry_case &c : cases) {
        SCOPED_TRACE(c.line);
        report_pending_clear();
        EXPECT_EQ(run(c.line), "");
        EXPECT_TRUE(c.holds(my_sys->out[6]));
        EXPECT_EQ(report_pending.requester[c.report_id], 2);
        EXPECT_EQ(report_pending.out[6], 1);
    }
    EXPECT_EQ(run("121,3,5,6,2"), "");
    EXPECT_EQ(my_sys->out[5].gain, -3.5f);
}

TEST_F(Command, CutGroupAndDeviceLinesChangeNothing)
{
    sys_file before = *my_sys;
    // Link groups, masks and flags: -1 or 0 would be valid values, so the
    // argument must be there.
    for (const char *line : {"40,1,2", "41,1,2", "49,1,2", "45,1,2,0,100,1,0", "46,1,2,0,100,0", "47,1,2,100,1",
                             "121,1,2,3", "20,1", "21,1,0,3,10,0,0,5,24,0,0,0"})
        EXPECT_EQ(run(line), std::string("command_work: missing argument ('") + line + "')\n");
    // The others are refused by their own range checks.
    EXPECT_EQ(run("44,1"), "system_out_set_mute: mute out of range\n");
    EXPECT_EQ(run("44,1,-1"), "system_out_set_mute: mute out of range\n");
    EXPECT_EQ(run("37,1,2"), "system_out_group_set_mute: mute out of range\n");
    EXPECT_EQ(run("38,1"), "system_out_group_set_gain: group_lsp out of range\n");
    EXPECT_EQ(run("43,1,2"), "system_out_group_set_delay: delay out of range (meter)\n");
    EXPECT_EQ(run("24,1,0,10"), "system_misc_set_amplifiers: peak_voltage out of range\n");
    EXPECT_TRUE(record_equals(before));
    EXPECT_TRUE(nothing_marked());
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


// A number beyond 32 bits would keep its low bits on a 64-bit host and
// saturate on the device; either way a value nobody sent. It counts as missing.
TEST_F(Command, NumbersBeyondThirtyTwoBitsAreRefused)
{
    sys_file before = *my_sys;
    EXPECT_EQ(run("2,1,4294967296,-7"), "system_bus_set_gain: busid out of range\n");
    EXPECT_EQ(run("1,1,0,4294967297"), "system_bus_set_mute: mute out of range\n");
    EXPECT_EQ(run("8,1,1,99999999999"), "command_work: missing argument ('8,1,1,99999999999')\n");
    EXPECT_EQ(run("121,1,4294967296,0,1"), "command_work: missing argument ('121,1,4294967296,0,1')\n");
    EXPECT_EQ(run("120,1,1,0,4294967296"), "command_work: missing argument ('120,1,1,0,4294967296')\n");
    EXPECT_EQ(run("4294967298,1,0,-9"), "command_work: defect command ('4294967298,1,0,-9')\n");
    EXPECT_EQ(run("2,4294967297,0,-8"), "command_work: defect command ('2,4294967297,0,-8')\n");
    EXPECT_EQ(run("2,-2147483649,0,-8"), "command_work: defect command ('2,-2147483649,0,-8')\n");
    EXPECT_TRUE(record_equals(before));
    EXPECT_TRUE(nothing_marked());

    // The edges themselves are numbers; a text of digits is still a text.
    EXPECT_EQ(run("2,2147483647,0,-8"), "");
    EXPECT_EQ(my_sys->bus[0].gain, -8.0f);
    EXPECT_EQ(run("1,-2147483648,3,1"), "");
    EXPECT_EQ(my_sys->bus[3].mute, 1);
    EXPECT_EQ(run("9,1,2,12345678901234567890"), "");
    EXPECT_STREQ(my_sys->bus[2].label, "12345678901234567890");
}

TEST(CommandScan, ConversionsStopBeforeTheFirstNumberThatDoesNotFit)
{
    int a = -1, b = -1, c = -1;
    unsigned u = 7;
    float f = 0;
    EXPECT_EQ(command_scan("1,2,3", "%d,%d,%d", &a, &b, &c), 3);
    EXPECT_EQ(command_scan("1,4294967296,3", "%d,%d,%d", &a, &b, &c), 1);
    EXPECT_EQ(a, 1);
    EXPECT_EQ(b, 2);  // untouched from the line before
    EXPECT_EQ(command_scan("9,0000000000000012,-2147483648", "%d,%d,%d", &a, &b, &c), 3);
    EXPECT_EQ(b, 12);
    EXPECT_EQ(c, INT_MIN);
    // "%u" takes what glibc takes the same way on every host: up to 2^32 - 1, and negated values.
    EXPECT_EQ(command_scan("4294967295", "%u", &u), 1);
    EXPECT_EQ(u, 4294967295u);
    EXPECT_EQ(command_scan("-1", "%u", &u), 1);
    EXPECT_EQ(u, 4294967295u);
    EXPECT_EQ(command_scan("-4294967296", "%u", &u), 0);
    // Reals, skipped fields and non-numbers are sscanf's own business.
    EXPECT_EQ(command_scan("5,1e300,x", "%*d,%f,%d", &f, &a), 1);
    EXPECT_TRUE(std::isinf(f));
    EXPECT_EQ(command_scan("99999999999,3", "%*d,%d", &a), 0);
}

}  // namespace
