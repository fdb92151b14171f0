// The dynamics stage run from blocks the server's own dynamics writer fills.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "dsp/dsp_lowlevel.h"
#include "fpga_dynamics.h"
#include "model_rig.h"

namespace {

class FpgaDynamics : public ::testing::Test {
protected:
    void SetUp() override
    {
        saved_ = fpga_window;
        fpga_window = window_.data();
    }
    void TearDown() override { fpga_window = saved_; }

    // The words the server writes for this record (block of bus 0).
    void write(const dsp_dyn &d)
    {
        dsp_dyn_all(dsp_dyn_bus(0), 96000.0f, &d);
        memcpy(words_, (const uint8_t *)fpga_window + dsp_dyn_bus(0), sizeof words_);
    }

    static dsp_dyn record(float thres, float ratio, float knee)
    {
        dsp_dyn d{};
        d.gain = 0.0f;
        d.thres = thres;
        d.peak_thres = 0.0f + 3.0f;  // the peak limiter at full scale
        d.ratio = ratio;
        d.knee = knee;
        d.attack = 1.0f;
        d.release = 80.0f;
        d.rms = 35.0f;
        return d;
    }

    // A 1 kHz sine of dbfs peak level for `seconds` through channel 0;
    // returns the output level over its last 0.1 s.
    double steady_db(double dbfs, double seconds = 0.5)
    {
        fpga_dyn_state st;
        fpga_dyn_reset(&st);
        long n = (long)(seconds * 96000);
        std::vector<float> x = silence(n, FPGA_CHANNELS);
        add_sine(x, FPGA_CHANNELS, 0, 1000.0, std::pow(10.0, dbfs / 20.0));
        for (long i = 0; i < n; i += 256)
            fpga_dyn_run(words_, &st, (fpga_frame *)(x.data() + i * FPGA_CHANNELS), 0, (int)std::min(256L, n - i));
        last_ = st;
        return tone_db(x, FPGA_CHANNELS, 0, 1000.0, n - 9600, 9600);
    }

    std::vector<uint32_t> window_ = std::vector<uint32_t>(FPGA_WINDOW_SIZE / 4);
    volatile uint32_t *saved_ = nullptr;
    float words_[DYN_WORDS];
    fpga_dyn_state last_;
};

}  // namespace

TEST_F(FpgaDynamics, CompressorAboveItsKneeFollowsTheRatio)
{
    // The threshold names a sine's peak level; the detector's -3 dB offset
    // is what a sine's mean square lies below its peak.
    write(record(-20.0f, 4.0f, 0.0f));
    double sine_rms_offset = 10.0 * std::log10(0.5) + 3.0;  // -0.0103 dB
    EXPECT_NEAR(steady_db(-8.0), -8.0 - 0.75 * (12.0 + sine_rms_offset), 0.05);
    EXPECT_NEAR(steady_db(-30.0), -30.0, 0.01);  // below the threshold: untouched
    EXPECT_NEAR(20 * std::log10(last_.comp_gain_min), 0.0, 1e-6);

    // Ratio 1 never reduces.
    write(record(-40.0f, 1.0f, 0.0f));
    EXPECT_NEAR(steady_db(-6.0), -6.0, 0.01);
}

TEST_F(FpgaDynamics, SoftKneeMeetsBothSides)
{
    // At the threshold itself a 12 dB knee takes slope x h / 4: 0.75 x 6 / 4.
    write(record(-20.0f, 4.0f, 12.0f));
    double at = steady_db(-20.0 + 0.0103);  // mean square exactly at Tc
    EXPECT_NEAR(at, -20.0 + 0.0103 - 1.125, 0.05);
    // Below the knee's lower edge nothing; above its upper edge the ratio.
    EXPECT_NEAR(steady_db(-27.0), -27.0, 0.01);
    EXPECT_NEAR(steady_db(-10.0), -10.0 - 0.75 * (10.0 - 0.0103), 0.05);
}

TEST_F(FpgaDynamics, InfiniteRatioLimitsToTheThreshold)
{
    write(record(-12.0f, DSP_RATIO_INFINITE, 6.0f));  // the knee is ignored then
    EXPECT_EQ(words_[DYN_KNEE_LOW], words_[DYN_KNEE_HIGH]);
    EXPECT_NEAR(steady_db(0.0), -12.0, 0.1);
    EXPECT_NEAR(steady_db(-12.5), -12.5, 0.01);
}

TEST_F(FpgaDynamics, PeakLimiterHoldsEverySampleFromTheFirst)
{
    dsp_dyn d = record(0.0f, 1.0f, 0.0f);
    d.peak_thres = -6.0f;  // held at -9 dB, 0.3548
    d.peak_release = 50.0f;
    write(d);
    float limit = words_[DYN_PEAK];
    EXPECT_NEAR(limit, std::pow(10.0, -9.0 / 20.0), 1e-4);
    fpga_dyn_state st;
    fpga_dyn_reset(&st);
    std::vector<float> x = silence(9600, FPGA_CHANNELS);
    add_sine(x, FPGA_CHANNELS, 0, 1000.0, 0.9);
    fpga_dyn_run(words_, &st, (fpga_frame *)x.data(), 0, 9600);
    float peak = 0;
    for (long i = 0; i < 9600; i++)
        peak = std::max(peak, std::fabs(x[(size_t)(i * FPGA_CHANNELS)]));
    EXPECT_LE(peak, limit * 1.00001f);
    EXPECT_GT(peak, limit * 0.99f);
    EXPECT_LT(st.peak_gain_min, 0.41f);
    // After the peaks the limiter lets go with the peak-release time.
    std::vector<float> quiet = silence(96000 / 2, FPGA_CHANNELS);
    add_sine(quiet, FPGA_CHANNELS, 0, 1000.0, 0.01);
    fpga_dyn_run(words_, &st, (fpga_frame *)quiet.data(), 0, 96000 / 2);
    EXPECT_NEAR(tone_db(quiet, FPGA_CHANNELS, 0, 1000.0, 96000 / 2 - 9600, 9600), -40.0, 0.01);
}

TEST_F(FpgaDynamics, ABlockNeverWrittenIsSilentAndHarmless)
{
    float zero[DYN_WORDS] = {};
    fpga_dyn_state st;
    fpga_dyn_reset(&st);
    fpga_frame x[2] = {{0.5f}, {-0.5f}};
    fpga_dyn_run(zero, &st, x, 0, 2);
    EXPECT_EQ(x[0][0], 0.0f);
    EXPECT_EQ(x[1][0], 0.0f);

    float nan_words[DYN_WORDS];
    for (float &w : nan_words)
        w = NAN;
    fpga_dyn_run(nan_words, &st, x, 0, 2);
    EXPECT_TRUE(std::isfinite(st.power) && std::isfinite(st.gr_db) && std::isfinite(st.peak_gain));
}
