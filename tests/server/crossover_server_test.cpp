// A two-way loudspeaker through the real mirelserver, checked where the FPGA
// reads it: the preset sections of both outputs are read from the window
// file from outside, turned back into biquads and evaluated, and together
// they must make the Linkwitz-Riley crossover the text asks for.
#include <gtest/gtest.h>

#include <cmath>
#include <complex>

#include "common/hw_rev.h"
#include "dsp/dsp_lowlevel.h"
#include "server_client.h"
#include "support/fpga_view.h"
#include "support/process.h"
#include "support/sim_root.h"

namespace {

using cplx = std::complex<double>;
constexpr double FS = 96000.0;

// The biquad behind a slot's lattice words c2, k2, c1, k1, L0, L2, L1: the
// reflection coefficients give the denominator (a2 = k2, a1 = k1 (1 + k2)),
// the ladder taps, scaled by the lattice's c terms, the numerator.
struct biquad {
    double b0, b1, b2, a1, a2;
};

biquad from_slot(const FpgaView &f, uint32_t slot)
{
    double c2 = f.f32(slot), k2 = f.f32(slot + 4), c1 = f.f32(slot + 8), k1 = f.f32(slot + 12);
    double l0 = f.f32(slot + 16), l2 = f.f32(slot + 20), l1 = f.f32(slot + 24);
    biquad q;
    q.a2 = k2;
    q.a1 = k1 * (1.0 + k2);
    q.b2 = l2;
    q.b1 = l1 * c2 + l2 * q.a1;
    q.b0 = l0 * c1 * c2 + l1 * c2 * k1 + l2 * k2;
    return q;
}

// The response of output o's twelve preset sections at hz.
cplx preset_response(const FpgaView &f, int o, double hz)
{
    cplx z1 = std::polar(1.0, -2.0 * M_PI * hz / FS);  // z^-1
    cplx h = 1.0;
    for (uint32_t j = 0; j < SYS_WAY_SECTIONS; j++) {
        biquad q = from_slot(f, ROW_OUT_PRESET + 0x100 * j + FPGA_SLOT_BYTES * (uint32_t)o);
        h *= (q.b0 + z1 * (q.b1 + z1 * q.b2)) / (1.0 + z1 * (q.a1 + z1 * q.a2));
    }
    return h;
}

double db(double magnitude)
{
    return 20.0 * std::log10(magnitude);
}

// A Linkwitz-Riley 24 dB/oct pair is a squared Butterworth: on the
// frequency axis the bilinear transform warps, |LP| = 1 / (1 + W^4) and
// |HP| = W^4 / (1 + W^4), and low plus high is an all-pass.
double lr24_db(double hz, double fc, bool high)
{
    double w = std::tan(M_PI * hz / FS) / std::tan(M_PI * fc / FS);
    double w4 = w * w * w * w;
    return db((high ? w4 : 1.0) / (1.0 + w4));
}

void expect_crossover(const FpgaView &f, double fc)
{
    for (double hz : {200.0, 2000.0, 10000.0}) {
        cplx high = preset_response(f, 0, hz), low = preset_response(f, 1, hz);
        EXPECT_NEAR(db(std::abs(high)), lr24_db(hz, fc, true), 0.05) << hz << " Hz, high way at " << fc;
        EXPECT_NEAR(db(std::abs(low)), lr24_db(hz, fc, false), 0.05) << hz << " Hz, low way at " << fc;
        EXPECT_NEAR(db(std::abs(high + low)), 0.0, 0.05) << hz << " Hz, sum at " << fc;
    }
}

uint32_t slot(int o, int section)
{
    return ROW_OUT_PRESET + 0x100 * (uint32_t)section + FPGA_SLOT_BYTES * (uint32_t)o;
}

// Output limiter threshold from a voltage with the default amplifier (32 dB).
double limiter_db(double volts)
{
    return 20.0 * std::log10(volts / 0.775) - hw::limiter_reference_db - 32.0;
}

TEST(CrossoverServer, TwoWayEntryBecomesTheCrossoverInTheFpga)
{
    SimRoot root;
    ServerProcess server;
    server.start(root.dir(), free_port());
    Client c(server.port());
    ASSERT_GT(c.id, 0);
    ASSERT_TRUE(c.expect_line("98,0"));
    FpgaView fpga(root.path("/dev/fpgabus"));
    ASSERT_TRUE(fpga.ok());

    std::string e = lsp_entry(c, "LABEL \"Two-way\"\n"
                                 "HIGH\n  HPF 2khz lr24\n  GAIN -3DB\n  POWER 100W 200W 8R\n  RMSTIME 50MS\n"
                                 "LOW\n  LPF 2khz lr24\n  DELAY 0,5MS\n");
    ASSERT_NE(e, "");
    c.command(36, "0," + e);
    ASSERT_TRUE(c.expect_line("33,0,0,1,3,-1,-1,-1,-1,-1,-1"));
    c.command(37, "0,0");
    ASSERT_TRUE(c.expect_lines({"44," + std::to_string(c.id) + ",1,0"}));
    ASSERT_TRUE(wait_until([&] { return fpga.f32(dsp_dyn_out(1) + 4 * 14) == 1.0f; }));

    // Two sections on each way, the other ten pass.
    EXPECT_NE(fpga.f32(slot(0, 1) + 4), -1.0f);
    EXPECT_EQ(fpga.f32(slot(0, 2) + 4), -1.0f);
    EXPECT_EQ(fpga.f32(slot(1, 11) + 4), -1.0f);
    expect_crossover(fpga, 2000.0);
    // Output 2 kept its own preset: everything passes.
    EXPECT_NEAR(db(std::abs(preset_response(fpga, 2, 2000.0))), 0.0, 1e-6);

    // The way's gain, delay and limiter.
    EXPECT_EQ(fpga.f32(dsp_dyn_out(0) + 4 * 14), dsp_gain_word(-3.0f, 0));
    EXPECT_EQ(fpga.u16(FPGA_OUT_DELAY), 0);
    EXPECT_EQ(fpga.u16(FPGA_OUT_DELAY + 2), 48);  // 0.5 ms at 96 kHz
    EXPECT_NEAR(fpga.f32(dsp_dyn_out(0)), limiter_db(std::sqrt(100.0 * 8)) - 3.0, 0.01);
    EXPECT_NEAR(db(fpga.f32(dsp_dyn_out(0) + 4 * 11)), limiter_db(std::sqrt(200.0 * 8)) - 3.0, 0.01);
    EXPECT_NEAR(fpga.f32(dsp_dyn_out(0) + 4 * 2), -std::expm1(-1.0 / (0.050 * FS)), 1e-9);
    EXPECT_EQ(fpga.f32(dsp_dyn_out(1)), 64.0f);  // no limits on the low way: the amplifier's

    // Editing the text moves the crossover on both outputs; the group stays
    // unmuted and takes the new gain.
    c.command(67, e + ",0," +
                      db_text_encode("HIGH\nHPF 1khz lr24\nGAIN -6DB\nLOW\nLPF 1khz lr24\nDELAY 0,5MS\n"));
    EXPECT_TRUE(wait_until([&] { return fpga.f32(dsp_dyn_out(0) + 4 * 14) == dsp_gain_word(-6.0f, 0); }));
    expect_crossover(fpga, 1000.0);
    EXPECT_NEAR(db(std::abs(preset_response(fpga, 0, 1000.0))), -6.02, 0.05);
    EXPECT_EQ(fpga.f32(dsp_dyn_out(1) + 4 * 14), 1.0f);
    EXPECT_EQ(fpga.f32(dsp_dyn_out(0)), 64.0f);  // the new text has no POWER line
}

}  // namespace
