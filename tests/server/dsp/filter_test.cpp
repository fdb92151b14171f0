#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "dsp/curves.h"
#include "dsp/filter.h"

namespace {

using cplx = std::complex<double>;

filter_section fresh()
{
    filter_section s;
    memset(&s, 0xA5, sizeof s);
    s.flags = 0;
    filter_reset_with_response(&s);
    return s;
}

// H(e^jw) of the designed biquad, in double precision.
cplx response_at(const filter_section &s, double hz)
{
    cplx z1 = std::polar(1.0, -2.0 * M_PI * hz / DSP_RATE);
    return (s.b0 + s.b1 * z1 + s.b2 * z1 * z1) / (s.a0 + s.a1 * z1 + s.a2 * z1 * z1);
}

double db_at(const filter_section *s, int count, double hz)
{
    cplx h = 1.0;
    for (int i = 0; i < count; i++)
        h *= response_at(s[i], hz);
    return 20.0 * log10(std::abs(h));
}

bool is_bypass(const filter_section &s)
{
    return memcmp(s.coef_block, FILTER_BYPASS_BLOCK, sizeof s.coef_block) == 0;
}

bool is_flat(const filter_section &s)
{
    const float flat[6] = {1, 0, 0, 0, 0, 1};
    return memcmp(s.response, flat, sizeof flat) == 0 && s.b0 == 1 && s.b1 == 0 && s.b2 == 0 &&
           s.a0 == 1 && s.a1 == 0 && s.a2 == 0;
}

// One design kind: fills `count` consecutive sections from (f, value, gain).
struct design {
    std::string name;
    int count;     // sections the curve takes
    int designed;  // leading sections that are not reset
    std::vector<double> values;  // Q, octaves or slope, as the kind takes it
    bool gain;
    std::function<void(filter_section *, double, double, double)> run;
};

const std::vector<double> QS = {0.5, 1.41, 4.318477, 10.0};
const std::vector<double> OCTAVES = {0.1, 0.5, 1.0, 2.0};
const std::vector<double> SLOPES = {3.0, 6.0, 12.0};
const std::vector<double> NONE = {0.0};

std::vector<double> values_of_kind(int kind)
{
    return kind == 1 ? QS : kind == 2 ? OCTAVES : SLOPES;
}

std::vector<design> all_designs()
{
    std::vector<design> d = {
        {"geq_band", 1, 1, QS, true, [](filter_section *s, double f, double v, double g) { filter_geq_band(s, f, v, g); }},
        {"peq", 1, 1, QS, true, [](filter_section *s, double f, double v, double g) { filter_peq(s, f, v, g); }},
        {"low_shelf_slope", 1, 1, SLOPES, true, [](filter_section *s, double f, double v, double g) { filter_low_shelf_slope(s, f, v, g); }},
        {"high_shelf_slope", 1, 1, SLOPES, true, [](filter_section *s, double f, double v, double g) { filter_high_shelf_slope(s, f, v, g); }},
        {"highpass2", 1, 1, QS, false, [](filter_section *s, double f, double v, double) { filter_highpass2(s, f, v); }},
        {"lowpass2", 1, 1, QS, false, [](filter_section *s, double f, double v, double) { filter_lowpass2(s, f, v); }},
        {"allpass2", 1, 1, QS, false, [](filter_section *s, double f, double v, double) { filter_allpass2(s, f, v); }},
        {"highpass1", 1, 1, NONE, false, [](filter_section *s, double f, double, double) { filter_highpass1(s, f); }},
        {"lowpass1", 1, 1, NONE, false, [](filter_section *s, double f, double, double) { filter_lowpass1(s, f); }},
        {"allpass1", 1, 1, NONE, false, [](filter_section *s, double f, double, double) { filter_allpass1(s, f); }},
    };
    for (int kind : {1, 2, 4}) {
        std::string k = std::to_string(kind);
        auto vals = values_of_kind(kind);
        d.push_back({"peq_alpha/" + k, 1, 1, vals, true, [kind](filter_section *s, double f, double v, double g) { filter_peq_alpha(s, f, v, g, kind); }});
        d.push_back({"peq_symmetric/" + k, 1, 1, vals, true, [kind](filter_section *s, double f, double v, double g) { filter_peq_symmetric(s, f, v, g, kind); }});
        d.push_back({"low_shelf/" + k, 1, 1, vals, true, [kind](filter_section *s, double f, double v, double g) { filter_low_shelf(s, f, v, g, kind); }});
        d.push_back({"high_shelf/" + k, 1, 1, vals, true, [kind](filter_section *s, double f, double v, double g) { filter_high_shelf(s, f, v, g, kind); }});
    }
    for (int kind = 1; kind <= 4; kind++)
        d.push_back({"highpass_kind/" + std::to_string(kind), 2, kind <= 2 ? 2 : 1, NONE, false, [kind](filter_section *s, double f, double, double) { filter_highpass_kind(s, kind, f); }});
    return d;
}

const double FREQS[] = {20.0, 63.0, 250.0, 1000.0, 4000.0, 12500.0, 20000.0};
const double GAINS[] = {-15.0, -6.0, -0.5, 3.0, 12.0};

// Calls fn for every design over the grid of frequencies, values and gains.
void for_each_design(const std::function<void(const design &, const filter_section *, const std::string &)> &fn)
{
    for (const design &d : all_designs())
        for (double f : FREQS)
            for (double v : d.values)
                for (double g : d.gain ? std::vector<double>(std::begin(GAINS), std::end(GAINS)) : std::vector<double>{0.0}) {
                    filter_section s[2] = {fresh(), fresh()};
                    d.run(s, f, v, g);
                    std::string where = d.name + " f=" + std::to_string(f) + " v=" + std::to_string(v) + " g=" + std::to_string(g);
                    fn(d, s, where);
                }
}

// The section rebuilt from its lattice coefficients, inverting the conversion.
struct biquad {
    double b0, b1, b2, a1, a2;
    double tol_b0, tol_b1, tol_a1;
};

biquad from_lattice(const float *c)
{
    double c2 = c[0], k2 = c[1], c1 = c[2], k1 = c[3], L0 = c[4], L2 = c[5], L1 = c[6];
    biquad q;
    q.a2 = k2;
    q.a1 = k1 * (1.0 + k2);
    q.b2 = L2;
    q.b1 = L1 * c2 + q.b2 * q.a1;
    q.b0 = L0 * c1 * c2 + L1 * c2 * k1 + L2 * k2;
    // A few float roundings of each term.
    const double e = 4.0 * ldexp(1.0, -24);
    q.tol_a1 = e * (fabs(q.a1) + fabs(q.a2));
    q.tol_b1 = e * (fabs(L1 * c2) + 2.0 * fabs(q.b2 * q.a1));
    q.tol_b0 = e * (fabs(L0 * c1 * c2) + fabs(L1 * c2 * k1) + fabs(L2 * k2));
    return q;
}

}  // namespace

