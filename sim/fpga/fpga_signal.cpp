#include "fpga_signal.h"

#include <cmath>
#include <numbers>
#include <vector>

#include "fpgamodel.h"

namespace {

struct tone {
    int freq;    // Hz, whole so that the phase is exact at any frame
    float dbfs;  // peak level of the sine
};

constexpr tone TONES[FPGAMODEL_INPUTS] = {
    {1000, -20.0f}, {100, -12.0f}, {10000, -30.0f}, {440, 0.0f}, {250, -24.0f}, {4000, -24.0f},
};
constexpr int STEPPED = 3;  // input D: -40, -30, -20, -10 dBFS, a second each
constexpr float STEPS[4] = {-40.0f, -30.0f, -20.0f, -10.0f};

// One second of a 1 Hz sine: a whole-hertz tone at frame t is entry f t mod
// 96000, exact at any frame and without a sine per sample.
const std::vector<float> &sine_table()
{
    static const std::vector<float> table = [] {
        std::vector<float> t(FPGAMODEL_RATE);
        for (int i = 0; i < FPGAMODEL_RATE; i++)
            t[i] = (float)std::sin(2.0 * std::numbers::pi * i / FPGAMODEL_RATE);
        return t;
    }();
    return table;
}

float amplitude(float dbfs)
{
    return (float)std::pow(10.0, dbfs / 20.0);
}

}  // namespace

void fpga_signal_test(float *frames, int n, uint64_t at)
{
    const std::vector<float> &sine = sine_table();
    float amp[FPGAMODEL_INPUTS];
    for (int c = 0; c < FPGAMODEL_INPUTS; c++)
        amp[c] = amplitude(TONES[c].dbfs);
    for (int i = 0; i < n; i++) {
        uint64_t t = at + (uint64_t)i;
        if (i == 0 || t % FPGAMODEL_RATE == 0)
            amp[STEPPED] = amplitude(STEPS[(t / FPGAMODEL_RATE) % 4]);
        for (int c = 0; c < FPGAMODEL_INPUTS; c++)
            frames[i * FPGAMODEL_INPUTS + c] = amp[c] * sine[(uint64_t)TONES[c].freq * t % FPGAMODEL_RATE];
    }
}

const char *fpga_signal_test_description()
{
    return "A 1 kHz -20 dBFS, B 100 Hz -12 dBFS, C 10 kHz -30 dBFS, "
           "D 440 Hz stepping -40/-30/-20/-10 dBFS each second, AES C left 250 Hz and right 4 kHz -24 dBFS";
}
