// The dynamics stage of a bus or an output as the FPGA runs it from the
// sixteen words of its dynamics block: RMS compressor with a soft knee, peak
// limiter, then the gain word with its polarity.
#pragma once

#include "fpga_lattice.h"

// Word indexes of a dynamics block, as the server fills it.
enum fpga_dyn_word {
    DYN_THRES = 0,        // Tc, dB (mean-square level)
    DYN_KNEE_POWER = 1,   // 10^((Tc - h)/10): below it nothing is reduced
    DYN_RMS = 2,          // coefficients 1 - e^(-1/(t fs)) of the detector,
    DYN_ATTACK = 3,       //   of rising and of falling gain reduction
    DYN_RELEASE = 4,
    DYN_SLOPE = 6,        // 1 - 1/ratio
    DYN_KNEE_LOW = 7,     // Tc - h
    DYN_KNEE_HIGH = 8,    // Tc + h
    DYN_KNEE_INV = 9,     // 1/h
    DYN_KNEE_CURVE = 10,  // (1 - 1/ratio) h (-1/4)
    DYN_PEAK = 11,        // peak-limiter threshold, linear amplitude
    DYN_GAIN = 14,        // linear gain, negative when the polarity is inverted
    DYN_PEAK_RELEASE = 15,
    DYN_WORDS = 16,
};

struct fpga_dyn_state {
    float power;      // mean square seen by the detector
    float gr_db;      // compressor gain reduction, dB (0 or below)
    float peak_gain;  // peak-limiter gain (1 or below)
    // Smallest gain factors of the last block: what the level block shows.
    float comp_gain_min, peak_gain_min;
};

void fpga_dyn_reset(fpga_dyn_state *s);
// Runs channel ch of n frames in place. Above the knee the reduction is
// slope (L - Tc) with L the detector's level in dB; inside the knee it
// follows the quadratic (L - Tc + h)^2 slope / 4h that meets both sides.
void fpga_dyn_run(const float w[DYN_WORDS], fpga_dyn_state *s, fpga_frame *x, int ch, int n);