TEST(FilterReset, ZeroGainIsBypassAndFlat)
{
    for (double f : {20.0, 1000.0, 20000.0})
        for (double q : {0.3, 4.0}) {
            filter_section s = fresh();
            filter_peq(&s, 1000.0, 1.0, 6.0);
            ASSERT_FALSE(is_bypass(s));
            filter_peq(&s, f, q, 0.0);
            EXPECT_TRUE(is_bypass(s));
            EXPECT_TRUE(is_flat(s));
        }
    // Every gain-bearing design treats 0 dB the same way.
    for (const design &d : all_designs()) {
        if (!d.gain)
            continue;
        filter_section s[2] = {fresh(), fresh()};
        d.run(s, 1000.0, d.values[0], 0.0);
        EXPECT_TRUE(is_bypass(s[0]) && is_flat(s[0])) << d.name;
    }
}

TEST(FilterReset, WithoutResponseFlagTermsAreLeftAlone)
{
    filter_section s;
    memset(&s, 0, sizeof s);
    s.response[0] = 7.0f;
    filter_reset(&s);
    EXPECT_TRUE(is_bypass(s));
    EXPECT_EQ(s.response[0], 7.0f);
    filter_peq(&s, 1000.0, 1.0, 6.0);
    EXPECT_EQ(s.response[0], 7.0f);
    EXPECT_FALSE(is_bypass(s));

    filter_reset_with_response(&s);
    EXPECT_EQ(s.flags, FILTER_FLAG_RESPONSE);
    EXPECT_TRUE(is_flat(s));
}

