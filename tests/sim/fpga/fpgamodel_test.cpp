// The model on a simulation root whose window and control port the server's
// own DSP code writes: routing, delays, meters, the preset path, and a
// window caught in the middle of being written.
#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <cstring>
#include <numbers>
#include <random>

#include "dsp/dsp_lowlevel.h"
#include "dsp/filter.h"
#include "dsp/rt_thread.h"
#include "model_rig.h"
#include "system.h"

namespace {

constexpr int A = 0, B = 1, AES_LEFT = 4, AES_RIGHT = 5;
constexpr long SECOND = 96000;

// Every bus on its own (no local link group), every output unmuted.
void independent(ModelRig &rig)
{
    for (int b = 0; b < 8; b++)
        rig.command("10,1," + std::to_string(b) + ",-1");
    for (int o = 0; o < 8; o++)
        rig.command("44,1," + std::to_string(o) + ",0");
}

double out_db(const std::vector<float> &out, int o, double f, long from, long n)
{
    return tone_db(out, FPGAMODEL_OUTPUTS, o, f, from, n);
}

// Magnitude of an impulse response at f, in dB.
double response_db(const std::vector<double> &h, double f)
{
    std::complex<double> sum = 0;
    for (size_t i = 0; i < h.size(); i++)
        sum += h[i] * std::polar(1.0, -2.0 * std::numbers::pi * f * (double)i / 96000.0);
    return 20.0 * std::log10(std::abs(sum));
}

float word(uint32_t offset)
{
    return dsp_window_float(offset);
}

}  // namespace

TEST(FpgaModel, SilentUntilTheControlWordEnablesAudio)
{
    ModelRig rig;
    independent(rig);
    std::vector<float> in = silence(SECOND / 10);
    add_sine(in, FPGAMODEL_INPUTS, A, 1000, 0.1);
    std::vector<float> out = rig.run(in);
    for (float v : out)
        ASSERT_EQ(v, 0.0f);
    rig.enable_audio();
    out = rig.run(in);
    EXPECT_NEAR(out_db(out, 0, 1000, SECOND / 20, SECOND / 20), -20.0, 0.01);
}

TEST(FpgaModel, PatchesSumInputsAndOutputsTakeTheirSourceBus)
{
    ModelRig rig;
    independent(rig);
    rig.enable_audio();
    rig.command("8,1,2,3");   // bus 2: A + B, at its default -6 dB
    rig.command("2,1,2,-6");
    rig.command("8,1,4,48");  // bus 4: both AES channels
    rig.command("2,1,4,0");
    rig.command("8,1,6,0");   // bus 6: nothing
    rig.command("42,1,1,2");
    rig.command("42,1,3,4");
    rig.command("42,1,5,6");
    rig.command("42,1,7,2");
    std::vector<float> in = silence(SECOND / 10);
    add_sine(in, FPGAMODEL_INPUTS, A, 1000, 0.1);
    add_sine(in, FPGAMODEL_INPUTS, B, 1000, 0.1);
    add_sine(in, FPGAMODEL_INPUTS, AES_LEFT, 3000, 0.1);
    add_sine(in, FPGAMODEL_INPUTS, AES_RIGHT, 5000, 0.01);
    std::vector<float> out = rig.run(in);
    long from = SECOND / 20, n = SECOND / 20;
    double sum_db = 20 * std::log10(0.2) - 6.0;
    EXPECT_NEAR(out_db(out, 1, 1000, from, n), sum_db, 0.01);
    EXPECT_NEAR(out_db(out, 7, 1000, from, n), sum_db, 0.01);  // the same bus twice
    EXPECT_NEAR(out_db(out, 3, 3000, from, n), -20.0, 0.01);
    EXPECT_NEAR(out_db(out, 3, 5000, from, n), -40.0, 0.01);
    EXPECT_LT(out_db(out, 3, 1000, from, n), -150.0);
    for (long i = 0; i < SECOND / 10; i++)
        ASSERT_EQ(out[(size_t)(i * FPGAMODEL_OUTPUTS + 5)], 0.0f);
}

