// The kept curves against the computation the passes used to make for every
// curve: begin, every applied section at every point with one division each,
// to decibels, and the formatter's rounding of value times ten by the C
// library. That computation is copied here unchanged, so "the same reported
// values" is checked, bit for bit and character for character: on random
// sections, through the real passes on thousands of random band settings,
// and along long random sequences of single-band changes (where a curve
// updated step by step would drift if it could).
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>
#include <string>

#include "command.h"
#include "dsp/curve_cache.h"
#include "dsp/dsp_lowlevel.h"
#include "dsp/dsp_update.h"
#include "dsp/filter.h"
#include "dsp/rt_thread.h"
#include "server/server_state.h"

namespace {

// ---- the former computation, as it was ----

void old_begin(float curve[CURVE_POINTS])
{
    for (int j = 0; j < CURVE_POINTS; j++)
        curve[j] = 1.0f;
}

void old_apply(float curve[CURVE_POINTS], const filter_section *first, int count)
{
    for (int k = 0; k < count; k++) {
        const float *r = first[k].response;
        const float n0 = r[0], n1 = r[1], n2 = r[2], d1 = r[3], d2 = r[4], d0 = r[5];
        for (int j = 0; j < CURVE_POINTS; j++) {
            float phi = philut[j];
            float phi2 = philutsq[j];
            float num = (n0 - phi * n1) + phi2 * n2;
            float den = (d0 - phi * d1) + phi2 * d2;
            curve[j] = curve[j] * (num / den);
        }
    }
}

void old_to_db(float curve[CURVE_POINTS])
{
    for (int j = 0; j < CURVE_POINTS; j++)
        curve[j] = 10.0f * fast_log10(curve[j]);
}

std::string old_value(float value)
{
    float r = nearbyintf(value * 10.0f);
    long n = std::isnan(r) ? 0 : r > 999999999.0f ? 999999999 : r < -999999999.0f ? -999999999 : (long)r;
    char buf[32];
    snprintf(buf, sizeof buf, "%s%ld.%ld", n < 0 ? "-" : "", std::labs(n) / 10, std::labs(n) % 10);
    return buf;
}

std::string old_line(int id, int index, const float curve[CURVE_POINTS])
{
    std::string l = std::to_string(id) + ",0," + std::to_string(index);
    for (int j = 0; j < CURVE_POINTS; j++)
        l += "," + old_value(curve[j]);
    return l;
}

template <size_t N>
void old_filters(float *curve, int32_t flags, const dsp_peq (&peq)[N], const dsp_shelf (&shelf)[2], const dsp_hpf &hpf)
{
    if (!(flags & EQ_FLAG_PEQ))
        for (const auto &p : peq)
            if (!p.bypass)
                old_apply(curve, &p.sec, 1);
    if (!(flags & EQ_FLAG_SHELF))
        for (const auto &s : shelf)
            if (!s.bypass)
                old_apply(curve, &s.sec, 1);
    if (!(flags & EQ_FLAG_HIGHPASS) && !hpf.bypass)
        old_apply(curve, hpf.sec, 2);
}

void old_bus_curve(const dsp_bus &m, float curve[CURVE_POINTS])
{
    old_begin(curve);
    if (!(m.eq_flags & EQ_FLAG_GEQ))
        old_apply(curve, m.geq, SYS_GEQ_BANDS);
    old_filters(curve, m.eq_flags, m.peq, m.shelf, m.hpf);
    old_to_db(curve);
}

void old_out_curve(const dsp_out &m, float curve[CURVE_POINTS])
{
    old_begin(curve);
    old_filters(curve, m.eq_flags, m.peq, m.shelf, m.hpf);
    old_to_db(curve);
}

bool same_bits(const float *a, const float *b, int n)
{
    return memcmp(a, b, sizeof(float) * (size_t)n) == 0;
}

// A designed section of any kind the curves meet, or a flat one.
void random_section(std::mt19937 &rng, filter_section *s)
{
    std::uniform_real_distribution<double> freq(16.0, 24000.0), q(0.3, 20.0), gain(-15.0, 15.0);
    s->flags = FILTER_FLAG_RESPONSE;
    switch (rng() % 7) {
    case 0:
        filter_reset(s);
        break;
    case 1:
        filter_geq_band(s, freq(rng), GEQ_Q, gain(rng));
        break;
    case 2:
        filter_peq(s, freq(rng), q(rng), gain(rng));
        break;
    case 3:
        filter_low_shelf_slope(s, freq(rng) / 40.0, 6.0, gain(rng));
        break;
    case 4:
        filter_high_shelf_slope(s, freq(rng), 6.0, gain(rng));
        break;
    case 5:
        filter_highpass2(s, freq(rng) / 10.0, q(rng) / 10.0);
        break;
    default:
        filter_highpass1(s, freq(rng) / 10.0);
        break;
    }
}

}  // namespace