TEST(FilterFinish, PlainPassLattice)
{
    filter_section s = fresh();
    s.b0 = 1.0;
    s.b1 = s.b2 = s.a1 = s.a2 = 0.0;
    s.a0 = 1.0;
    filter_finish(&s);
    const float want[7] = {-1.0f, 0.0f, -1.0f, 0.0f, 1.0f, 0.0f, 0.0f};
    for (int i = 0; i < 7; i++)
        EXPECT_EQ(s.coef_block[i], want[i]) << i;
    const float flat[6] = {1, 0, 0, 0, 0, 1};
    for (int i = 0; i < 6; i++)
        EXPECT_EQ(s.response[i], flat[i]) << i;
}

TEST(FilterFinish, NormalisesByA0)
{
    filter_section s = fresh(), t = fresh();
    filter_peq(&t, 1000.0, 2.0, 6.0);
    s.b0 = 2.0 * t.b0;
    s.b1 = 2.0 * t.b1;
    s.b2 = 2.0 * t.b2;
    s.a0 = 2.0;
    s.a1 = 2.0 * t.a1;
    s.a2 = 2.0 * t.a2;
    filter_finish(&s);
    EXPECT_EQ(s.a0, 1.0);
    EXPECT_EQ(s.b0, t.b0);
    EXPECT_EQ(s.b1, t.b1);
    EXPECT_EQ(s.b2, t.b2);
    EXPECT_EQ(s.a1, t.a1);
    EXPECT_EQ(s.a2, t.a2);
    EXPECT_EQ(memcmp(s.coef_block, t.coef_block, sizeof s.coef_block), 0);
    EXPECT_EQ(memcmp(s.response, t.response, sizeof s.response), 0);
}

// Nothing that is not a finite, stable section may reach a coefficient slot.
TEST(FilterFinish, InvalidDesignsPassTheSignal)
{
    auto check = [](filter_section s, const char *what) {
        filter_finish(&s);
        EXPECT_TRUE(is_bypass(s)) << what;
        EXPECT_TRUE(is_flat(s)) << what;
    };
    filter_section s = fresh();
    s.b0 = 0.5, s.b1 = 0.1, s.b2 = 0.2, s.a0 = 1.0, s.a1 = 0.3;
    s.a2 = NAN;
    check(s, "a2 NaN");
    s.a2 = 0.2, s.a0 = 0.0;
    check(s, "a0 zero");
    s.a0 = 1.0, s.a2 = 1.5;
    check(s, "unstable pole");
    s.a2 = 1.0;
    check(s, "pole on the unit circle");
    s.a2 = 0.2, s.b1 = INFINITY;
    check(s, "infinite numerator");
    s.b1 = 0.1, s.a0 = NAN;
    check(s, "a0 NaN");

    filter_section t = fresh();
    filter_highpass2(&t, 0.0, 0.707);
    EXPECT_TRUE(is_bypass(t));
    filter_peq(&t, 1000.0, 1.0, NAN);
    EXPECT_TRUE(is_bypass(t));
    filter_low_shelf(&t, 1000.0, -6.0, 6.0, 4);  // negative slope: root of a negative
    EXPECT_TRUE(is_bypass(t));
}

TEST(FilterHighpassKind, SectionsPerKind)
{
    const double want[5][2] = {{0, 0}, {0.541, 1.307}, {0.707, 0.707}, {0.707, 0}, {0.5, 0}};
    for (int kind = -1; kind <= 5; kind++) {
        filter_section s[2] = {fresh(), fresh()};
        filter_peq(&s[0], 500.0, 1.0, 3.0);
        filter_peq(&s[1], 500.0, 1.0, 3.0);
        filter_highpass_kind(s, kind, 80.0);
        for (int i = 0; i < 2; i++) {
            double q = kind >= 0 && kind <= 4 ? want[kind][i] : 0.0;
            if (q == 0.0) {
                EXPECT_TRUE(is_bypass(s[i]) && is_flat(s[i])) << kind << "/" << i;
                continue;
            }
            filter_section r = fresh();
            filter_highpass2(&r, 80.0, q);
            EXPECT_EQ(memcmp(&r, &s[i], sizeof r), 0) << kind << "/" << i;
        }
    }
}

