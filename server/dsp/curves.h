// Table-driven conversions for a processor without floating-point hardware,
// and the 128-point frequency grid on which equaliser curves are drawn.
#pragma once
#include <cstdint>

#include "dsp/filter.h"

constexpr int CURVE_POINTS = 128;

extern const float log2_table[4096];      // log2(1 + i/4096)
extern const uint32_t pow2_table[4096];   // fraction bits of 2^((i + 0.5)/4096)
extern float *philut;                     // sin^2(pi f_i / 96000) on the grid
extern float *philutsq;                   // philut squared
extern float curves_ratio;                // grid step, 1.0586139

float fast_pow10(float x);
float fast_db_to_lin(float x);
float fast_log10(float x);
int round_nearest(float x);

// Builds the grid once at start-up; 0 on success.
int curves_init();

// A curve: begin (all 1.0), multiply in consecutive full sections (squared
// magnitudes), then convert to decibels.
void curve_begin(float curve[CURVE_POINTS]);
void curve_apply(float curve[CURVE_POINTS], const filter_section *first, int count);
void curve_to_db(float curve[CURVE_POINTS]);
