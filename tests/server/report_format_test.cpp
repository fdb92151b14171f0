#include <cmath>
#include <vector>

#include "common/hw_rev.h"
#include "report_format.h"
#include "server_state.h"
#include "system_bus.h"
#include "wlan.h"

namespace {

using ReportFormat = ServerState;

template <class F>
std::string line_of(F f)
{
    return reply_of(f);
}

std::string curve_text(float v)
{
    char buf[32];
    size_t n = report_format_curve_value(buf, v);
    EXPECT_EQ(n, strlen(buf));
    return buf;
}

std::string flat_curve(int id, int index)
{
    std::string l = std::to_string(id) + ",0," + std::to_string(index);
    for (int i = 0; i < CURVE_POINTS; i++)
        l += ",0.0";
    return l;
}

TEST(ReportWriter, NeverWritesPastTheEnd)
{
    char buf[12];
    memset(buf, 'X', sizeof buf);
    report_writer w;
    report_writer_init(&w, buf, 10);
    report_format_append(&w, "%s", "0123456789abcdef");
    EXPECT_EQ(w.len, 9u);
    EXPECT_STREQ(buf, "012345678");
    report_format_append(&w, "more");
    EXPECT_EQ(w.len, 9u);
    EXPECT_EQ(buf[10], 'X');
    EXPECT_EQ(buf[11], 'X');

    report_writer_init(&w, buf, 1);
    report_format_append(&w, "abc");
    EXPECT_EQ(w.len, 0u);
    EXPECT_EQ(buf[0], 0);
}

TEST(ReportFormatCurve, OneDecimalRoundedTiesToEven)
{
    EXPECT_EQ(curve_text(0.0f), "0.0");
    EXPECT_EQ(curve_text(-0.0f), "0.0");
    EXPECT_EQ(curve_text(-0.04f), "0.0");
    EXPECT_EQ(curve_text(-0.05f), "0.0");  // -0.5 tenths: tie to the even 0, no sign
    EXPECT_EQ(curve_text(-0.06f), "-0.1");
    EXPECT_EQ(curve_text(0.25f), "0.2");   // 2.5 tenths -> 2
    EXPECT_EQ(curve_text(0.75f), "0.8");   // 7.5 tenths -> 8
    EXPECT_EQ(curve_text(-0.5f), "-0.5");
    EXPECT_EQ(curve_text(12.34f), "12.3");
    EXPECT_EQ(curve_text(-382.3f), "-382.3");
    EXPECT_EQ(curve_text(1000.0f), "1000.0");
    // Garbage from a broken design must still give a number.
    EXPECT_EQ(curve_text(NAN), "0.0");
    EXPECT_EQ(curve_text(1e30f), "99999999.9");
    EXPECT_EQ(curve_text(-INFINITY), "-99999999.9");
}

TEST_F(ReportFormat, CurveLine)
{
    float curve[CURVE_POINTS] = {};
    curve[0] = -3.25f;
    curve[127] = 15.0f;
    std::string l = line_of([&](report_writer *w) { report_format_bus_curve(w, 0, 2, curve); });
    std::string expected = "13,0,2,-3.2";
    for (int i = 1; i < 127; i++)
        expected += ",0.0";
    EXPECT_EQ(l, expected + ",15.0\n");
    EXPECT_EQ(line_of([&](report_writer *w) { report_format_out_curve(w, 0, 4, curve); }).substr(0, 12),
              "48,0,4,-3.2,");

    // Cut at the end of a small reply buffer, and terminated there.
    std::string cut = reply_of([&](report_writer *w) { report_format_bus_curve(w, 0, 2, curve); }, 40);
    EXPECT_EQ(cut, expected.substr(0, 39));
}

TEST_F(ReportFormat, BusLinesWithNegativeRoundedAndLargeValues)
{
    sys_bus &b = my_sys->bus[3];
    b.gain = -3.05f;  // just above -3.05 in binary: rounds to -3.0
    b.phase = 1;
    b.comp_thres = -0.04f;
    b.comp_ratio = 1e8f;
    b.comp_knee = 2.25f;  // exactly halfway: ties to even
    b.peak_overshoot = 2.45f;  // 2.4500000477: up
    b.comp_attack = 0.45f;     // 0.4499999881: down
    b.comp_release = 5000;
    b.peak_release = 499.95f;
    b.patch = 48;
    snprintf(b.label, sizeof b.label, "Kick%%20In");
    b.group_local = -1;
    b.group_net = 7;
    b.mute = 1;
    b.eq_flags = 0x924;
    b.geq[30] = -15;
    b.peq[4] = sys_peq{24000, 0.3f, -14.95f, 1};
    b.shelf[1] = sys_shelf{1000.5f, 15, 1, 0};
    b.highpass = sys_highpass{16.5f, 4, 1, 0};

    const std::pair<void (*)(report_writer *, int, int), const char *> lines[] = {
        {report_format_bus_mute, "1,7,3,1\n"},
        {report_format_bus_gain, "2,7,3,-3.0\n"},
        {report_format_bus_phase, "3,7,3,1\n"},
        {report_format_bus_comp_thres, "4,7,3,-0.0\n"},
        {report_format_bus_comp_ratio, "5,7,3,100000000.0\n"},
        {report_format_bus_comp_knee, "6,7,3,2.2\n"},
        {report_format_bus_peak_overshoot, "7,7,3,2.5\n"},
        {report_format_bus_patch, "8,7,3,48\n"},
        {report_format_bus_label, "9,7,3,Kick%20In\n"},
        {report_format_bus_group_local, "10,7,3,-1\n"},
        {report_format_bus_group_net, "11,7,3,7\n"},
        {report_format_bus_eq_flags, "14,7,3,2340\n"},
        {report_format_bus_hpf, "18,7,3,16,4,1\n"},
        {report_format_bus_comp_attack, "113,7,3,0.4\n"},
        {report_format_bus_comp_release, "114,7,3,5000.0\n"},
        {report_format_bus_peak_release, "115,7,3,500.0\n"},
    };
    for (const auto &line : lines)
        EXPECT_EQ(line_of([&](report_writer *w) { line.first(w, 7, 3); }), line.second);
    EXPECT_EQ(line_of([](report_writer *w) { report_format_bus_geq(w, 7, 3, 30); }), "12,7,3,30,-15.0\n");
    EXPECT_EQ(line_of([](report_writer *w) { report_format_bus_peq(w, 7, 3, 4); }), "16,7,3,4,24000,0.3,-14.9,1\n");
    EXPECT_EQ(line_of([](report_writer *w) { report_format_bus_shelf(w, 7, 3, 1); }), "17,7,3,1,1000,15.0,1\n");
    EXPECT_EQ(line_of([](report_writer *w) { report_format_bus_delay_applied(w, 3, 1.005f); }), "61,0,3,1.00\n");
    EXPECT_EQ(line_of([](report_writer *w) { report_format_bus_geq_masks(w, -127, 3, 0x80000000u, 5); }),
              "124,-127,3,2147483648,5\n");
    // Out-of-range indexes write nothing.
    EXPECT_EQ(line_of([](report_writer *w) {
                  report_format_bus_gain(w, 0, 8);
                  report_format_bus_geq(w, 0, 0, 31);
                  report_format_bus_peq(w, 0, 0, 5);
                  report_format_bus_shelf(w, 0, 0, -1);
              }),
              "");
}

TEST_F(ReportFormat, DelaysFollowTheUnit)
{
    sys_output &o = my_sys->out[2];
    o.delay_m = 10.0f;
    o.delay_ms = 29.118f;
    system_bus_set_delay(0, 1, -0.0f, 0);  // stored as 0, never reported as "-0.00"
    const char *expected[][3] = {
        {"43,0,2,10.00\n", "60,0,1,0.00\n", "23,0,0,293.15,53.80,0.00\n"},
        {"43,0,2,32.81\n", "60,0,1,0.00\n", "23,0,1,293.15,176.52,0.00\n"},
        {"43,0,2,29.12\n", "60,0,1,0.00\n", "23,0,2,293.15,156.67,0.00\n"},
    };
    for (int unit = 0; unit < 3; unit++) {
        my_sys->delay_unit = unit;
        EXPECT_EQ(line_of([](report_writer *w) { report_format_out_delay(w, 0, 2); }), expected[unit][0]);
        EXPECT_EQ(line_of([](report_writer *w) { report_format_bus_delay(w, 0, 1); }), expected[unit][1]);
        EXPECT_EQ(line_of([](report_writer *w) { report_format_delay_settings(w, 0); }), expected[unit][2]);
    }
    // Colder air, shorter distance for the same time.
    my_sys->delay_unit = 0;
    my_sys->temperature = 233.15f;
    EXPECT_EQ(line_of([](report_writer *w) { report_format_delay_settings(w, 0); }), "23,0,0,233.15,48.20,0.00\n");
}

TEST_F(ReportFormat, OutputGroupLinesNameTheGroup)
{
    // A two-way preset on outputs 2 and 3 as group 6.
    for (int o : {2, 3}) {
        sys_output &out = my_sys->out[o];
        out.group_lsp = 6;
        out.id_lsp = 14;
        out.lsp.ways = 2;
        snprintf(out.lsp.label, sizeof out.lsp.label, "Top%%20Two");
        snprintf(out.label, sizeof out.label, "Left");
        out.gain = -12.25f;
        out.phase = 1;
        out.group_local = 3;
        out.group_net = -1;
        out.bus_input = 7;
        out.eq_flags = 0x100;
        out.peq[3] = sys_peq{2500, 20, 15, 0};
        out.shelf[0] = sys_shelf{16, -15, 1, 0};
        out.highpass = sys_highpass{1200, 3, 0, 0};
    }
    my_sys->out[2].way.way_index = 3;
    my_sys->out[3].way.way_index = 1;
    my_sys->out[3].mute = 0;

    const std::pair<void (*)(report_writer *, int, int), const char *> lines[] = {
        {report_format_out_lsp_name, "34,5,6,Top%20Two\n"},
        {report_format_out_label, "35,5,6,Left\n"},
        {report_format_out_gain, "38,5,6,-12.2\n"},
        {report_format_out_phase, "39,5,6,1\n"},
        {report_format_out_group_local, "40,5,6,3\n"},
        {report_format_out_group_net, "41,5,6,-1\n"},
        {report_format_out_input, "42,5,6,7\n"},
        {report_format_out_eq_flags, "49,5,6,256\n"},
        {report_format_out_hpf, "47,5,6,1200,3,0\n"},
        {report_format_out_way_map, "33,5,6,-1,-1,3,1,-1,-1,-1,-1\n"},
        {report_format_out_mute, "44,5,3,0\n"},
    };
    for (const auto &line : lines)
        EXPECT_EQ(line_of([&](report_writer *w) { line.first(w, 5, 3); }), line.second);
    EXPECT_EQ(line_of([](report_writer *w) { report_format_out_peq(w, 5, 3, 3); }), "45,5,6,3,2500,20.0,15.0,0\n");
    EXPECT_EQ(line_of([](report_writer *w) { report_format_out_shelf(w, 5, 3, 0); }), "46,5,6,0,16,-15.0,1\n");
    EXPECT_EQ(line_of([](report_writer *w) { report_format_out_delay_applied(w, 2, 156.66667f); }),
              "50,0,6,156.67\n");
    EXPECT_EQ(line_of([](report_writer *w) { report_format_group_map(w, 0); }),
              "32,0,0,1,6,6,4,5,6,7,0,0,14,14,0,0,0,0\n");

    // A failed assignment can leave more outputs in a group than its preset
    // has ways: the map names only the ways from the first output on.
    my_sys->out[4].group_lsp = 6;
    my_sys->out[4].way.way_index = 2;
    EXPECT_EQ(line_of([](report_writer *w) { report_format_out_way_map(w, 0, 4); }),
              "33,0,6,-1,-1,3,1,-1,-1,-1,-1\n");
    my_sys->out[4].group_lsp = 4;

    // Group 3 has no output any more: no block at all.
    EXPECT_EQ(report_format_first_out(3), -1);
    EXPECT_EQ(line_of([](report_writer *w) { report_format_out_group_block(w, 0, 3); }), "");
    std::vector<std::string> block =
        lines_of(line_of([](report_writer *w) { report_format_out_group_block(w, 0, 6); }));
    ASSERT_EQ(block.size(), 19u);
    EXPECT_EQ(block[0], "34,0,6,Top%20Two");
    EXPECT_EQ(block[9], "33,0,6,-1,-1,3,1,-1,-1,-1,-1");
    EXPECT_EQ(block[10], "49,0,6,256");
    EXPECT_EQ(block[18], flat_curve(48, 6));
}

TEST_F(ReportFormat, DeviceAndProjectLines)
{
    my_sys->net_flags = 3;
    my_sys->ip[3] = 200;
    my_sys->gateway[0] = 10;
    my_sys->gateway[3] = 1;
    my_sys->netmask_bits = 8;
    EXPECT_EQ(line_of([](report_writer *w) { report_format_network(w, 2, 3232235720u, true); }),
              "21,2,3232235720,259,192,168,0,200,8,10,0,0,1\n");
    EXPECT_EQ(line_of([](report_writer *w) { report_format_network(w, 2, 0, false); }),
              "21,2,0,3,192,168,0,200,8,10,0,0,1\n");

    my_sys->service_mode = 1;
    my_sys->key_lock = 4711;
    my_sys->system_flags = 1;
    my_sys->digital_mode = 0x21;
    my_sys->amp[7] = sys_amp{48, 20, {}};
    EXPECT_EQ(line_of([](report_writer *w) { report_format_service_mode(w, 1); }), "20,1,1\n");
    EXPECT_EQ(line_of([](report_writer *w) { report_format_device_name(w, 1); }), "22,1,KARU8-4660\n");
    EXPECT_EQ(line_of([](report_writer *w) { report_format_key_lock(w, 1); }), "27,1,4711\n");
    EXPECT_EQ(line_of([](report_writer *w) { report_format_system_flags(w, 1); }), "62,1,1\n");
    EXPECT_EQ(line_of([](report_writer *w) { report_format_digital_mode(w, 1); }), "63,1,33\n");
    EXPECT_EQ(line_of([](report_writer *w) { report_format_amplifier(w, 1, 7); }), "24,1,7,48,20\n");
    EXPECT_EQ(line_of([](report_writer *w) { report_format_wlan_passphrase(w, 1, "abc%21"); }), "112,1,abc%21\n");
    EXPECT_EQ(line_of([](report_writer *w) { report_format_user_message(w, 4, 1, "Wrong lock code.\nProject not saved."); }),
              "25,4,1,Wrong%20lock%20code.%0AProject%20not%20saved.\n");

    const uint8_t mac[6] = {0x00, 0x0a, 0x01, 0x02, 0xbe, 0xef};
    EXPECT_EQ(line_of([&](report_writer *w) { report_format_version_lines(w, 0, mac, "Linux%203.2"); }),
              "1036,0,2,2,0,0,3560,a,102beef,Linux%203.2\n122,0,2,2,0,0,3560,a,102beef,Linux%203.2\n");
    // The longest system text (127 characters, each escaped) is not cut.
    std::string longest;
    for (int i = 0; i < 127; i++)
        longest += "%u20AC";
    std::string version = "2,2,0,0,3560,a,102beef," + longest + "\n";
    EXPECT_EQ(line_of([&](report_writer *w) { report_format_version_lines(w, 0, mac, longest.c_str()); }),
              "1036,0," + version + "122,0," + version);

    my_sys->project_id = 12;
    my_sys->project_lock = 5;
    my_sys->modified = 1;
    snprintf(my_sys->project_label, sizeof my_sys->project_label, "Hall%%20B");
    EXPECT_EQ(line_of([](report_writer *w) { report_format_project(w, 0, 9); }), "100,0,12,5,9,1,Hall%20B\n");
}

TEST_F(ReportFormat, TextFieldsWithoutTerminatorStayInsideTheRecord)
{
    memset(my_sys->bus[0].label, 'L', sizeof my_sys->bus[0].label);
    memset(my_sys->device_name, 'N', sizeof my_sys->device_name);
    EXPECT_EQ(line_of([](report_writer *w) { report_format_bus_label(w, 0, 0); }),
              "9,0,0," + std::string(SYS_LABEL_SIZE - 1, 'L') + "\n");
    EXPECT_EQ(line_of([](report_writer *w) { report_format_device_name(w, 0); }),
              "22,0," + std::string(SYS_LABEL_SIZE - 1, 'N') + "\n");
}

// The dump of a fresh device, spelled out line by line.
// passphrase: the one the device made up for itself on first asking.
std::vector<std::string> default_dump(const std::string &passphrase)
{
    struct bus_row {
        const char *label;
        int patch, group_local;
        const char *gain;
    };
    const bus_row rev2[8] = {
        {"A", 1, 0, "0.0"},           {"B", 2, 0, "0.0"},         {"A+B%20Mono", 3, -1, "-6.0"},
        {"C", 4, 1, "0.0"},           {"D", 8, 1, "0.0"},         {"C+D%20Mono", 12, -1, "-6.0"},
        {"AES%20C%20left", 16, 2, "0.0"}, {"AES%20C%20right", 32, 2, "0.0"},
    };
    const bus_row rev1[8] = {
        {"A", 1, 0, "0.0"}, {"B", 2, 0, "0.0"}, {"A+B%20Mono", 3, -1, "-6.0"}, {"", 0, -1, "0.0"},
        {"", 0, -1, "0.0"}, {"", 0, -1, "-6.0"}, {"", 0, -1, "0.0"},           {"", 0, -1, "0.0"},
    };
    const bus_row *rows = hw::rev == 2 ? rev2 : rev1;
    const char *delay_settings = "23,0,0,293.15,53.80,0.00";

    std::vector<std::string> d;
    auto add = [&](const std::string &l) { d.push_back(l); };
    for (int b = 0; b < 8; b++) {
        std::string p = ",0," + std::to_string(b) + ",";
        add("9" + p + rows[b].label);
        add("8" + p + std::to_string(rows[b].patch));
        add("2" + p + rows[b].gain);
        add("3" + p + "0");
        add("4" + p + "0.0");
        add("5" + p + "100000000.0");
        add("7" + p + "30.0");
        add("6" + p + "0.0");
        add("113" + p + "50.0");
        add("114" + p + "80.0");
        add("115" + p + "0.0");
        add("10" + p + std::to_string(rows[b].group_local));
        add("11" + p + "-1");
        add("1" + p + "0");
        add(delay_settings);
        add("60" + p + "0.00");
        add("61" + p + "0.00");
        add("14" + p + "0");
        for (int i = 0; i < 31; i++)
            add("12" + p + std::to_string(i) + ",0.0");
        add("16" + p + "0,50,1.0,0.0,0");
        add("16" + p + "1,200,1.0,0.0,0");
        add("16" + p + "2,800,1.0,0.0,0");
        add("16" + p + "3,2500,1.0,0.0,0");
        add("16" + p + "4,5000,1.0,0.0,0");
        add("17" + p + "0,100,0.0,0");
        add("17" + p + "1,10000,0.0,0");
        add("18" + p + "80,0,0");
        add(flat_curve(13, b));
    }
    add("32,0,0,1,2,3,4,5,6,7,0,0,0,0,0,0,0,0");
    for (int o = 0; o < 8; o++)
        add("44,0," + std::to_string(o) + ",1");
    for (int g = 0; g < 8; g++) {
        std::string p = ",0," + std::to_string(g) + ",";
        add("34" + p + "Direct%20Out");
        add("35" + p);
        add("38" + p + "0.0");
        add("39" + p + "0");
        add("40" + p + "-1");
        add("41" + p + "-1");
        add("42" + p + "0");
        add("43" + p + "0.00");
        add("50" + p + "0.00");
        std::string ways;
        for (int o = 0; o < 8; o++)
            ways += o == g ? ",0" : ",-1";
        add("33,0," + std::to_string(g) + ways);
        add("49" + p + "0");
        add("45" + p + "0,50,1.0,0.0,0");
        add("45" + p + "1,200,1.0,0.0,0");
        add("45" + p + "2,800,1.0,0.0,0");
        add("45" + p + "3,2500,1.0,0.0,0");
        add("46" + p + "0,100,0.0,0");
        add("46" + p + "1,10000,0.0,0");
        add("47" + p + "80,0,0");
        add(flat_curve(48, g));
    }
    // MAC 02:00:00:00:12:34: device 4660, address 192.168.0.70.
    add("21,0,0,0,192,168,0,70,24,0,0,0,0");  // the bridge has no address yet
    add("112,0," + passphrase);
    add("20,0,0");
    add("22,0,KARU8-4660");
    add(delay_settings);
    add("27,0,0");
    add("63,0,0");
    add("62,0,0");
    for (int o = 0; o < 8; o++)
        add("24,0," + std::to_string(o) + ",32,100000000");
    add("1036,0,2,2,0,0,3560,200,1234,Linux%204.9.88-sim");
    add("122,0,2,2,0,0,3560,200,1234,Linux%204.9.88-sim");
    add("100,0,0,-1,0,0,UNNAMED");
    add("97,0,1");
    add("98,0");
    return d;
}

TEST_F(ReportFormat, FullDumpOfAFreshDevice)
{
    std::string text = reply_of([](report_writer *w) { report_format_full_dump(w); });
    ASSERT_FALSE(text.empty());
    EXPECT_EQ(text.back(), '\n');
    std::vector<std::string> got = lines_of(text);
    std::string passphrase = read_file(root_.path(WLAN_PASSPHRASE_FILE));
    EXPECT_EQ(passphrase.size(), 10u);
    std::vector<std::string> want = default_dump(passphrase);
    ASSERT_EQ(got.size(), want.size());
    for (size_t i = 0; i < want.size(); i++)
        EXPECT_EQ(got[i], want[i]) << "line " << i;
}

TEST_F(ReportFormat, FullDumpIsCutAtTheBufferEnd)
{
    std::string full = reply_of([](report_writer *w) { report_format_full_dump(w); });
    std::string cut = reply_of([](report_writer *w) { report_format_full_dump(w); }, 1000);
    EXPECT_EQ(cut, full.substr(0, 999));
}

}  // namespace
