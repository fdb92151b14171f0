#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

#include "dsp/curves.h"

namespace {

uint32_t bits_of(float x)
{
    uint32_t b;
    memcpy(&b, &x, sizeof b);
    return b;
}

// Grid frequency i, from its closed form rather than the running product.
double grid_hz(int i)
{
    return 17.5 * pow(24250.0 / 17.5, i / 127.0);
}

}  // namespace

TEST(CurveTables, PinnedEntries)
{
    EXPECT_EQ(log2_table[0], 0.0f);
    EXPECT_FLOAT_EQ(log2_table[2048], 0.5849625f);
    EXPECT_FLOAT_EQ(log2_table[4095], 0.99982387f);
    EXPECT_EQ(pow2_table[0], 0x2C6u);
    EXPECT_EQ(pow2_table[2048], 0x3508DFu);
    EXPECT_EQ(pow2_table[4095], 0x7FFA74u);
}

// Every entry is its definition rounded once to float; long double keeps the
// reference clear of double rounding.
TEST(CurveTables, EveryEntryMatchesDefinition)
{
    int log2_bad = 0, pow2_bad = 0;
    for (int i = 0; i < 4096; i++) {
        float l = (float)log2l(1.0L + (long double)i / 4096.0L);
        if (bits_of(log2_table[i]) != bits_of(l)) {
            ADD_FAILURE() << "log2_table[" << i << "] = " << log2_table[i] << ", want " << l;
            log2_bad++;
        }
        float p = (float)exp2l(((long double)i + 0.5L) / 4096.0L);
        ASSERT_EQ(bits_of(p) >> 23, 127u) << i;
        if (pow2_table[i] != (bits_of(p) & 0x7FFFFFu)) {
            ADD_FAILURE() << "pow2_table[" << i << "] = " << pow2_table[i];
            pow2_bad++;
        }
        if (log2_bad + pow2_bad > 10)
            break;
    }
}

TEST(FastConversions, DbToLinearValues)
{
    // 0 dB gives the midpoint entry 0, not exactly one.
    EXPECT_EQ(bits_of(fast_db_to_lin(0.0f)), 0x3F800000u | pow2_table[0]);
    EXPECT_NEAR(fast_db_to_lin(0.0f), 1.0000846f, 1e-7);
    EXPECT_NEAR(fast_db_to_lin(-6.0f), 0.501228f, 2e-6);
    EXPECT_NEAR(fast_db_to_lin(20.0f), 9.99980f, 2e-5);
    EXPECT_NEAR(fast_pow10(2.0f), 100.0f, 100.0f * 1e-4);
}

// Bit patterns from the plain second implementation in filter_reference.py.
TEST(FastConversions, BitExactAgainstSecondImplementation)
{
    const struct {
        float x;
        uint32_t want;
    } db_to_lin[] = {
        {-73.25f, 0x39641396},
        {-6.0f, 0x3F005081},
        {0.0500000007f, 0x3F80BFDE},
        {11.8999996f, 0x407BDA79},
        {20.0f, 0x411FFF30},
    }, log10[] = {
        {9.99999968e-21f, 0xC1A00018},
        {0.00100000005f, 0xC0400084},
        {0.707099974f, 0xBE1A2CC4},
        {3.70000005f, 0x3F11736A},
        {12345.6777f, 0x4082ED35},
    };
    for (auto &c : db_to_lin)
        EXPECT_EQ(bits_of(fast_db_to_lin(c.x)), c.want) << c.x;
    for (auto &c : log10)
        EXPECT_EQ(bits_of(fast_log10(c.x)), c.want) << c.x;
}

TEST(FastConversions, PowerOfTenWithinTableAccuracy)
{
    for (float x = -37.0f; x <= 38.0f; x += 0.0137f) {
        double want = pow(10.0, (double)x);
        ASSERT_NEAR(fast_pow10(x) / want, 1.0, 1e-4) << x;
    }
    for (float db = -140.0f; db <= 40.0f; db += 0.05f)
        ASSERT_NEAR(fast_db_to_lin(db) / pow(10.0, db / 20.0), 1.0, 1e-4) << db;
}

