#include "fpga_dynamics.h"

#include <cmath>

namespace {

constexpr float DB_PER_LOG2 = 3.01029996f;      // 10 log10(2): power to dB
constexpr float LOG2_PER_DB = 0.166096404744f;  // log2(10)/20: dB to amplitude

// Gain reduction, dB, for a detector power p.
float target_reduction(const float w[DYN_WORDS], float p)
{
    if (!(p > w[DYN_KNEE_POWER]))
        return 0.0f;
    float level = DB_PER_LOG2 * std::log2(p);
    if (level >= w[DYN_KNEE_HIGH])
        return -w[DYN_SLOPE] * (level - w[DYN_THRES]);
    // Without a knee (h = 0) both edges coincide and this is never reached.
    if (level > w[DYN_KNEE_LOW]) {
        float u = (level - w[DYN_KNEE_LOW]) * w[DYN_KNEE_INV];
        return w[DYN_KNEE_CURVE] * u * u;
    }
    return 0.0f;
}

}  // namespace

void fpga_dyn_reset(fpga_dyn_state *s)
{
    s->power = 0.0f;
    s->gr_db = 0.0f;
    s->peak_gain = 1.0f;
    s->comp_gain_min = s->peak_gain_min = 1.0f;
}

void fpga_dyn_run(const float w[DYN_WORDS], fpga_dyn_state *s, fpga_frame *x, int ch, int n)
{
    float p = s->power, gr = s->gr_db, pg = s->peak_gain;
    float comp_min = 1.0f, peak_min = 1.0f;
    for (int i = 0; i < n; i++) {
        float in = x[i][ch];
        p += w[DYN_RMS] * (in * in - p);
        float target = target_reduction(w, p);
        gr += (target < gr ? w[DYN_ATTACK] : w[DYN_RELEASE]) * (target - gr);
        // A release that has come this close is over: no power of ten per
        // sample for ever after.
        if (target == 0.0f && gr > -1e-6f)
            gr = 0.0f;
        float g = gr == 0.0f ? 1.0f : std::exp2(gr * LOG2_PER_DB);
        float v = in * g;
        // Peaks above the threshold are held at it from the sample they
        // appear; the limiter recovers with the peak-release coefficient.
        float a = std::fabs(v);
        float t = a > w[DYN_PEAK] ? w[DYN_PEAK] / a : 1.0f;
        pg = t < pg ? t : pg + w[DYN_PEAK_RELEASE] * (t - pg);
        x[i][ch] = v * pg * w[DYN_GAIN];
        if (g < comp_min)
            comp_min = g;
        if (pg < peak_min)
            peak_min = pg;
    }
    // Words that are not numbers (a window never written) must not poison
    // the channel for good.
    if (!std::isfinite(p) || !std::isfinite(gr) || !std::isfinite(pg)) {
        fpga_dyn_reset(s);
        return;
    }
    s->power = p;
    s->gr_db = gr;
    s->peak_gain = pg;
    s->comp_gain_min = comp_min;
    s->peak_gain_min = peak_min;
}