// The cache alone on random sections, whole curves and then one section at
// a time, with stages switched off and on.
TEST(CurveCache, EqualsTheFullEvaluationBitForBit)
{
    ASSERT_EQ(curves_init(), 0);
    std::mt19937 rng(1234);
    static curve_cache<CURVE_BUS_SECTIONS> cache;
    memset(&cache, 0, sizeof cache);
    filter_section sec[CURVE_BUS_SECTIONS];
    for (auto &s : sec)
        filter_reset_with_response(&s);
    bool on[CURVE_BUS_SECTIONS];
    int compared = 0;
    for (int round = 0; round < 3000 && !HasFailure(); round++) {
        // Now and then everything at once, otherwise one section.
        int from = round % 100 == 0 ? 0 : (int)(rng() % CURVE_BUS_SECTIONS);
        int to = round % 100 == 0 ? CURVE_BUS_SECTIONS : from + 1;
        for (int k = from; k < to; k++) {
            if (rng() % 4 != 0)
                random_section(rng, &sec[k]);
            on[k] = rng() % 8 != 0;
        }
        const filter_section *ptr[CURVE_BUS_SECTIONS];
        float want[CURVE_POINTS], got[CURVE_POINTS];
        old_begin(want);
        for (int k = 0; k < CURVE_BUS_SECTIONS; k++) {
            ptr[k] = on[k] ? &sec[k] : nullptr;
            if (on[k])
                old_apply(want, &sec[k], 1);
        }
        old_to_db(want);
        curve_cache_update(&cache, ptr, CURVE_BUS_SECTIONS, got);
        ASSERT_TRUE(same_bits(got, want, CURVE_POINTS)) << "round " << round;
        compared++;
    }
    EXPECT_EQ(compared, 3000);

    // A shorter run of sections afterwards starts over.
    const filter_section *two[2] = {&sec[0], &sec[1]};
    float want[CURVE_POINTS], got[CURVE_POINTS];
    old_begin(want);
    old_apply(want, sec, 2);
    old_to_db(want);
    curve_cache_update(&cache, two, 2, got);
    EXPECT_TRUE(same_bits(got, want, CURVE_POINTS));
}

TEST(CurveCache, FlatSectionsAreRecognisedFromTheirTerms)
{
    filter_section s{};
    filter_reset_with_response(&s);
    EXPECT_TRUE(curve_section_is_flat(&s));
    filter_peq(&s, 1000.0, 1.0, 3.0);
    EXPECT_FALSE(curve_section_is_flat(&s));
    // Numerator equal to denominator, whatever the values.
    const float same[6] = {2.5f, -1.0f, 4.0f, -1.0f, 4.0f, 2.5f};
    memcpy(s.response, same, sizeof same);
    EXPECT_TRUE(curve_section_is_flat(&s));
    s.response[2] = 4.5f;
    EXPECT_FALSE(curve_section_is_flat(&s));
}

namespace {

// The real passes on a simulation root: commands as a client sends them,
// then one update pass, and every curve line it wrote.
class CurvePasses : public ServerState {
protected:
    void SetUp() override
    {
        ServerState::SetUp();
        FdCapture cap;
        ASSERT_EQ(dsp_lowlevel_prepare(), 0);
        cap.finish();
        my_sys->modified = 1;
        pass();  // the first pass reports everything
    }

    void command(const std::string &line)
    {
        pthread_mutex_lock(&command_lock);
        command_work(line.c_str(), 0);
        pthread_mutex_unlock(&command_lock);
    }

    // One pass; checks every curve line against the former computation
    // from the sections the pass left in the mirror, and every kept curve.
    void pass()
    {
        static char stream[COMMAND_STREAM_BUF_SIZE];
        size_t len = 0;
        dsp_update_pending(stream, sizeof stream, &len);
        std::string last_bus[SYS_BUSES], last_group[SYS_OUTPUTS];
        for (const std::string &l : lines_of(std::string(stream, len))) {
            int id = -1, index = -1;
            if (sscanf(l.c_str(), "%d,0,%d,", &id, &index) != 2)
                continue;
            if (id == 13 && (unsigned)index < SYS_BUSES)
                last_bus[index] = l;
            else if (id == 48 && (unsigned)index < SYS_OUTPUTS)
                last_group[index] = l;
        }
        float want[CURVE_POINTS];
        for (int b = 0; b < SYS_BUSES; b++) {
            old_bus_curve(my_device->bus[b], want);
            ASSERT_TRUE(same_bits(my_device->bus[b].curve, want, CURVE_POINTS)) << "bus " << b;
            if (!last_bus[b].empty()) {
                ASSERT_EQ(last_bus[b], old_line(13, b, want));
                lines++;
            }
        }
        for (int g = 0; g < SYS_OUTPUTS; g++) {
            int o = report_format_first_out(g);
            if (o < 0)
                continue;
            old_out_curve(my_device->out[o], want);
            ASSERT_TRUE(same_bits(my_device->out[o].curve, want, CURVE_POINTS)) << "group " << g;
            if (!last_group[g].empty()) {
                ASSERT_EQ(last_group[g], old_line(48, g, want));
                lines++;
            }
        }
    }