// Outside the float range the result saturates instead of wrapping the exponent.
TEST(FastConversions, PowerOfTenSaturates)
{
    EXPECT_EQ(fast_pow10(39.0f), HUGE_VALF);
    EXPECT_EQ(fast_pow10(1000.0f), HUGE_VALF);
    EXPECT_EQ(fast_pow10(-39.0f), 0.0f);
    EXPECT_EQ(fast_pow10(-1000.0f), 0.0f);
    EXPECT_EQ(fast_pow10(NAN), 0.0f);
    EXPECT_GT(fast_pow10(38.0f), 9.9e37f);
}

TEST(FastConversions, Log10Values)
{
    EXPECT_EQ(fast_log10(1.0f), 0.0f);
    EXPECT_NEAR(fast_log10(100.0f), 2.0f, 1e-6);
    EXPECT_NEAR(fast_log10(0.0f), -38.23f, 0.01f);
    for (float x = 1e-30f; x < 1e30f; x *= 1.37f)
        ASSERT_NEAR(fast_log10(x), log10((double)x), 1.1e-4) << x;
    // The table truncates, so the result never lies above the true value.
    for (float x = 1.0f; x < 2.0f; x += 0.001f)
        ASSERT_LE(fast_log10(x), log10((double)x) + 1e-7) << x;
}

TEST(FastConversions, RoundNearestTiesToEven)
{
    EXPECT_EQ(round_nearest(2.5f), 2);
    EXPECT_EQ(round_nearest(3.5f), 4);
    EXPECT_EQ(round_nearest(-0.6f), -1);
    EXPECT_EQ(round_nearest(-2.5f), -2);
    EXPECT_EQ(round_nearest(0.49999997f), 0);
    EXPECT_EQ(round_nearest(4194303.0f), 4194303);
    EXPECT_EQ(round_nearest(-4194303.0f), -4194303);
    for (float x = -3000.0f; x <= 3000.0f; x += 0.125f)
        ASSERT_EQ(round_nearest(x), (int)nearbyintf(x)) << x;
}

TEST(CurveGrid, PhiOnTheDisplayGrid)
{
    ASSERT_EQ(curves_init(), 0);
    ASSERT_NE(philut, nullptr);
    ASSERT_NE(philutsq, nullptr);
    EXPECT_EQ(curves_ratio, 1.0586139f);
    EXPECT_NEAR(philut[0], 3.2797e-7f, 1e-11);
    EXPECT_NEAR(philut[127], 0.508182f, 1e-6);
    for (int i = 0; i < CURVE_POINTS; i++) {
        double s = sin(M_PI * grid_hz(i) / 96000.0);
        EXPECT_NEAR(philut[i] / (s * s), 1.0, 2e-5) << i;
        EXPECT_EQ(philutsq[i], philut[i] * philut[i]) << i;
        if (i > 0) {
            EXPECT_GT(philut[i], philut[i - 1]) << i;
        }
    }
}

// A second start-up call keeps the buffers: they are allocated once.
TEST(CurveGrid, InitTwiceKeepsBuffers)
{
    ASSERT_EQ(curves_init(), 0);
    float *lut = philut, *lutsq = philutsq;
    float first[CURVE_POINTS];
    memcpy(first, philut, sizeof first);
    ASSERT_EQ(curves_init(), 0);
    EXPECT_EQ(philut, lut);
    EXPECT_EQ(philutsq, lutsq);
    EXPECT_EQ(memcmp(first, philut, sizeof first), 0);
}

TEST(CurveGrid, EmptyCurveIsZeroDb)
{
    ASSERT_EQ(curves_init(), 0);
    float curve[CURVE_POINTS];
    curve_begin(curve);
    curve_apply(curve, nullptr, 0);
    curve_to_db(curve);
    for (float v : curve)
        EXPECT_EQ(v, 0.0f);
}