// (a) The curve drawn from the response terms is the biquad's own magnitude.
TEST(FilterDesigns, CurveMatchesBiquadMagnitude)
{
    ASSERT_EQ(curves_init(), 0);
    double worst = 0.0;
    for_each_design([&](const design &d, const filter_section *s, const std::string &where) {
        float curve[CURVE_POINTS];
        curve_begin(curve);
        curve_apply(curve, s, d.count);
        curve_to_db(curve);
        for (int j = 0; j < CURVE_POINTS; j++) {
            double hz = 17.5 * pow(24250.0 / 17.5, j / 127.0);
            double err = fabs(curve[j] - db_at(s, d.count, hz));
            worst = std::max(worst, err);
            ASSERT_LT(err, 0.01) << where << " at " << hz << " Hz";
        }
    });
    RecordProperty("worst_db", std::to_string(worst));
}

// (b) The lattice coefficients carry the designed biquad to single precision.
TEST(FilterDesigns, LatticeRebuildsBiquad)
{
    int designed = 0;
    for_each_design([&](const design &d, const filter_section *s, const std::string &where) {
        for (int i = d.designed; i < d.count; i++)
            ASSERT_TRUE(is_bypass(s[i])) << where;
        for (int i = 0; i < d.designed; i++) {
            ASSERT_FALSE(is_bypass(s[i])) << where;
            ASSERT_EQ(s[i].a0, 1.0) << where;
            biquad q = from_lattice(s[i].coef_block);
            EXPECT_EQ(q.a2, (double)(float)s[i].a2) << where;
            EXPECT_NEAR(q.a1, s[i].a1, q.tol_a1) << where;
            EXPECT_EQ(q.b2, (double)(float)s[i].b2) << where;
            EXPECT_NEAR(q.b1, s[i].b1, q.tol_b1) << where;
            ASSERT_NEAR(q.b0, s[i].b0, q.tol_b0) << where;
            designed++;
        }
    });
    EXPECT_GT(designed, 2000);
}

// (c) Gains where the designs promise them.
TEST(FilterDesigns, PeakingBandsReachGainAtCentre)
{
    for (double f : FREQS)
        for (double g : GAINS) {
            for (double q : QS) {
                filter_section s = fresh();
                filter_peq(&s, f, q, g);
                EXPECT_NEAR(db_at(&s, 1, f), g, 0.002) << "peq " << f << " " << q << " " << g;
            }
            for (int kind : {1, 2, 4})
                for (double v : values_of_kind(kind)) {
                    filter_section s = fresh();
                    filter_peq_alpha(&s, f, v, g, kind);
                    EXPECT_NEAR(db_at(&s, 1, f), g, 0.002) << "alpha " << kind << " " << f << " " << v;
                    filter_peq_symmetric(&s, f, v, g, kind);
                    EXPECT_NEAR(db_at(&s, 1, f), g, 0.002) << "symm " << kind << " " << f << " " << v;
                }
        }
    // The graphic bands with their fixed Q. Matching the analogue band's
    // Nyquist gain moves the peak slightly off the gain near the top.
    const double bands[31] = {20, 25, 31.5, 40, 50, 63, 80, 100, 125, 160, 200,
                              250, 315, 400, 500, 630, 800, 1000, 1250, 1600, 2000, 2500,
                              3150, 4000, 5000, 6300, 8000, 10000, 12500, 16000, 20000};
    for (double f : bands)
        for (double g : GAINS) {
            filter_section s = fresh();
            filter_geq_band(&s, f, 4.318477, g);
            EXPECT_NEAR(db_at(&s, 1, f), g, f <= 8000.0 ? 0.01 : 0.15) << "geq " << f << " " << g;
        }

    // The example band: 1 kHz, Q 1, +6 dB.
    filter_section s = fresh();
    filter_peq(&s, 1000.0, 1.0, 6.0);
    EXPECT_NEAR(db_at(&s, 1, 1000.0), 6.0, 0.002);
}

