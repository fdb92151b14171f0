// Output groups and device settings through the real update passes: command
// lines run under the command lock as a client link runs them, real-time
// cycles driven by the test, the FPGA window read from outside through a
// second mapping of DIR/dev/fpgabus.
#include "command.h"
#include "dsp/dsp_lowlevel.h"
#include "dsp/rt_thread.h"
#include "server/server_state.h"
#include "support/fpga_view.h"
#include "system_out.h"
#include "system_sys.h"
#include "wlan.h"

namespace {

// Word 14 of output o's dynamics block (its gain with polarity), and its delay in samples.
float out_gain(const FpgaView &v, int o)
{
    return v.f32(dsp_dyn_out(o) + 4 * 14);
}

uint16_t out_delay(const FpgaView &v, int o)
{
    return v.u16(FPGA_OUT_DELAY + 2 * (uint32_t)o);
}

size_t count_prefix(const std::vector<std::string> &lines, const std::string &prefix)
{
    size_t n = 0;
    for (const std::string &l : lines)
        if (l.compare(0, prefix.size(), prefix) == 0)
            n++;
    return n;
}

bool has_line(const std::vector<std::string> &lines, const std::string &line)
{
    return std::find(lines.begin(), lines.end(), line) != lines.end();
}

class DevicePass : public ServerState {
protected:
    void SetUp() override
    {
        ServerState::SetUp();
        // Outputs 2, 3 and 4 form group 2 with a three-way preset whose
        // ways lower the gain by 0, 1 and 2 dB.
        for (int i = 0; i < 3; i++) {
            sys_output &o = my_sys->out[2 + i];
            o.group_lsp = 2;
            o.lsp.ways = 3;
            o.way.way_index = i + 1;
            o.way.gain = -1.0f * (float)i;
        }
        FdCapture cap;
        ASSERT_EQ(dsp_lowlevel_prepare(), 0);
        cap.finish();
        rt_cycle_init(&st_);
        // The first cycles report the whole state.
        bool quiet = false;
        for (int i = 0; i < 20 && !quiet; i++)
            quiet = cycle().empty();
        ASSERT_TRUE(quiet);
    }

    // A command line as a client link runs it; returns the diagnostics.
    std::string command(const std::string &line)
    {
        pthread_mutex_lock(&command_lock);
        std::string err = errors_of([&] { command_work(line.c_str(), 0); });
        pthread_mutex_unlock(&command_lock);
        return err;
    }

    // One real-time cycle; its report lines, taken as the clients take them.
    std::string cycle()
    {
        rt_cycle(&st_);
        pthread_mutex_lock(&command_lock);
        std::string text(rt_info->command_stream, rt_info->command_stream_size);
        rt_info->command_stream_size = 0;
        rt_info->command_stream[0] = 0;
        pthread_mutex_unlock(&command_lock);
        return text;
    }

    std::vector<std::string> cycle_lines() { return lines_of(cycle()); }

