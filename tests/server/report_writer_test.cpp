// The report fields against the C library's printf, which defines the
// protocol's number formats, on millions of values: random bit patterns
// over the whole range, values near and on rounding ties, and the special
// ones (negative zero, infinities, NaN, 1e8, the largest and smallest).
#include <gtest/gtest.h>

#include <bit>
#include <cfloat>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <random>
#include <string>

#include "report_writer.h"

namespace {

std::string fixed_text(double v, int width, int decimals)
{
    char buf[REPORT_NUMBER_MAX + 1];
    size_t n = report_number_fixed(buf, v, width, decimals);
    EXPECT_LE(n, REPORT_NUMBER_MAX);
    return std::string(buf, n);
}

std::string printf_text(double v, int width, int decimals)
{
    char buf[400];
    snprintf(buf, sizeof buf, "%*.*f", width, decimals, v);
    return buf;
}

// The formats the protocol uses, then others the routine takes.
constexpr int kFormats[][2] = {{2, 1}, {2, 0}, {1, 2}, {0, 3}, {6, 1}};

// Compares one value in the protocol's formats (or every format); stops
// the test after a few misses.
int misses = 0;
void check(double v, bool all_formats = true)
{
    for (int i = 0; i < (all_formats ? 5 : 3); i++) {
        const auto &f = kFormats[i];
        std::string want = printf_text(v, f[0], f[1]);
        std::string got = fixed_text(v, f[0], f[1]);
        if (got != want && misses++ < 10)
            ADD_FAILURE() << "%" << f[0] << "." << f[1] << "f of " << std::hexfloat << v << ": got \"" << got
                          << "\", printf \"" << want << "\"";
    }
}

// (2m + 1) / 2^(D + 1) times 10^D is 5^D (2m + 1) / 2: exactly on a tie of
// D decimals.
double tie(std::mt19937_64 &rng, int decimals)
{
    int64_t m = (int64_t)(rng() % 2000000) - 1000000;
    return std::ldexp((double)(2 * m + 1), -(decimals + 1));
}

}  // namespace

TEST(ReportWriterNumbers, IntegersAsPrintfWritesThem)
{
    std::mt19937 rng(7);
    const int32_t edge[] = {0, 1, -1, 9, 10, -10, 99, 100, 2147483647, -2147483647 - 1, 100000000};
    auto one = [](int32_t v) {
        char got[16], want[16];
        got[report_number_int(got, v)] = 0;
        snprintf(want, sizeof want, "%d", v);
        EXPECT_STREQ(got, want);
        got[report_number_uint(got, (uint32_t)v)] = 0;
        snprintf(want, sizeof want, "%u", (uint32_t)v);
        EXPECT_STREQ(got, want);
        got[report_number_hex(got, (uint32_t)v)] = 0;
        snprintf(want, sizeof want, "%x", (uint32_t)v);
        EXPECT_STREQ(got, want);
    };
    for (int32_t v : edge)
        one(v);
    for (int i = 0; i < 300000 && !testing::Test::HasFailure(); i++) {
        uint32_t r = rng();
        one((int32_t)(r >> (r & 31)));  // every magnitude, not only ten-digit ones
    }
}

TEST(ReportWriterNumbers, FixedPointSpecialValues)
{
    EXPECT_EQ(fixed_text(-0.0, 2, 1), "-0.0");
    EXPECT_EQ(fixed_text(-0.04, 2, 1), "-0.0");
    EXPECT_EQ(fixed_text(0.25, 2, 1), "0.2");   // a tie: to even
    EXPECT_EQ(fixed_text(0.75, 2, 1), "0.8");
    EXPECT_EQ(fixed_text(2.5, 2, 0), " 2");     // width 2
    EXPECT_EQ(fixed_text(1e8, 2, 1), "100000000.0");
    EXPECT_EQ(fixed_text(NAN, 2, 1), printf_text(NAN, 2, 1));
    EXPECT_EQ(fixed_text(-NAN, 2, 1), printf_text(-NAN, 2, 1));
    EXPECT_EQ(fixed_text(-INFINITY, 1, 2), "-inf");

    const double special[] = {0.0, -0.0, 1e8, -1e8, 1e8f, 99999999.95, 999999999.95, 1e9, 1e15, 9007199254740992.0,
                              18446744073709551616.0, 1e300, -1e300, DBL_MAX, -DBL_MAX, DBL_MIN, -DBL_MIN,
                              4.9406564584124654e-324, FLT_MAX, FLT_MIN, 0.05, 0.005, 0.0005, 0.95, 9.95, 99.5,
                              0.125, 0.375, 1.5, -1.5, -2.5, 1e-5, 3.280839895, INFINITY, NAN, -NAN};
    for (double v : special)
        check(v);
    for (int i = -1074; i <= 1023; i++) {
        check(std::ldexp(1.0, i));
        check(-std::ldexp(1.5, i));
    }
}