TEST(FilterDesigns, ShelvesReachGainAtTheEnds)
{
    for (double f : {63.0, 1000.0, 8000.0})
        for (double g : GAINS) {
            std::vector<std::pair<std::string, std::function<void(filter_section *, bool)>>> shelves;
            for (int kind : {1, 2, 4})
                for (double v : values_of_kind(kind))
                    shelves.push_back({"kind " + std::to_string(kind), [=](filter_section *s, bool low) {
                                           low ? filter_low_shelf(s, f, v, g, kind) : filter_high_shelf(s, f, v, g, kind);
                                       }});
            shelves.push_back({"slope", [=](filter_section *s, bool low) {
                                   low ? filter_low_shelf_slope(s, f, 6.0, g) : filter_high_shelf_slope(s, f, 6.0, g);
                               }});
            for (auto &[name, run] : shelves) {
                filter_section s = fresh();
                run(&s, true);
                EXPECT_NEAR(db_at(&s, 1, 0.0), g, 0.002) << "low " << name << " " << f << " " << g;
                EXPECT_NEAR(db_at(&s, 1, 48000.0), 0.0, 0.001) << "low " << name << " " << f;
                run(&s, false);
                EXPECT_NEAR(db_at(&s, 1, 48000.0), g, 0.002) << "high " << name << " " << f << " " << g;
                EXPECT_NEAR(db_at(&s, 1, 0.0), 0.0, 0.001) << "high " << name << " " << f;
            }
        }
}

TEST(FilterDesigns, PassFiltersAtTheCorner)
{
    const double butterworth = -3.0103, linkwitz = -6.0206;
    for (double f : FREQS) {
        filter_section s[2] = {fresh(), fresh()};
        for (int kind = 1; kind <= 4; kind++) {
            filter_highpass_kind(s, kind, f);
            double want = kind == 1 || kind == 3 ? butterworth : linkwitz;
            EXPECT_NEAR(db_at(s, 2, f), want, 0.01) << "kind " << kind << " at " << f;
            EXPECT_LT(db_at(s, 2, f / 8.0), want - (kind <= 2 ? 60.0 : 30.0)) << kind << " " << f;
        }
        filter_lowpass2(&s[0], f, 0.707);
        EXPECT_NEAR(db_at(s, 1, f), butterworth, 0.01) << f;
        filter_lowpass2(&s[0], f, 0.5);
        EXPECT_NEAR(db_at(s, 1, f), linkwitz, 0.01) << f;
        filter_highpass1(&s[0], f);
        EXPECT_NEAR(db_at(s, 1, f), butterworth, 0.001) << f;
        EXPECT_NEAR(db_at(s, 1, 48000.0), 0.0, 1e-6) << f;
        filter_lowpass1(&s[0], f);
        EXPECT_NEAR(db_at(s, 1, f), butterworth, 0.001) << f;
        EXPECT_NEAR(db_at(s, 1, 0.0), 0.0, 1e-6) << f;
        for (double hz : {10.0, f, 30000.0}) {
            filter_allpass2(&s[0], f, 2.0);
            EXPECT_NEAR(db_at(s, 1, hz), 0.0, 1e-9) << f;
            filter_allpass1(&s[0], f);
            EXPECT_NEAR(db_at(s, 1, hz), 0.0, 1e-9) << f;
        }
    }
    // The second-order all-pass turns the phase by half a turn at its frequency.
    filter_section s = fresh();
    filter_allpass2(&s, 1000.0, 0.707);
    EXPECT_NEAR(fabs(std::arg(response_at(s, 1000.0))), M_PI, 1e-9);
}