    rt_cycle_state st_;
};

TEST_F(DevicePass, GroupValuesLandInTheWindowForEveryOutputOfTheGroup)
{
    FpgaView fpga(root_.path("/dev/fpgabus"));
    ASSERT_TRUE(fpga.ok());
    EXPECT_EQ(command("37,3,2,0"), "");
    EXPECT_EQ(command("38,3,2,-6"), "");
    EXPECT_EQ(command("43,3,2,10"), "");  // metres
    EXPECT_EQ(command("42,3,2,5"), "");
    EXPECT_EQ(command("39,3,2,1"), "");
    std::vector<std::string> l = cycle_lines();

    // One report per change, though three outputs changed.
    EXPECT_EQ(count_prefix(l, "38,"), 1u);
    EXPECT_TRUE(has_line(l, "38,3,2,-6.0"));
    EXPECT_TRUE(has_line(l, "43,3,2,10.00"));
    EXPECT_TRUE(has_line(l, "42,3,2,5"));
    EXPECT_TRUE(has_line(l, "39,3,2,1"));
    EXPECT_EQ(count_prefix(l, "43,"), 1u);
    EXPECT_EQ(count_prefix(l, "37,"), 0u);
    for (int o : {2, 3, 4})
        EXPECT_TRUE(has_line(l, "44,3," + std::to_string(o) + ",0")) << o;
    EXPECT_EQ(count_prefix(l, "44,"), 3u);

    for (int i = 0; i < 3; i++) {
        int o = 2 + i;
        SCOPED_TRACE(o);
        // Group gain plus the way's gain, inverted by the group's phase.
        EXPECT_EQ(out_gain(fpga, o), dsp_gain_word(-6.0f - (float)i, 1));
        EXPECT_LT(out_gain(fpga, o), -0.3f);
        // 10 m at 343.42 m/s: round(29.1188 ms x 96).
        EXPECT_EQ(out_delay(fpga, o), 2795);
        EXPECT_EQ(fpga.u8(FPGA_SOURCE_BUS + (uint32_t)o), 5);
    }
    // Outputs of other groups keep theirs.
    EXPECT_EQ(out_delay(fpga, 1), 0);
    EXPECT_EQ(fpga.u8(FPGA_SOURCE_BUS + 1), 0);
    EXPECT_EQ(fpga.u8(FPGA_SOURCE_BUS + 5), 0);

    // A parametric band reaches the slot of every output of the group.
    EXPECT_EQ(command("45,3,2,1,1000,2,6,0"), "");
    l = cycle_lines();
    EXPECT_TRUE(has_line(l, "45,3,2,1,1000,2.0,6.0,0"));
    EXPECT_EQ(count_prefix(l, "48,0,2,"), 1u);
    uint32_t row = ROW_OUT_PEQ + 0x100;
    for (int o : {3, 4})
        for (int w = 0; w < 7; w++)
            EXPECT_EQ(fpga.f32(row + 32 * o + 4 * w), fpga.f32(row + 64 + 4 * w)) << o;
    EXPECT_NE(fpga.f32(row + 64 + 4 * 2), fpga.f32(row + 32 * 1 + 4 * 2));  // output 1 is untouched

    // Nothing more to say afterwards.
    EXPECT_EQ(cycle(), "");
}

TEST_F(DevicePass, AlarmMutesAtOnceAndARepeatExtendsIt)
{
    FpgaView fpga(root_.path("/dev/fpgabus"));
    ASSERT_TRUE(fpga.ok());
    command("44,1,1,0");
    cycle();
    ASSERT_EQ(out_gain(fpga, 1), 1.0f);

    EXPECT_EQ(command("44,5,-1,1"), "");
    // Written by the command itself, before any cycle.
    for (int o = 0; o < SYS_OUTPUTS; o++)
        EXPECT_EQ(out_gain(fpga, o), dsp_gain_word(DSP_GAIN_SILENT, 0)) << o;
    EXPECT_EQ(my_sys->out[1].mute, 0);  // the stored mutes stay

    std::vector<std::string> l = cycle_lines();
    ASSERT_FALSE(l.empty());
    EXPECT_EQ(l[0], "123,0,ALARM");
    for (int o = 0; o < SYS_OUTPUTS; o++)
        EXPECT_TRUE(has_line(l, "44,0," + std::to_string(o) + ",1")) << o;
    EXPECT_EQ(report_pending.device[123], 0);

    // A change while the alarm runs is reported but stays silent.
    command("38,1,1,-3");
    EXPECT_TRUE(has_line(cycle_lines(), "38,1,1,-3.0"));
    EXPECT_EQ(out_gain(fpga, 1), dsp_gain_word(DSP_GAIN_SILENT, 0));

    // 40 cycles on, the alarm is repeated: it lasts 80 cycles from then.
    for (int i = 2; i <= 40; i++)
        ASSERT_EQ(cycle(), "") << i;
    command("44,5,-1,1");
    EXPECT_EQ(cycle_lines().front(), "123,0,ALARM");
    for (int i = 2; i <= 81; i++)
        ASSERT_EQ(cycle().find("123,0,\n"), std::string::npos) << i;
    l = cycle_lines();
    EXPECT_TRUE(has_line(l, "123,0,"));
    // Every output gets its own gain back.
    EXPECT_EQ(out_gain(fpga, 1), dsp_gain_word(-3.0f, 0));
    EXPECT_EQ(out_gain(fpga, 0), dsp_gain_word(DSP_GAIN_SILENT, 0));  // muted all along
    EXPECT_EQ(my_device->alarm_active, 0);
}

TEST_F(DevicePass, FirmwareKeyRunsTheUpdateScriptAndReportsTheResult)
{
    ASSERT_EQ(system(("mkdir -p '" + root_.path("/dev/sda1/firmware") + "'").c_str()), 0);
    write_file(root_.path("/tmp/shim.log"), "");
    EXPECT_EQ(command("26,2,517204968"), "");
    std::vector<std::string> l = cycle_lines();
    EXPECT_TRUE(has_line(l, "26,2,517204968"));
    EXPECT_TRUE(file_exists(root_.path("/update/firmware/prepared")));
    std::string log = read_file(root_.path("/tmp/shim.log"));
    std::string usb = root_.path("/mnt/usb");
    // The same mounting as a project transfer (the mount point made without a tool).
    std::string want = "sync\numount " + usb + "\nmount " + root_.path("/dev/sda1") + "\ncopy_firmware.sh\numount " +
                       usb + "\n";
    EXPECT_NE(log.find(want), std::string::npos) << log;
    // The DSP is silent: the last control word has no audio-enable bit.
    std::string spi = read_file(root_.path("/dev/spi0"));
    ASSERT_GE(spi.size(), 8u);
    EXPECT_EQ((uint8_t)spi[spi.size() - 4], 0x00);
    EXPECT_EQ((uint8_t)spi[spi.size() - 3], 0x01);
    EXPECT_EQ((uint8_t)spi[spi.size() - 1] & 0x80, 0);

    // The script fails: the clients learn of it with 0.
    ASSERT_EQ(system(("mkdir -p '" + root_.path("/etc/fail") + "'").c_str()), 0);
    write_file(root_.path("/etc/fail/copy_firmware.sh"), "1\n");
    command("26,4,517204968");
    EXPECT_TRUE(has_line(cycle_lines(), "26,4,0"));
    EXPECT_EQ(cycle(), "");
}

TEST_F(DevicePass, DeviceSettingsAreReportedOnceAndQueriesAnswered)
{
    command("27,4,1");
    command("62,4,1");
    command("24,4,6,26,100");
    std::vector<std::string> l = cycle_lines();
    EXPECT_TRUE(has_line(l, "27,4,1"));
    EXPECT_TRUE(has_line(l, "62,4,1"));
    EXPECT_TRUE(has_line(l, "24,4,6,26,100"));
    EXPECT_EQ(cycle(), "");

    // The same value again: nothing changed, nothing to report.
    command("27,4,1");
    EXPECT_EQ(cycle(), "");
    // A negative value asks.
    command("27,6,-1");
    command("63,6,-1");
    l = cycle_lines();
    EXPECT_TRUE(has_line(l, "27,6,1"));
    EXPECT_TRUE(has_line(l, "63,6,0"));
    EXPECT_EQ(l.size(), 2u);

    // Digital mode and service mode reach the control word.
    command("63,6,3");
    command("20,6,1");
    l = cycle_lines();
    EXPECT_TRUE(has_line(l, "63,6,3"));
    EXPECT_TRUE(has_line(l, "20,6,1"));
    std::string spi = read_file(root_.path("/dev/spi0"));
    ASSERT_GE(spi.size(), 4u);
    uint16_t word = (uint16_t)((uint8_t)spi[spi.size() - 2] | (uint8_t)spi[spi.size() - 1] << 8);
    EXPECT_EQ(word & (CTRL_SERVICE_MODE | 0x3000), CTRL_SERVICE_MODE | 0x3000);

    command("22,6,FOH%20left");
    command("112,6,");
    l = cycle_lines();
    EXPECT_TRUE(has_line(l, "22,6,FOH%20left"));
    EXPECT_TRUE(has_line(l, "112,6," + read_file(root_.path(WLAN_PASSPHRASE_FILE))));
    EXPECT_EQ(cycle(), "");
}

TEST_F(DevicePass, DelayUnitChangeReachesTheWindow)
{
    FpgaView fpga(root_.path("/dev/fpgabus"));
    ASSERT_TRUE(fpga.ok());
    command("43,3,2,60");  // more than the longest delay at 293.15 K: refused
    command("43,3,2,50");
    cycle();
    ASSERT_EQ(out_delay(fpga, 2), 13977);  // round(50 m x 2.911886 ms/m x 96)

    // 60 m, as an older file might hold: the unit change holds it at the limit.
    my_sys->out[2].delay_m = my_sys->out[3].delay_m = my_sys->out[4].delay_m = 60.0f;
    EXPECT_EQ(command("23,3,0,293.15"), "");
    // Unit and temperature as they were: only the held delay is news.
    std::vector<std::string> l = cycle_lines();
    EXPECT_TRUE(has_line(l, "43,3,2,53.80"));
    EXPECT_TRUE(has_line(l, "50,0,2,156.67"));
    EXPECT_EQ(count_prefix(l, "23,"), 0u);
    for (int o : {2, 3, 4})
        EXPECT_EQ(out_delay(fpga, o), 15040) << o;  // 156.67 ms x 96

    // Feet: the reports follow the unit.
    command("23,3,1,293.15");
    l = cycle_lines();
    EXPECT_TRUE(has_line(l, "23,3,1,293.15,176.52,0.00"));
    EXPECT_TRUE(has_line(l, "43,0,2,176.52"));
    // Warmer air is faster: the same distance takes less time.
    command("23,3,0,303.15");
    l = cycle_lines();
    EXPECT_TRUE(has_line(l, "23,3,0,303.15,54.74,0.00"));
    EXPECT_TRUE(has_line(l, "43,0,2,53.80"));
    EXPECT_TRUE(has_line(l, "50,0,2,153.99"));
    EXPECT_EQ(out_delay(fpga, 4), 14783);
}

}  // namespace