// The fields of the protocol carry floats: every float through "%2.1f",
// "%2.0f" and "%1.2f" as it would be promoted to double.
TEST(ReportWriterNumbers, FixedPointOfRandomFloatsAndDoubles)
{
    std::mt19937_64 rng(20240611);
    std::uniform_real_distribution<double> in_range(-200000.0, 200000.0);
    std::uniform_int_distribution<int> tenths(-2000000, 2000000);
    for (int i = 0; i < 150000 && misses == 0; i++) {
        check((double)std::bit_cast<float>((uint32_t)rng()), false);  // any float, NaN and infinities included
        check(std::bit_cast<double>((uint64_t)rng()), false);                   // any double
        check((double)(float)in_range(rng), false);       // a value a command could set
        check((double)(float)(tenths(rng) / 10.0), false);  // one decimal, as typed
        check(tie(rng, (int)(rng() % 4)));                 // exactly on a tie
        double near = tie(rng, 1);
        check(std::nextafter(near, 1e300), false);        // one step beside it
        check(std::nextafter(near, -1e300), false);
    }
    EXPECT_EQ(misses, 0);
}

namespace {

// The curve formatter as it was: the library's rounding of the float product.
std::string tenths_reference(float value)
{
    float r = nearbyintf(value * 10.0f);
    long n;
    if (std::isnan(r))
        n = 0;
    else if (r > 999999999.0f)
        n = 999999999;
    else if (r < -999999999.0f)
        n = -999999999;
    else
        n = (long)r;
    char buf[32];
    snprintf(buf, sizeof buf, "%s%ld.%ld", n < 0 ? "-" : "", std::labs(n) / 10, std::labs(n) % 10);
    return buf;
}

std::string tenths_text(float v)
{
    char buf[20];
    size_t n = report_number_tenths(buf, v);
    EXPECT_LE(n, 16u);
    return std::string(buf, n);
}

}  // namespace

TEST(ReportWriterNumbers, CurveValuesAsTheLibraryRoundsThem)
{
    EXPECT_EQ(tenths_text(0.0f), "0.0");
    EXPECT_EQ(tenths_text(-0.0f), "0.0");
    EXPECT_EQ(tenths_text(-0.04f), "0.0");
    EXPECT_EQ(tenths_text(0.25f), "0.2");
    EXPECT_EQ(tenths_text(-0.25f), "-0.2");  // ties to even
    EXPECT_EQ(tenths_text(0.75f), "0.8");
    EXPECT_EQ(tenths_text(1e8f), "100000000.0");
    EXPECT_EQ(tenths_text(1e9f), "99999999.9");
    EXPECT_EQ(tenths_text(-INFINITY), "-99999999.9");
    EXPECT_EQ(tenths_text(NAN), "0.0");

    std::mt19937 rng(99);
    int bad = 0;
    auto one = [&](float v) {
        std::string want = tenths_reference(v), got = tenths_text(v);
        if (got != want && bad++ < 10)
            ADD_FAILURE() << std::hexfloat << v << ": got " << got << ", want " << want;
    };
    for (int i = 0; i < 1000000 && bad == 0; i++) {
        one(std::bit_cast<float>((uint32_t)rng()));                       // every exponent, NaN, infinities
        float t = ((float)((int)(rng() % 200000) - 100000) + 0.5f) / 10.0f;  // beside a tie
        one(t);
        one(std::nextafter(t, 1e30f));
        one(std::nextafter(t, -1e30f));
        one((float)((int)(rng() % 4000) - 2000) * 0.05f);
    }
}

TEST(ReportWriterLines, FieldsAndTheBufferEnd)
{
    char buf[64];
    report_writer w;
    report_writer_init(&w, buf, sizeof buf);
    report_line(&w, 16, 3, 2, 1, report_f20(250.0f), report_f21(0.7f), report_f21(-4.0f), 0);
    report_line(&w, 23, 0, 1, report_f12(293.15f), report_text{"ab", 1}, report_hex{13664});
    EXPECT_STREQ(buf, "16,3,2,1,250,0.7,-4.0,0\n23,0,1,293.15,a,3560\n");

    // Cut at the end like every other append, never past it.
    char small[12];
    memset(small, 'X', sizeof small);
    report_writer_init(&w, small, 10);
    report_line(&w, 123456, report_f21(-1e8), 7);
    EXPECT_EQ(w.len, 9u);
    EXPECT_STREQ(small, "123456,-1");
    EXPECT_EQ(small[10], 'X');
}
