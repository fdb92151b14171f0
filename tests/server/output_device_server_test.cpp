// The real mirelserver in a simulation root, driven through its command
// lines over TCP; the FPGA window is read from outside through the file the
// server maps (DIR/dev/fpgabus).
#include <gtest/gtest.h>

#include <csignal>
#include <cstring>
#include <vector>

#include "dsp/dsp_lowlevel.h"
#include "server_client.h"
#include "stream_harness.h"
#include "support/fpga_view.h"
#include "support/process.h"
#include "support/sim_root.h"
#include "wlan.h"

namespace {

TEST(OutputDeviceServer, OutputGroupSettingsLandWhereTheFpgaReadsThem)
{
    SimRoot root;
    ServerProcess server;
    server.start(root.dir(), free_port());
    Client c(server.port());
    ASSERT_GT(c.id, 0);
    ASSERT_TRUE(c.sock.expect("\n98,0\n", 5s));  // the end of the full dump

    FpgaView fpga(root.path("/dev/fpgabus"));
    ASSERT_TRUE(fpga.ok());
    c.command(44, "3,0");
    c.command(38, "3,-6");
    c.command(43, "3,10");  // metres
    c.command(42, "3,5");
    std::string id = std::to_string(c.id);
    EXPECT_TRUE(c.expect_lines({"44," + id + ",3,0", "38," + id + ",3,-6.0", "43," + id + ",3,10.00",
                                "42," + id + ",3,5", "50,0,3,29.11"}));

    // Gain word of output 3's dynamics block, its delay in samples and its source bus.
    float want_gain = dsp_gain_word(-6.0f, 0);
    EXPECT_TRUE(wait_until([&] { return fpga.f32(dsp_dyn_out(3) + 4 * 14) == want_gain; }));
    EXPECT_NEAR(fpga.f32(dsp_dyn_out(3) + 4 * 14), 0.501, 0.001);
    EXPECT_EQ(fpga.u16(FPGA_OUT_DELAY + 2 * 3), 2795);  // 10 m at 343.42 m/s, 96 kHz
    EXPECT_EQ(fpga.u8(FPGA_SOURCE_BUS + 3), 5);
    EXPECT_EQ(fpga.u8(FPGA_SOURCE_BUS + 2), 0);  // every output starts on bus 0

    // A rejected value is one diagnostic line and no report.
    c.command(43, "3,157");
    ASSERT_TRUE(server.wait_err("system_out_group_set_delay: delay out of range (meter)\n"));
    EXPECT_EQ(fpga.u16(FPGA_OUT_DELAY + 2 * 3), 2795);

    // The alarm silences every output at once and ends by itself.
    c.command(44, "-1,1");
    EXPECT_TRUE(c.expect_line("123,0,ALARM"));
    EXPECT_NE(fpga.f32(dsp_dyn_out(3) + 4 * 14), want_gain);
    EXPECT_TRUE(c.sock.expect("\n123,0,\n", 10s));
    EXPECT_TRUE(wait_until([&] { return fpga.f32(dsp_dyn_out(3) + 4 * 14) == want_gain; }));
}

TEST(OutputDeviceServer, WlanPassphraseSurvivesARestart)
{
    SimRoot root;
    int port = free_port();
    {
        ServerProcess server;
        server.start(root.dir(), port);
        Client c(server.port());
        // A fresh device makes one up for its full dump.
        std::string dump;
        ASSERT_TRUE(c.sock.take_until("\n98,0\n", &dump, 5s));
        std::string made = read_file(root.path(WLAN_PASSPHRASE_FILE));
        EXPECT_EQ(made.size(), 10u);
        EXPECT_NE(dump.find("\n112,0," + made + "\n"), std::string::npos);

        c.command(112, "stage%20door%2042");
        EXPECT_TRUE(c.expect_line("112," + std::to_string(c.id) + ",stage%20door%2042"));
        server.stop(SIGTERM);
    }
    ServerProcess again;
    again.start(root.dir(), port);
    Client c(again.port());
    EXPECT_TRUE(c.sock.expect("\n112,0,stage%20door%2042\n", 5s));
}

}  // namespace
