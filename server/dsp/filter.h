// Second-order sections: design from user parameters to the lattice
// coefficients the FPGA executes, plus the response terms for the curves.
#pragma once
#include <cstddef>
#include <cstdint>

constexpr double DSP_RATE = 96000.0;

constexpr uint32_t FILTER_FLAG_RESPONSE = 1;  // keep the response terms up to date

// One designed section. coef_block is c2, k2, c1, k1, L0, L2, L1 and is copied
// verbatim into an FPGA coefficient slot; response is N0, N1, N2, D1, D2, D0.
struct filter_section {
    float coef_block[7];
    uint32_t flags;
    double a0, a1, a2;
    double b0, b1, b2;
    float response[6];
};

// The stored form of a section (state file, presets): without the response terms.
struct filter_record {
    float coef_block[7];
    uint32_t flags;
    double a0, a1, a2;
    double b0, b1, b2;
};

static_assert(sizeof(filter_record) == 80);
static_assert(sizeof(filter_section) == 104);
static_assert(offsetof(filter_section, a0) == offsetof(filter_record, a0));
static_assert(offsetof(filter_section, b2) == offsetof(filter_record, b2));

// The coef_block that makes a slot pass its input unchanged.
constexpr float FILTER_BYPASS_BLOCK[7] = {0.0f, -1.0f, 0.0f, -1.0f, 0.0f, -1.0f, 0.0f};

// Pass-through; also every switched-off or zero-gain case.
void filter_reset(filter_section *s);
// Sets the response flag, then resets: once per server-owned section at start-up.
void filter_reset_with_response(filter_section *s);
// The stored form's initial state: pass-through, no response flag.
void filter_record_reset(filter_record *r);

// Normalisation, lattice conversion and (with the response flag) response terms.
// A section that would not be finite and stable is reset instead.
void filter_finish(filter_section *s);

// Bandwidth term: kind 1 value is Q, kind 2 a bandwidth in octaves, any other
// kind a slope in dB. A is the shelf or peak amplitude of the caller.
double filter_alpha(int kind, double value, double sin_w0, double A);

// Every design ends in filter_finish (or a reset). f in Hz, gains in dB.
void filter_geq_band(filter_section *s, double f, double q, double gain);
void filter_peq(filter_section *s, double f, double q, double gain);
void filter_peq_alpha(filter_section *s, double f, double value, double gain, int kind);
void filter_peq_symmetric(filter_section *s, double f, double value, double gain, int kind);
void filter_low_shelf(filter_section *s, double f, double value, double gain, int kind);
void filter_high_shelf(filter_section *s, double f, double value, double gain, int kind);
void filter_low_shelf_slope(filter_section *s, double f, double slope, double gain);
void filter_high_shelf_slope(filter_section *s, double f, double slope, double gain);
void filter_highpass2(filter_section *s, double f, double q);
void filter_lowpass2(filter_section *s, double f, double q);
void filter_highpass1(filter_section *s, double f);
void filter_lowpass1(filter_section *s, double f);
void filter_allpass2(filter_section *s, double f, double q);
void filter_allpass1(filter_section *s, double f);

// The high-pass of a bus or output (kind 0 off, 1 BW24, 2 LR24, 3 BW12,
// 4 LR12) as its two sections; kinds needing one section reset the second,
// an unknown kind counts as off.
void filter_highpass_kind(filter_section s[2], int kind, double f);

// The stored form of a section and back (the response terms stay as they are).
void filter_store(const filter_section *s, filter_record *r);
void filter_load(filter_section *s, const filter_record *r);
