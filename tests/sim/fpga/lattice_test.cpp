// The lattice rows against the biquad each section was designed as.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "dsp/filter.h"
#include "fpga_lattice.h"

namespace {

// Impulse response of section s in channel ch (the other channels carry
// their own impulses through bypass slots), n samples.
std::vector<float> lattice_impulse(const float coef[7], int ch, int n)
{
    fpga_lattice_row row{};
    for (int c = 0; c < FPGA_CHANNELS; c++)
        fpga_lattice_load(&row, c, c == ch ? coef : FILTER_BYPASS_BLOCK);
    std::vector<fpga_frame> x((size_t)n);
    for (auto &f : x)
        for (float &v : f)
            v = 0.0f;
    for (int c = 0; c < FPGA_CHANNELS; c++)
        x[0][c] = 1.0f;
    fpga_lattice_run(&row, 1, x.data(), n);
    std::vector<float> h((size_t)n);
    for (int i = 0; i < n; i++) {
        h[(size_t)i] = x[(size_t)i][ch];
        for (int c = 0; c < FPGA_CHANNELS; c++) {
            if (c != ch) {
                EXPECT_EQ(x[(size_t)i][c], i == 0 ? 1.0f : 0.0f) << "bypassed channel " << c;
            }
        }
    }
    return h;
}

// The same in double precision, direct form, from the normalised biquad.
std::vector<double> biquad_impulse(const filter_section &s, int n)
{
    std::vector<double> h((size_t)n);
    double x1 = 0, x2 = 0, y1 = 0, y2 = 0;
    for (int i = 0; i < n; i++) {
        double x = i == 0 ? 1.0 : 0.0;
        double y = s.b0 * x + s.b1 * x1 + s.b2 * x2 - s.a1 * y1 - s.a2 * y2;
        x2 = x1;
        x1 = x;
        y2 = y1;
        y1 = y;
        h[(size_t)i] = y;
    }
    return h;
}

}  // namespace

TEST(FpgaLattice, EveryDesignKindRunsAsItsBiquad)
{
    struct design {
        const char *name;
        filter_section s;
    };
    std::vector<design> designs;
    auto add = [&](const char *name, auto fn) {
        design d{name, {}};
        fn(&d.s);
        designs.push_back(d);
    };
    add("peq 1 kHz Q 2 +6", [](filter_section *s) { filter_peq(s, 1000, 2, 6); });
    add("peq 60 Hz Q 8 -12", [](filter_section *s) { filter_peq(s, 60, 8, -12); });
    add("graphic 20 kHz +12", [](filter_section *s) { filter_geq_band(s, 20158.736, 4.318477, 12); });
    add("graphic 20 Hz -15", [](filter_section *s) { filter_geq_band(s, 19.686266, 4.318477, -15); });
    add("high-pass 20 Hz Q 0.707", [](filter_section *s) { filter_highpass2(s, 20, 0.707); });
    add("low-pass 15 kHz Q 1.307", [](filter_section *s) { filter_lowpass2(s, 15000, 1.307); });
    add("first-order high-pass 100 Hz", [](filter_section *s) { filter_highpass1(s, 100); });
    add("first-order low-pass 2 kHz", [](filter_section *s) { filter_lowpass1(s, 2000); });
    add("all-pass 500 Hz", [](filter_section *s) { filter_allpass2(s, 500, 0.7); });
    add("first-order all-pass 3 kHz", [](filter_section *s) { filter_allpass1(s, 3000); });
    add("low shelf 100 Hz +9", [](filter_section *s) { filter_low_shelf_slope(s, 100, 6.0, 9); });
    add("high shelf 10 kHz -6", [](filter_section *s) { filter_high_shelf_slope(s, 10000, 6.0, -6); });

    constexpr int N = 96000 / 4;
    for (size_t k = 0; k < designs.size(); k++) {
        const design &d = designs[k];
        std::vector<float> got = lattice_impulse(d.s.coef_block, (int)(k % FPGA_CHANNELS), N);
        std::vector<double> want = biquad_impulse(d.s, N);
        double peak = 0, err = 0;
        for (int i = 0; i < N; i++) {
            peak = std::max(peak, std::fabs(want[(size_t)i]));
            err = std::max(err, std::fabs(got[(size_t)i] - want[(size_t)i]));
        }
        // Single precision all through: errors stay near float resolution.
        EXPECT_LT(err, 5e-5 * peak) << d.name;
    }
}

TEST(FpgaLattice, BypassAndPlainPassPassTheSignal)
{
    const float plain[7] = {-1.0f, 0.0f, -1.0f, 0.0f, 1.0f, 0.0f, 0.0f};
    filter_section s{};
    s.a0 = s.b0 = 1.0;
    filter_finish(&s);
    for (int i = 0; i < 7; i++)
        ASSERT_EQ(s.coef_block[i], plain[i]);
    for (const float *coef : {FILTER_BYPASS_BLOCK, plain}) {
        fpga_lattice_row row{};
        for (int c = 0; c < FPGA_CHANNELS; c++)
            fpga_lattice_load(&row, c, coef);
        fpga_frame x[64];
        for (int i = 0; i < 64; i++)
            for (int c = 0; c < FPGA_CHANNELS; c++)
                x[i][c] = (float)((i * 7 + c * 3) % 11) - 5.0f;
        fpga_lattice_run(&row, 1, x, 64);
        for (int i = 0; i < 64; i++)
            for (int c = 0; c < FPGA_CHANNELS; c++)
                EXPECT_EQ(x[i][c], (float)((i * 7 + c * 3) % 11) - 5.0f);
    }
}

TEST(FpgaLattice, ASlotOfNonNumbersPassesAndBrokenStatesAreCleared)
{
    fpga_lattice_row row{};
    const float broken[7] = {NAN, 0.0f, 1.0f, 0.0f, INFINITY, 0.0f, 0.0f};
    for (int c = 0; c < FPGA_CHANNELS; c++)
        fpga_lattice_load(&row, c, broken);
    fpga_frame x[4] = {{1, 2, 3, 4, 5, 6, 7, 8}};
    fpga_lattice_run(&row, 1, x, 4);
    EXPECT_EQ(x[0][5], 6.0f);
    EXPECT_EQ(x[1][5], 0.0f);

    // A slot caught half written can be unstable; its state must not stay
    // infinite once the slot is whole again.
    EXPECT_TRUE(fpga_lattice_sanitize(&row, 1));
    row.s1[2] = INFINITY;
    row.s2[3] = NAN;
    EXPECT_FALSE(fpga_lattice_sanitize(&row, 1));
    EXPECT_EQ(row.s1[2], 0.0f);
    EXPECT_EQ(row.s2[3], 0.0f);
    EXPECT_TRUE(fpga_lattice_sanitize(&row, 1));
}