TEST(FilterDesigns, SymmetricCutInvertsBoost)
{
    for (int kind : {1, 2, 4})
        for (double v : values_of_kind(kind))
            for (double g : {1.5, 6.0, 15.0})
                for (double f : {40.0, 1000.0, 15000.0}) {
                    filter_section up = fresh(), down = fresh();
                    filter_peq_symmetric(&up, f, v, g, kind);
                    filter_peq_symmetric(&down, f, v, -g, kind);
                    for (double hz = 10.0; hz < 48000.0; hz *= 1.2) {
                        cplx h = response_at(up, hz) * response_at(down, hz);
                        // Only the table's 1e-4 in A keeps this from being exactly one.
                        ASSERT_LT(std::abs(h - 1.0), 3e-4) << kind << " " << v << " " << g << " " << f << " " << hz;
                    }
                }
}

TEST(FilterDesigns, GraphicBandShape)
{
    filter_section up = fresh(), down = fresh();
    filter_geq_band(&up, 1000.0, 4.318477, 6.0);
    filter_geq_band(&down, 1000.0, 4.318477, -6.0);
    for (double hz : {891.0, 1122.0}) {
        EXPECT_NEAR(db_at(&up, 1, hz), 2.8, 0.15) << hz;
        EXPECT_NEAR(db_at(&down, 1, hz), -2.8, 0.15) << hz;
    }
    for (double f : {31.5, 1000.0, 16000.0}) {
        filter_geq_band(&up, f, 4.318477, 12.0);
        filter_geq_band(&down, f, 4.318477, -12.0);
        for (double hz = 10.0; hz < 48000.0; hz *= 1.1)
            ASSERT_NEAR(db_at(&up, 1, hz) + db_at(&down, 1, hz), 0.0, 0.002) << f << " " << hz;
        if (f == 1000.0)
            for (double hz : {20.0, 47999.0}) {
                EXPECT_NEAR(db_at(&up, 1, hz), 0.0, 0.01) << f << " " << hz;
                EXPECT_NEAR(db_at(&down, 1, hz), 0.0, 0.01) << f << " " << hz;
            }
    }
}

// The cascade's curve is the sum of its sections' curves in dB.
TEST(FilterCurves, CascadeAddsInDecibels)
{
    ASSERT_EQ(curves_init(), 0);
    filter_section s[4] = {fresh(), fresh(), fresh(), fresh()};
    filter_peq(&s[0], 100.0, 2.0, 9.0);
    filter_high_shelf_slope(&s[1], 8000.0, 6.0, -4.0);
    filter_highpass_kind(&s[2], 1, 40.0);
    float all[CURVE_POINTS], sum[CURVE_POINTS] = {};
    curve_begin(all);
    curve_apply(all, s, 4);
    curve_to_db(all);
    for (int i = 0; i < 4; i++) {
        float one[CURVE_POINTS];
        curve_begin(one);
        curve_apply(one, &s[i], 1);
        curve_to_db(one);
        for (int j = 0; j < CURVE_POINTS; j++)
            sum[j] += one[j];
    }
    for (int j = 0; j < CURVE_POINTS; j++)
        EXPECT_NEAR(all[j], sum[j], 0.005) << j;
}

TEST(FilterRecord, StoreAndLoad)
{
    filter_section s = fresh();
    filter_geq_band(&s, 2500.0, 4.318477, -7.5);
    filter_record r;
    memset(&r, 0, sizeof r);
    filter_store(&s, &r);
    EXPECT_EQ(memcmp(r.coef_block, s.coef_block, sizeof r.coef_block), 0);
    EXPECT_EQ(r.flags, s.flags);
    EXPECT_EQ(r.b0, s.b0);
    EXPECT_EQ(r.a2, s.a2);

    // Loading keeps the target's response terms.
    filter_section t = fresh();
    filter_peq(&t, 100.0, 1.0, 3.0);
    float terms[6];
    memcpy(terms, t.response, sizeof terms);
    filter_load(&t, &r);
    EXPECT_EQ(memcmp(&t, &s, offsetof(filter_section, response)), 0);
    EXPECT_EQ(memcmp(t.response, terms, sizeof terms), 0);

    filter_record_reset(&r);
    filter_load(&t, &r);
    EXPECT_TRUE(is_bypass(t));
    EXPECT_EQ(t.flags, 0u);
}