    std::string gain()
    {
        // A fifth of the bands flat; the rest anywhere in range, one decimal.
        int tenths = rng() % 5 == 0 ? 0 : (int)(rng() % 301) - 150;
        return std::to_string(tenths / 10) + "." + std::to_string(std::abs(tenths % 10));
    }

    std::string signed_gain()
    {
        std::string g = gain();
        return g[0] == '-' || g == "0.0" || rng() % 2 ? g : "-" + g;
    }

    int bypass() { return rng() % 6 == 0 ? 1 : 0; }

    // One random change of one band, stage or setting of bus or group x.
    std::string change(int x)
    {
        char l[128];
        int hz = 16 + (int)(rng() % 23984), q10 = 3 + (int)(rng() % 198);
        switch (rng() % 20) {
        case 0:
            snprintf(l, sizeof l, "16,1,%d,%d,%d,%d.%d,%s,%d", x, (int)(rng() % 5), hz, q10 / 10, q10 % 10,
                     signed_gain().c_str(), bypass());
            break;
        case 1:
            snprintf(l, sizeof l, "17,1,%d,0,%d,%s,%d", x, 16 + (int)(rng() % 484), signed_gain().c_str(), bypass());
            break;
        case 2:
            snprintf(l, sizeof l, "17,1,%d,1,%d,%s,%d", x, 1000 + (int)(rng() % 23000), signed_gain().c_str(),
                     bypass());
            break;
        case 3:
            snprintf(l, sizeof l, "18,1,%d,%d,%d,%d", x, 16 + (int)(rng() % 2000), (int)(rng() % 5), bypass());
            break;
        case 4:
            snprintf(l, sizeof l, "14,1,%d,%d", x, flags());
            break;
        case 5:
            snprintf(l, sizeof l, "45,1,%d,%d,%d,%d.%d,%s,%d", x, (int)(rng() % 4), hz, q10 / 10, q10 % 10,
                     signed_gain().c_str(), bypass());
            break;
        case 6:
            if (rng() % 2)
                snprintf(l, sizeof l, "46,1,%d,0,%d,%s,%d", x, 16 + (int)(rng() % 484), signed_gain().c_str(), bypass());
            else
                snprintf(l, sizeof l, "46,1,%d,1,%d,%s,%d", x, 1000 + (int)(rng() % 23000), signed_gain().c_str(),
                         bypass());
            break;
        case 7:
            snprintf(l, sizeof l, "47,1,%d,%d,%d,%d", x, 16 + (int)(rng() % 1184), (int)(rng() % 5), bypass());
            break;
        case 8:
            snprintf(l, sizeof l, "49,1,%d,%d", x, flags());
            break;
        case 9:  // now and then into or out of a local link group: copied curves
            snprintf(l, sizeof l, "10,1,%d,%d", x, rng() % 3 == 0 ? (int)(rng() % 2) : -1);
            break;
        default:
            snprintf(l, sizeof l, "12,1,%d,%d,%s", x, (int)(rng() % SYS_GEQ_BANDS), signed_gain().c_str());
            break;
        }
        return l;
    }

    int flags()
    {
        const int32_t bits[] = {EQ_FLAG_GEQ, EQ_FLAG_PEQ, EQ_FLAG_SHELF, EQ_FLAG_HIGHPASS};
        int f = 0;
        for (int32_t b : bits)
            if (rng() % 4 == 0)
                f |= b;
        return f;
    }

    std::mt19937 rng{20250611};
    int lines = 0;
};

}  // namespace

// Thousands of random settings: every band of a bus or group at once.
TEST_F(CurvePasses, RandomSettingsReportTheFormerValues)
{
    for (int round = 0; round < 1500 && !HasFailure(); round++) {
        int x = (int)(rng() % SYS_BUSES);
        for (int band = 0; band < SYS_GEQ_BANDS; band++)
            command("12,1," + std::to_string(x) + "," + std::to_string(band) + "," + signed_gain());
        for (int i = 0; i < 12; i++)
            command(change(x));
        pass();
    }
    EXPECT_GT(lines, 1500);
}

// One band at a time for a long while: each curve is updated from what it
// kept, and must still be the full computation at the end.
TEST_F(CurvePasses, LongSequencesOfSingleBandChangesDoNotDrift)
{
    for (int b = 0; b < SYS_BUSES; b++)
        for (int band = 0; band < SYS_GEQ_BANDS; band++)
            command("12,1," + std::to_string(b) + "," + std::to_string(band) + "," + signed_gain());
    pass();
    for (int step = 0; step < 20000 && !HasFailure(); step++) {
        command(change((int)(rng() % SYS_BUSES)));
        pass();
    }
    EXPECT_GT(lines, 15000);
}