TEST(FpgaModel, OutputDelayIsTheWindowsSampleCount)
{
    ModelRig rig;
    independent(rig);
    rig.enable_audio();
    rig.command("23,1,2,293.15");  // delays in milliseconds
    rig.command("43,1,0,1.5");
    rig.command("43,1,1,156.66667");
    ASSERT_EQ(dsp_out_delay_samples(0), 144);
    std::vector<float> in = silence(SECOND / 5);
    in[(size_t)(10 * FPGAMODEL_INPUTS + A)] = 0.5f;
    rig.command("42,1,1,0");
    std::vector<float> out = rig.run(in);
    for (int o : {0, 1}) {
        long at = -1;
        for (long i = 0; i < SECOND / 5; i++)
            if (out[(size_t)(i * FPGAMODEL_OUTPUTS + o)] != 0.0f) {
                at = i;
                break;
            }
        EXPECT_EQ(at, 10 + dsp_out_delay_samples(o)) << "output " << o;
        EXPECT_EQ(out[(size_t)(at * FPGAMODEL_OUTPUTS + o)], 0.5f);
    }
}

TEST(FpgaModel, LevelBlocksAreWhatTheMetersRead)
{
    ModelRig rig;
    independent(rig);
    rig.enable_audio();
    rig.command("2,1,1,-6");
    rig.command("42,1,1,1");
    rig.command("8,1,1,1");
    rig.command("8,1,3,0");
    rig.command("4,1,5,-30");  // bus 5 compresses A 4:1 from -30 dBFS
    rig.command("5,1,5,4");
    rig.command("8,1,5,1");
    rig.command("2,1,5,0");
    std::vector<float> in = silence(SECOND / 2);
    add_sine(in, FPGAMODEL_INPUTS, A, 1000, 0.1);  // -20 dBFS
    rig.run(in);
    // Words 5 and 6 hold the largest squared sample; the server clears them.
    EXPECT_NEAR(word(FPGA_LEVEL_BUS + 4 * 5), 0.01f, 1e-6f);
    EXPECT_NEAR(word(FPGA_LEVEL_OUT + 64 * 1 + 4 * 6), 0.01f * 0.2512f, 1e-5f);
    rt_read_meters();
    EXPECT_NEAR(rt_info->levels[0].l0, -20.0f, 0.01f);
    EXPECT_NEAR(rt_info->levels[8].l1, -20.0f, 0.01f);
    EXPECT_NEAR(rt_info->levels[8 + 1].l1, -26.0f, 0.01f);
    EXPECT_NEAR(rt_info->levels[0].gr, 0.0f, 1e-4f);
    EXPECT_LT(rt_info->levels[3].l0, -300.0f);  // nothing patched: the table's log of 0
    // 10 dB over the threshold at 4:1 takes 7.5 dB.
    EXPECT_NEAR(rt_info->levels[5].gr, -7.5f, 0.1f);
    EXPECT_EQ(word(FPGA_LEVEL_BUS + 4 * 5), 0.0f);

    // The model only raises an accumulator: a larger value waits for the server.
    dsp_window_set_float(FPGA_LEVEL_BUS + 4 * 5, 0.5f);
    rig.run(silence(SECOND / 100));
    EXPECT_EQ(word(FPGA_LEVEL_BUS + 4 * 5), 0.5f);
}

