#include "dsp/curves.h"

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <numbers>

#include "log.h"

#include "dsp/curves_tables.inc"

float *philut;
float *philutsq;
float curves_ratio;

namespace {

constexpr float CURVES_F0 = 17.5f;
constexpr float CURVES_RATIO = 1.0586139f;       // (24250/17.5)^(1/127)
constexpr double CURVES_V0 = 0.0005726861295067134;  // sin(pi*17.5/96000)

[[noreturn]] void curves_assert_fail(const char *text, const char *func, int line)
{
    log_error("dsp/curves.cpp:%d: %s: Assertion `%s' failed.\n", line, func, text);
    abort();
}

#define curves_assert(cond, text) \
    ((cond) ? (void)0 : curves_assert_fail(text, __func__, __LINE__))

uint32_t float_bits(float x)
{
    uint32_t b;
    memcpy(&b, &x, sizeof b);
    return b;
}

float bits_float(uint32_t b)
{
    float x;
    memcpy(&x, &b, sizeof x);
    return x;
}

}  // namespace

// The integer part of x*log2(10) lands in the exponent field, the fraction
// is looked up with 12 bits.
float fast_pow10(float x)
{
    float y = x * 27866352.0f;
    y = y + 1065353216.0f;
    // Out of the float range the conversion below would be undefined:
    // saturate to 0 and infinity instead (NaN gives 0).
    if (!(y > 0.0f))
        return 0.0f;
    if (y >= 2139095040.0f)  // 255 << 23: the exponent of infinity
        return HUGE_VALF;
    uint32_t i = (uint32_t)(int32_t)y;
    return bits_float(pow2_table[(i >> 11) & 0xFFF] | (i & 0xFF800000u));
}

float fast_db_to_lin(float x)
{
    return fast_pow10(x / 20.0f);
}

float fast_log10(float x)
{
    uint32_t b = float_bits(x);
    float e = (float)((int)((b >> 23) & 0xFF) - 127);
    float m = log2_table[(b >> 11) & 0xFFF];
    float s = e + m;
    float l = (float)((double)s * 0.69314718);
    return (float)((double)l * 0.4342944758723105);
}

// 1.5*2^23 pushes the fraction out of the mantissa with the FPU's own
// round-to-even; the low bits are then the integer.
int round_nearest(float x)
{
    float s = x + 12582912.0f;
    return (int32_t)(float_bits(s) - 0x4B400000u);
}

int curves_init()
{
    // Allocated once; a second call only recomputes the grid.
    if (philut == nullptr)
        philut = (float *)malloc(CURVE_POINTS * sizeof(float));
    curves_assert(philut != nullptr, "philut!=((void *)0)");
    if (philutsq == nullptr)
        philutsq = (float *)malloc(CURVE_POINTS * sizeof(float));
    curves_assert(philutsq != nullptr, "philutsq!=((void *)0)");

    curves_ratio = CURVES_RATIO;
    float f = CURVES_F0;
    double v = CURVES_V0;
    for (int i = 0; i < CURVE_POINTS; i++) {
        float p = (float)v;
        p = p * p;
        philut[i] = p;
        philutsq[i] = p * p;
        f = f * CURVES_RATIO;
        v = sin((double)f * (2.0 * std::numbers::pi) / DSP_RATE * 0.5);
    }
    return 0;
}

void curve_begin(float curve[CURVE_POINTS])
{
    for (int j = 0; j < CURVE_POINTS; j++)
        curve[j] = 1.0f;
}

// |H|^2 = (N0 - N1*phi + N2*phi^2) / (D0 - D1*phi + D2*phi^2), phi = sin^2(w/2)
void curve_section_magnitude(const float response[6], float row[CURVE_POINTS])
{
    const float *r = response;
    const float n0 = r[0], n1 = r[1], n2 = r[2], d1 = r[3], d2 = r[4], d0 = r[5];
    for (int j = 0; j < CURVE_POINTS; j++) {
        float phi = philut[j];
        float phi2 = philutsq[j];
        float num = (n0 - phi * n1) + phi2 * n2;
        float den = (d0 - phi * d1) + phi2 * d2;
        row[j] = num / den;
    }
}

void curve_apply(float curve[CURVE_POINTS], const filter_section *first, int count)
{
    float row[CURVE_POINTS];
    for (int k = 0; k < count; k++) {
        curve_section_magnitude(first[k].response, row);
        for (int j = 0; j < CURVE_POINTS; j++)
            curve[j] = curve[j] * row[j];
    }
}

void curve_to_db(float curve[CURVE_POINTS])
{
    for (int j = 0; j < CURVE_POINTS; j++)
        curve[j] = 10.0f * fast_log10(curve[j]);
}