TEST(FpgaModel, TwoWayLinkwitzRiley24PresetSumsFlat)
{
    // Preset sections reach the window through the server's preset upload;
    // the low way and the high way of a 1 kHz crossover on outputs 0 and 1.
    ModelRig rig;
    independent(rig);
    rig.enable_audio();
    rig.command("42,1,1,0");
    sys_way low{}, high{};
    for (int j = 0; j < SYS_WAY_SECTIONS; j++) {
        filter_record_reset(&low.sections[j]);
        filter_record_reset(&high.sections[j]);
    }
    for (int j = 0; j < 2; j++) {
        filter_section s{};
        filter_lowpass2(&s, 1000, 0.707);
        filter_store(&s, &low.sections[j + 3]);
        filter_highpass2(&s, 1000, 0.707);
        filter_store(&s, &high.sections[j + 7]);
    }
    update_device_out_preset(0, &low);
    update_device_out_preset(1, &high);

    long n = 16384;
    std::vector<float> in = silence(n);
    in[A] = 0.5f;
    std::vector<float> out = rig.run(in);
    std::vector<double> h_low((size_t)n), h_high((size_t)n), h_sum((size_t)n);
    for (long i = 0; i < n; i++) {
        h_low[(size_t)i] = 2.0 * out[(size_t)(i * FPGAMODEL_OUTPUTS)];
        h_high[(size_t)i] = 2.0 * out[(size_t)(i * FPGAMODEL_OUTPUTS + 1)];
        h_sum[(size_t)i] = h_low[(size_t)i] + h_high[(size_t)i];
    }
    // Each way is 6 dB down at the crossover and 24 dB/oct beyond it.
    EXPECT_NEAR(response_db(h_low, 1000), -6.02, 0.05);
    EXPECT_NEAR(response_db(h_high, 1000), -6.02, 0.05);
    EXPECT_NEAR(response_db(h_low, 4000) - response_db(h_low, 8000), 24.0, 1.0);
    EXPECT_NEAR(response_db(h_high, 250) - response_db(h_high, 125), 24.0, 1.0);
    for (double f = 20; f < 20000; f *= 1.25)
        EXPECT_NEAR(response_db(h_sum, f), 0.0, 0.5) << f << " Hz";
}

TEST(FpgaModel, ChangesReachTheRunningModel)
{
    ModelRig rig;
    independent(rig);
    rig.enable_audio();
    std::vector<float> in = silence(SECOND / 10);
    add_sine(in, FPGAMODEL_INPUTS, A, 1000, 0.1);
    rig.run(in);
    rig.command("16,1,0,2,1000,2,6.0,0");
    rig.command("3,1,0,1");
    std::vector<float> out = rig.run(in);
    EXPECT_NEAR(out_db(out, 0, 1000, SECOND / 20, SECOND / 20), -14.0, 0.05);
    // Inverted: the output is the negated boosted input, sample by sample.
    rig.command("16,1,0,2,1000,2,0.0,0");
    rig.run(in);
    out = rig.run(in);
    for (long i = 0; i < SECOND / 10; i++)
        ASSERT_NEAR(out[(size_t)(i * FPGAMODEL_OUTPUTS)], -in[(size_t)(i * FPGAMODEL_INPUTS)], 1e-6f);
}

TEST(FpgaModel, AWindowFullOfGarbageNeverGivesNonNumbers)
{
    ModelRig rig;
    independent(rig);
    rig.enable_audio();
    // One thread here: the window may be taken as plain bytes.
    uint8_t *window = (uint8_t *)fpga_window;
    std::vector<uint8_t> saved(window, window + FPGA_WINDOW_SIZE);
    std::mt19937 gen(7);
    for (uint32_t off = FPGA_REGION_1; off < FPGA_REGION_3 + 0x2000; off += 4) {
        uint32_t v = gen();
        memcpy(window + off, &v, 4);
    }
    for (uint32_t off = FPGA_DYN_BUS; off < FPGA_DYN_BUS + 0x400; off += 4) {
        uint32_t v = gen();
        memcpy(window + off, &v, 4);
    }
    std::vector<float> in = silence(SECOND / 10);
    add_sine(in, FPGAMODEL_INPUTS, A, 1000, 0.5);
    std::vector<float> out = rig.run(in);
    for (float v : out)
        ASSERT_TRUE(v >= -1.0f && v <= 1.0f);

    // The window whole again: the model is too.
    memcpy(window + FPGA_REGION_1, saved.data() + FPGA_REGION_1, 0x6000);
    memcpy(window + FPGA_DYN_BUS, saved.data() + FPGA_DYN_BUS, 0x400);
    rig.run(in);
    out = rig.run(in);
    EXPECT_NEAR(out_db(out, 0, 1000, SECOND / 20, SECOND / 20), 20 * std::log10(0.5), 0.01);
}
