#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "common/utf8.h"
#include "dsp/filter.h"
#include "lspconfig.h"
#include "support/capture.h"

namespace {

struct parsed {
    cfglsp_ptr c;
    std::string log;  // what the parse wrote to standard error, prefixes removed
};

// Parses the bytes of text from a heap copy of exactly that size, so a read
// past the end is a sanitizer error.
parsed parse(const std::string &text)
{
    std::unique_ptr<char[]> copy(new char[text.size() ? text.size() : 1]);
    memcpy(copy.get(), text.data(), text.size());
    FdCapture err;
    cfglsp_ptr c(lspconfig_parse(copy.get(), text.size()));
    std::string log = strip_log_prefixes(err.finish());
    EXPECT_TRUE(c);
    return {std::move(c), log};
}

std::string warnings(const parsed &p)
{
    const char *w = lspconfig_warnings(p.c.get());
    return w ? w : "";
}

const lspconfig_way &way(const parsed &p, int i)
{
    return p.c->presets[0].way[i];
}

// The designs of the filter module, one section each, in the stored form.
template <class F> filter_record section_of(F design)
{
    filter_section s{};
    design(&s);
    filter_record r;
    filter_store(&s, &r);
    return r;
}

void expect_section(const filter_record &got, const filter_record &want, const char *what)
{
    EXPECT_EQ(memcmp(got.coef_block, want.coef_block, sizeof got.coef_block), 0) << what;
    EXPECT_EQ(got.flags, 0u) << what;
    EXPECT_DOUBLE_EQ(got.b0, want.b0) << what;
    EXPECT_DOUBLE_EQ(got.a1, want.a1) << what;
    EXPECT_DOUBLE_EQ(got.a2, want.a2) << what;
}

bool is_bypass(const filter_record &r)
{
    return memcmp(r.coef_block, FILTER_BYPASS_BLOCK, sizeof r.coef_block) == 0;
}

// Magnitude in dB of a way's sections at hz.
double way_db(const lspconfig_way &w, double hz)
{
    std::complex<double> h = 1.0, z1 = std::polar(1.0, -2.0 * M_PI * hz / DSP_RATE);
    for (int i = 0; i < w.section_count; i++) {
        const filter_record &r = w.way.sections[i];
        h *= (r.b0 + r.b1 * z1 + r.b2 * z1 * z1) / (r.a0 + r.a1 * z1 + r.a2 * z1 * z1);
    }
    return 20.0 * log10(std::abs(h));
}

std::string repeat(const std::string &s, int n)
{
    std::string out;
    for (int i = 0; i < n; i++)
        out += s;
    return out;
}

TEST(LspconfigPass, FamiliesAreCaseInsensitiveAndUseTheirTables)
{
    parsed lower = parse("HPF 80hz bw24"), upper = parse("hpf 80HZ BW24");
    ASSERT_EQ(way(lower, 0).section_count, 2);
    ASSERT_EQ(way(upper, 0).section_count, 2);
    expect_section(way(lower, 0).way.sections[0],
                   section_of([](filter_section *s) { filter_highpass2(s, 80, 0.541); }), "bw24 #1");
    expect_section(way(lower, 0).way.sections[1],
                   section_of([](filter_section *s) { filter_highpass2(s, 80, 1.307); }), "bw24 #2");
    EXPECT_EQ(memcmp(way(lower, 0).way.sections, way(upper, 0).way.sections,
                     sizeof way(lower, 0).way.sections), 0);
    EXPECT_TRUE(is_bypass(way(lower, 0).way.sections[2]));
    EXPECT_EQ(warnings(lower), "");

    // Bessel moves each section's frequency by its factor: up for a high-pass.
    parsed lp = parse("LPF 2khz bs12"), hp = parse("HPF 2khz bs12");
    ASSERT_EQ(way(lp, 0).section_count, 1);
    expect_section(way(lp, 0).way.sections[0],
                   section_of([](filter_section *s) { filter_lowpass2(s, 2000 / 0.786129, 0.577); }),
                   "bs12 low-pass");
    expect_section(way(hp, 0).way.sections[0],
                   section_of([](filter_section *s) { filter_highpass2(s, 2000 * 0.786129, 0.577); }),
                   "bs12 high-pass");

    parsed bad = parse("HPF 80HZ LR18");
    EXPECT_EQ(way(bad, 0).section_count, 0);
    EXPECT_EQ(warnings(bad), "1$line 1: unknown slope for HPF/LPF\n");
    EXPECT_EQ(bad.log, "line 1: unknown slope for HPF/LPF\n");

    // A Q gives one second-order section; neither Q nor family one first-order section.
    parsed q = parse("LPF 500HZ Q0.9 LR48\nHPF 30HZ");
    ASSERT_EQ(way(q, 0).section_count, 2);
    expect_section(way(q, 0).way.sections[0],
                   section_of([](filter_section *s) { filter_lowpass2(s, 500, 0.9); }), "Q wins");
    expect_section(way(q, 0).way.sections[1],
                   section_of([](filter_section *s) { filter_highpass1(s, 30); }), "first order");
}

TEST(LspconfigPass, EveryListedSlopeHasTheFamilysResponse)
{
    // Butterworth of any order is 3 dB down at its frequency, Linkwitz-Riley
    // 6 dB; an octave away the stop band falls by the slope.
    struct family {
        const char *name;
        std::vector<int> slopes, sections;
        double at_f;
    };
    const family families[] = {
        {"BW", {6, 12, 18, 24, 30, 36, 42, 48}, {1, 1, 2, 2, 3, 3, 4, 4}, -3.01},
        {"LR", {12, 24, 36, 48}, {1, 2, 3, 4}, -6.02},
        {"BS", {6, 12, 18, 24, 30, 36, 42, 48}, {1, 1, 2, 2, 3, 3, 4, 4}, NAN},
    };
    for (const family &fam : families) {
        for (size_t i = 0; i < fam.slopes.size(); i++) {
            int slope = fam.slopes[i];
            std::string what = std::string(fam.name) + std::to_string(slope);
            parsed hp = parse("HPF 1KHZ " + what), lp = parse("LPF 1KHZ " + what);
            EXPECT_EQ(warnings(hp), "") << what;
            ASSERT_EQ(way(hp, 0).section_count, fam.sections[i]) << what;
            ASSERT_EQ(way(lp, 0).section_count, fam.sections[i]) << what;
            if (!std::isnan(fam.at_f)) {
                EXPECT_NEAR(way_db(way(hp, 0), 1000), fam.at_f, 0.02) << what;
                EXPECT_NEAR(way_db(way(lp, 0), 1000), fam.at_f, 0.02) << what;
            }
            // An octave deep in the stop band falls by the slope.
            double fall = way_db(way(hp, 0), 50) - way_db(way(hp, 0), 100);
            EXPECT_NEAR(fall, -slope, 0.5) << what;
            EXPECT_NEAR(way_db(way(hp, 0), 20000), 0.0, 0.1) << what;
            EXPECT_NEAR(way_db(way(lp, 0), 50), 0.0, 0.1) << what;
        }
    }
}

TEST(LspconfigPass, RoomCheckReservesTheCascadesSections)
{
    // Linkwitz-Riley 12 and 36 reserve one section more than they append.
    std::string ten = repeat("PEQ 1KHZ 1DB Q1\n", 10);
    parsed fits = parse(ten + "LPF 1KHZ LR12");
    EXPECT_EQ(way(fits, 0).section_count, 11);
    EXPECT_EQ(warnings(fits), "");
    parsed full = parse(ten + "PEQ 1KHZ 1DB Q1\nLPF 1KHZ LR12\nHPF 1KHZ BW12");
    EXPECT_EQ(way(full, 0).section_count, 12);
    EXPECT_EQ(warnings(full), "12$line 12: no more filters left\n");
    parsed lr36 = parse(repeat("PEQ 1KHZ 1DB Q1\n", 9) + "LPF 1KHZ LR36");
    EXPECT_EQ(way(lr36, 0).section_count, 9);
    EXPECT_EQ(warnings(lr36), "10$line 10: no more filters left\n");
}

TEST(LspconfigFilters, ParametricBandNeedsExactlyOneBandwidth)
{
    parsed none = parse("PEQ 1000HZ 3DB");
    EXPECT_EQ(way(none, 0).section_count, 0);
    EXPECT_EQ(warnings(none), "1$line 1: no bandwidth given, filter ignored\n");

    parsed both = parse("PEQ 1000HZ 3DB Q2 1OCT");
    ASSERT_EQ(way(both, 0).section_count, 1);
    EXPECT_EQ(warnings(both), "1$line 1: too much parameters, selected q\n");
    expect_section(way(both, 0).way.sections[0],
                   section_of([](filter_section *s) { filter_peq_alpha(s, 1000, 2, 3, 1); }), "q");

    parsed bw = parse("peq2 1,5khz -4,5db 0,5oct");
    ASSERT_EQ(way(bw, 0).section_count, 1);
    expect_section(way(bw, 0).way.sections[0],
                   section_of([](filter_section *s) { filter_peq_symmetric(s, 1500, 0.5, -4.5, 2); }),
                   "bandwidth, decimal commas");
    EXPECT_NEAR(way_db(way(bw, 0), 1500), -4.5, 0.01);

    parsed clipped = parse("PEQ 10HZ 30DB Q50\nPEQ 30KHZ -30DB 5OCT\nPEQ 1KHZ 1DB Q0,1");
    EXPECT_EQ(warnings(clipped),
              "1$line 1: corrected frequency to minimum (=17.50 Hz)\n"
              "1$line 1: corrected gain to maximum (=20.00 dB)\n"
              "1$line 1: corrected q to maximum (=20.00)\n"
              "2$line 2: corrected frequency to maximum (=24250.00 Hz)\n"
              "2$line 2: corrected gain to minimum (=-20.00 dB)\n"
              "2$line 2: corrected bandwidth to maximum (=3.70)\n"
              "3$line 3: corrected q to minimum (=0.30)\n");
    EXPECT_EQ(way(clipped, 0).section_count, 3);
    expect_section(way(clipped, 0).way.sections[1],
                   section_of([](filter_section *s) { filter_peq_alpha(s, 24250, 3.7, -20, 2); }),
                   "corrected values are the designed ones");
}

TEST(LspconfigFilters, ShelvesUseOneOfQBandwidthAndSlope)
{
    parsed none = parse("HSHELF 8KHZ 3DB");
    EXPECT_EQ(warnings(none), "1$line 1: corrected slope to 12dB/oct\n");
    expect_section(way(none, 0).way.sections[0],
                   section_of([](filter_section *s) { filter_high_shelf(s, 8000, 12, 3, 4); }),
                   "default slope");

    parsed many = parse("LSHELF 100HZ -4DB Q0.5 2OCT");
    EXPECT_EQ(warnings(many), "1$line 1: too much parameters, corrected slope to 12dB/oct\n");
    expect_section(way(many, 0).way.sections[0],
                   section_of([](filter_section *s) { filter_low_shelf(s, 100, 12, -4, 4); }),
                   "too many");

    parsed q = parse("LSHELF 100HZ 6DB Q0.9\nHSHELF 5KHZ 2DB 1OCT\nHSHELF 5KHZ 2DB 60");
    EXPECT_EQ(warnings(q),
              "1$line 1: corrected q to maximum (=0.71)\n"
              "2$line 2: corrected bandwidth to minimum (=1.90)\n"
              "3$line 3: corrected slope to maximum (=48.00)\n");
    ASSERT_EQ(way(q, 0).section_count, 3);
    expect_section(way(q, 0).way.sections[0],
                   section_of([](filter_section *s) { filter_low_shelf(s, 100, 0.7071, 6, 1); }), "q");
    expect_section(way(q, 0).way.sections[1],
                   section_of([](filter_section *s) { filter_high_shelf(s, 5000, 1.9, 2, 2); }), "bw");
    expect_section(way(q, 0).way.sections[2],
                   section_of([](filter_section *s) { filter_high_shelf(s, 5000, 48, 2, 4); }), "slope");

    parsed ap = parse("APF 1KHZ\nAPF 2KHZ Q0.7");
    ASSERT_EQ(way(ap, 0).section_count, 2);
    expect_section(way(ap, 0).way.sections[0],
                   section_of([](filter_section *s) { filter_allpass1(s, 1000); }), "first order");
    expect_section(way(ap, 0).way.sections[1],
                   section_of([](filter_section *s) { filter_allpass2(s, 2000, 0.7); }), "second order");
}

TEST(LspconfigWays, GainDelayPolarityAndTimesAreCorrected)
{
    parsed p = parse("GAIN -200DB\nDELAY 2,5MS\nPHASE REV\n");
    EXPECT_FLOAT_EQ(way(p, 0).way.gain, -150.0f);
    EXPECT_FLOAT_EQ(way(p, 0).way.delay, 2.5f);
    EXPECT_EQ(way(p, 0).way.polarity, 1);
    EXPECT_EQ(warnings(p), "1$line 1: corrected gain to minimum (=-150.00 dB)\n");
    EXPECT_EQ(p.log, "line 1: corrected gain to minimum (=-150.00 dB)\n");

    parsed q = parse("GAIN 30DB\nDELAY -1MS\nDELAY 20MS\nRMSTIME 5MS\nRMSTIME 20000MS\n"
                     "RELEASETIME 0MS\nRELEASETIME 1E5MS\nATTACKTIME -2MS\nATTACKTIME 600MS\n"
                     "PEAKTIME -1MS\nPEAKTIME 501MS\nPOLARITY NEG\n");
    EXPECT_EQ(warnings(q),
              "1$line 1: corrected gain to maximum (=20.00 dB)\n"
              "2$line 2: corrected delay to minimum (=0 ms)\n"
              "3$line 3: corrected delay to maximum (=14.00 ms)\n"
              "4$line 4: corrected rms time to minimum (=15.00 ms)\n"
              "5$line 5: corrected rms time to maximum (=10000.00 ms)\n"
              "6$line 6: corrected release time to minimum (=1.00 ms)\n"
              "7$line 7: corrected release time to maximum (=10000.00 ms)\n"
              "8$line 8: corrected attack time to minimum (=0.00 ms)\n"
              "9$line 9: corrected attack time to maximum (=500.00 ms)\n"
              "10$line 10: corrected peak release time to minimum (=0.00 ms)\n"
              "11$line 11: corrected peak release time to maximum (=500.00 ms)\n");
    const sys_way &w = way(q, 0).way;
    EXPECT_FLOAT_EQ(w.gain, 20.0f);
    EXPECT_FLOAT_EQ(w.delay, 14.0f);
    EXPECT_FLOAT_EQ(w.rms_time, 10000.0f);
    EXPECT_FLOAT_EQ(w.release, 10000.0f);
    EXPECT_FLOAT_EQ(w.attack, 500.0f);
    EXPECT_FLOAT_EQ(w.peak_release, 500.0f);
    EXPECT_EQ(w.polarity, 1);

    parsed r = parse("PHASE 1\nPOLARITY NORMAL\nMUTE\n");
    EXPECT_EQ(way(r, 0).way.polarity, 0);
    EXPECT_FLOAT_EQ(way(r, 0).way.gain, -150.0f);

    // A keyword resets what the line collected before it; a later one wins.
    parsed s = parse("-6DB GAIN\nGAIN -3DB DELAY 1MS\n");
    EXPECT_FLOAT_EQ(way(s, 0).way.gain, 0.0f);
    EXPECT_FLOAT_EQ(way(s, 0).way.delay, 1.0f);
}

TEST(LspconfigWays, PowerGivesVoltageLimits)
{
    parsed p = parse("POWER 1000W 500W 8R");
    EXPECT_NEAR(way(p, 0).way.rms_limit, std::sqrt(500.0 * 8), 1e-4);
    EXPECT_NEAR(way(p, 0).way.peak_limit, std::sqrt(1000.0 * 8), 1e-4);
    EXPECT_NEAR(way(p, 0).way.rms_limit, 63.25, 0.005);
    EXPECT_NEAR(way(p, 0).way.peak_limit, 89.44, 0.005);
    EXPECT_EQ(warnings(p), "");

    parsed rms_only = parse("POWER 4,5R 200W");
    EXPECT_NEAR(way(rms_only, 0).way.rms_limit, 30.0, 1e-5);
    EXPECT_EQ(way(rms_only, 0).way.peak_limit, 0.0f);

    parsed missing = parse("POWER 500W\nPOWER 0W\nPOWER -100W 8R\nPOWER 300W -8R");
    EXPECT_EQ(way(missing, 0).way.rms_limit, 0.0f);
    EXPECT_EQ(way(missing, 0).way.peak_limit, 0.0f);
    EXPECT_EQ(warnings(missing),
              "1$line 1: speaker impedance missing\n"
              "2$line 2: speaker impedance missing\n"
              "4$line 4: speaker impedance missing\n");
}

TEST(LspconfigWays, WaysCountAsChannelsInOrder)
{
    parsed label = parse("LABEL \"My Box  #1\"");
    EXPECT_EQ(lspconfig_channels(label.c.get()), 1);
    EXPECT_STREQ(label.c->label, "My Box  1");  // case and spaces kept, "#" dropped
    EXPECT_EQ(way(label, 0).used, 1);
    EXPECT_EQ(way(label, 0).section_count, 0);
    EXPECT_EQ(label.c->ways_used[0], 1);

    parsed full = parse("fullrange");
    EXPECT_EQ(lspconfig_channels(full.c.get()), 1);
    EXPECT_EQ(way(full, 0).used, 1);
    EXPECT_EQ(warnings(full), "");

    parsed five = parse("FULLRANGE\nHIGH\nMID\nLOW\nSUB\n");
    EXPECT_EQ(lspconfig_channels(five.c.get()), 4);
    EXPECT_EQ(warnings(five), "5$line 5: maximum channel count exceeded\n");

    // Way commands act on the current way; outputs take used ways from way 0
    // upwards, or from way 4 downwards in reverse order.
    parsed two = parse("LOW\nGAIN -6DB\nLPF 2KHZ LR24\nHIGH\nGAIN -3DB\nHPF 2KHZ LR24\n");
    ASSERT_EQ(lspconfig_channels(two.c.get()), 2);
    const lspconfig_way *w0 = lspconfig_get_way(two.c.get(), 0, 0);
    const lspconfig_way *w1 = lspconfig_get_way(two.c.get(), 1, 0);
    ASSERT_TRUE(w0 && w1);
    EXPECT_EQ(w0->way.way_index, 1);
    EXPECT_FLOAT_EQ(w0->way.gain, -3.0f);
    EXPECT_EQ(w1->way.way_index, 3);
    EXPECT_FLOAT_EQ(w1->way.gain, -6.0f);
    EXPECT_EQ(lspconfig_get_way(two.c.get(), 2, 0), nullptr);
    EXPECT_EQ(lspconfig_get_way(two.c.get(), -1, 0), nullptr);
    // Both Linkwitz-Riley halves are 6 dB down at the crossover frequency.
    EXPECT_NEAR(way_db(*w0, 2000), -6.02, 0.02);
    EXPECT_NEAR(way_db(*w1, 2000), -6.02, 0.02);

    parsed rev = parse("LOW\nHIGH\nREVERSE_ORDER");
    EXPECT_EQ(lspconfig_get_way(rev.c.get(), 0, 0)->way.way_index, 3);
    EXPECT_EQ(lspconfig_get_way(rev.c.get(), 1, 0)->way.way_index, 1);
}

TEST(LspconfigWays, EveryWayHasTheDefaultLimiterTimes)
{
    parsed p = parse("SUB\nLOW\n");
    for (int i = 0; i < LSPCONFIG_WAYS; i++) {
        const sys_way &w = way(p, i).way;
        EXPECT_EQ(w.way_index, i);
        EXPECT_FLOAT_EQ(w.rms_time, 35.0f) << i;
        EXPECT_FLOAT_EQ(w.attack, 10.0f) << i;
        EXPECT_FLOAT_EQ(w.release, 60.0f) << i;
        EXPECT_FLOAT_EQ(w.peak_release, 0.0f) << i;
        EXPECT_EQ(w.gain, 0.0f);
        for (const filter_record &r : w.sections)
            EXPECT_TRUE(is_bypass(r));
    }
    EXPECT_EQ(lspconfig_get_way(p.c.get(), 0, 0)->way.way_index, 3);
    EXPECT_EQ(lspconfig_get_way(p.c.get(), 1, 0)->way.way_index, 4);

    cfglsp_ptr none(lspconfig_parse(nullptr, 0));
    ASSERT_TRUE(none);
    EXPECT_EQ(lspconfig_channels(none.get()), 1);
    EXPECT_EQ(lspconfig_get_way(none.get(), 0, 0)->way.way_index, 0);
    EXPECT_EQ(lspconfig_warnings(none.get()), nullptr);
    EXPECT_EQ(none->bank_count, 1);
}

TEST(LspconfigWays, ThirteenthFilterIsDropped)
{
    parsed p = parse(repeat("PEQ 1KHZ 1DB Q1\n", 12) + "PEQ 2KHZ 1DB Q1\nHIGH\nPEQ 3KHZ 1DB Q1\n");
    EXPECT_EQ(way(p, 0).section_count, 12);
    EXPECT_EQ(warnings(p), "13$line 13: no more filters left\n");
    EXPECT_EQ(way(p, 1).section_count, 1);  // another way still has room
    EXPECT_EQ(lspconfig_channels(p.c.get()), 1);  // way 0 was never marked used
}

TEST(LspconfigWaysDeathTest, OnlyPresetZeroExists)
{
    cfglsp_ptr c(lspconfig_parse("fullrange", 9));
    EXPECT_DEATH(lspconfig_get_way(c.get(), 0, 1),
                 "lspconfig.cpp: lspconfig_get_way: assertion \"preset_nr < cfglsp->preset_count\"");
}

TEST(LspconfigRecord, PresetsBanksVersionAndCode)
{
    parsed p = parse("PRESET \"Night\"\nSAFEMODE\nBANK\nBANK\nDEFAULT\nVERSION 7\nCODE 1234\n"
                     "frobnicate 3DB\n\"quoted only\"\n  # only a comment\n");
    EXPECT_EQ(warnings(p),
              "1$line 1: maximum preset count exceeded (=1)\n"
              "2$line 2: maximum preset count exceeded (=1)\n"
              "4$line 4: maximum bank count exceeded (=1)\n"
              "8$line 8: unknown command\n"
              "9$line 9: unknown command\n");
    EXPECT_EQ(p.c->preset_count, 1);
    EXPECT_EQ(p.c->bank_count, 1);
    EXPECT_EQ(p.c->default_preset, 0);
    EXPECT_EQ(p.c->version, 7);
    EXPECT_EQ(p.c->code, 1234);
    EXPECT_STREQ(p.c->label, "");  // the preset's name is not kept
    // Each message is also one log line.
    EXPECT_EQ(p.log,
              "line 1: maximum preset count exceeded (=1)\n"
              "line 2: maximum preset count exceeded (=1)\n"
              "line 4: maximum bank count exceeded (=1)\n"
              "line 8: unknown command\n"
              "line 9: unknown command\n");
}

TEST(LspconfigRecord, EntryFillsTheSummary)
{
    auto e = std::make_unique<lspconfig_entry>();
    e->id = 7;
    e->id_parent = 2;
    e->is_folder = 0;
    e->order_nr = 5;
    e->locked = 99;
    e->ways = 1;  // a stale count: the text decides
    e->version = 4;
    e->label = "Two%20Way" + std::string(300, 'x');
    e->config = "LOW\nHIGH\nVERSION 3";
    sys_lsp_summary sum;
    memset(&sum, 0xA5, sizeof sum);
    cfglsp_ptr c(lspconfig_parse_entry(std::move(e), &sum));
    ASSERT_TRUE(c);
    EXPECT_EQ(sum.id, 7);
    EXPECT_EQ(sum.id_parent, 2);
    EXPECT_EQ(sum.is_folder, 0);
    EXPECT_EQ(sum.locked, 99);
    EXPECT_EQ(sum.ways, 2);
    EXPECT_EQ(sum.version, 4);
    EXPECT_EQ(strlen(sum.label), (size_t)SYS_LABEL_MAX);
    EXPECT_EQ(std::string(sum.label, 9), "Two%20Way");
    ASSERT_TRUE(c->entry);
    EXPECT_EQ(c->entry->id, 7);
    EXPECT_EQ(c->version, 3);

    EXPECT_EQ(lspconfig_parse_entry(nullptr, &sum), nullptr);
    cfglsp_ptr no_summary(lspconfig_parse_entry(std::make_unique<lspconfig_entry>(), nullptr));
    ASSERT_TRUE(no_summary);
    EXPECT_EQ(lspconfig_channels(no_summary.get()), 1);
}

TEST(LspconfigReader, TokensQuotesAndComments)
{
    // Tabs separate, "#" ends a token, a quote of either kind closes a quote.
    parsed p = parse("high\t# MID\nGAIN\t-3DB#-9DB\nLABEL 'it\" s\n\n   \nH\xC4\xB1GH\n");
    EXPECT_EQ(warnings(p), "");
    EXPECT_EQ(lspconfig_channels(p.c.get()), 1);
    EXPECT_FLOAT_EQ(way(p, 1).way.gain, -3.0f);
    EXPECT_STREQ(p.c->label, "it");  // the closing quote may be of the other kind

    // Upper-casing is Unicode's: a dotless i is an I, a long s an S.
    parsed u = parse("\xC5\xBFub\nga\xC4\xB1n -3db\nde\xC5\x82" "ay 1ms\n");
    EXPECT_EQ(way(u, LSPCONFIG_WAY_SUB).used, 1);
    EXPECT_FLOAT_EQ(way(u, LSPCONFIG_WAY_SUB).way.gain, -3.0f);
    EXPECT_EQ(warnings(u), "3$line 3: unknown command\n");  // l with stroke is no L

    // CR LF ends a line like LF, so a text from another system keeps its
    // last tokens; a CR anywhere else is an ordinary character.
    parsed cr = parse("HIGH\r\nGAIN -3DB\r\nLOW\rGAIN -6DB\r\n\r\r\n  \r\n");
    EXPECT_FLOAT_EQ(way(cr, 1).way.gain, -3.0f);
    EXPECT_EQ(way(cr, LSPCONFIG_WAY_LOW).used, 0);
    EXPECT_EQ(warnings(cr), "3$line 3: unknown command\n"
                            "4$line 4: unknown command\n");  // "LOW\rGAIN -6DB", and "\r"
    EXPECT_EQ(lspconfig_channels(cr.c.get()), 1);
    parsed quoted = parse("LABEL \"Top\r\nGAIN -3DB\r\n");
    EXPECT_STREQ(quoted.c->label, "Top");
    EXPECT_FLOAT_EQ(way(quoted, 0).way.gain, -3.0f);

    // A label is cut to 203 bytes at a character boundary.
    parsed l = parse("LABEL \"" + repeat("\xC3\xA9", 110) + "\"");
    EXPECT_EQ(strlen(l.c->label), 202u);
}

TEST(Utf8Upper, SimpleMappingOfThePlane)
{
    EXPECT_EQ(utf8_upper('a'), (uint32_t)'A');
    EXPECT_EQ(utf8_upper('Z'), (uint32_t)'Z');
    EXPECT_EQ(utf8_upper('#'), (uint32_t)'#');
    EXPECT_EQ(utf8_upper(0xE9), 0xC9u);      // e acute
    EXPECT_EQ(utf8_upper(0xFF), 0x178u);     // y diaeresis
    EXPECT_EQ(utf8_upper(0xDF), 0xDFu);      // sharp s has no simple upper case
    EXPECT_EQ(utf8_upper(0x131), (uint32_t)'I');
    EXPECT_EQ(utf8_upper(0x17F), (uint32_t)'S');
    EXPECT_EQ(utf8_upper(0x101), 0x100u);    // alternating runs
    EXPECT_EQ(utf8_upper(0x100), 0x100u);
    EXPECT_EQ(utf8_upper(0x3C2), 0x3A3u);    // final sigma
    EXPECT_EQ(utf8_upper(0x1C5), 0x1C4u);    // title case Dz
    EXPECT_EQ(utf8_upper(0x1F80), 0x1F88u);
    EXPECT_EQ(utf8_upper(0xFF41), 0xFF21u);  // fullwidth a
    EXPECT_EQ(utf8_upper(UTF8_REPLACEMENT), UTF8_REPLACEMENT);
    EXPECT_EQ(utf8_upper(0xFFFF), 0xFFFFu);
}

// ---- hostile texts: never past the input, never past a field ----

size_t count_lines(const std::string &text)
{
    size_t n = 0;
    for (char ch : text)
        n += ch == '\n';
    return n;
}

// The warnings are whole "%d$%s\n" entries and end inside their field.
void expect_clean_warnings(const parsed &p)
{
    const cfglsp *c = p.c.get();
    ASSERT_LT(c->warnings_len, LSPCONFIG_WARNINGS_SIZE);
    EXPECT_EQ(strlen(c->warnings), c->warnings_len);
    if (c->warnings_len) {
        EXPECT_EQ(c->warnings[c->warnings_len - 1], '\n');
    }
}

TEST(LspconfigHostile, OneTokenOf64KiB)
{
    std::string text(65536, 'X');
    parsed p = parse(text);
    expect_clean_warnings(p);
    // 24 bytes per "1$line 1: line too long\n": as many as fit before 4095.
    EXPECT_EQ(p.c->warnings_len, 4094u / 24 * 24);
    EXPECT_EQ(std::string(p.c->warnings, 24), "1$line 1: line too long\n");
    // The log takes the first 64 messages and then one line for the rest
    // (65,408 dropped characters and the unknown command at the line end).
    EXPECT_EQ(count_lines(p.log), 65u);
    EXPECT_TRUE(p.log.starts_with("line 1: line too long\nline 1: line too long\n"));
    EXPECT_TRUE(p.log.ends_with("lspconfig_parse: 65345 more messages not logged\n")) << p.log;

    parsed q = parse("LABEL \"" + std::string(65536, 'y'));  // quoted and unterminated
    expect_clean_warnings(q);
    EXPECT_EQ(strlen(q.c->label), LSPCONFIG_TOKEN_MAX);
}

TEST(LspconfigHostile, UnterminatedQuotesInvalidUtf8AndNul)
{
    parsed q = parse("LABEL \"open\nGAIN -3DB\nLABEL 'x");
    EXPECT_STREQ(q.c->label, "x");
    EXPECT_FLOAT_EQ(way(q, 0).way.gain, -3.0f);
    EXPECT_EQ(warnings(q), "");

    parsed u = parse("GAIN -3DB \xFF\xFE\x80\nLABEL \"a\xFF" "b\xC0\x80\"\nHIGH \xE2\x82");
    EXPECT_FLOAT_EQ(way(u, 0).way.gain, -3.0f);  // the invalid token is an integer value
    EXPECT_STREQ(u.c->label, "a\xEF\xBF\xBD" "b\xEF\xBF\xBD\xEF\xBF\xBD");
    EXPECT_EQ(lspconfig_channels(u.c.get()), 1);
    EXPECT_EQ(way(u, 1).used, 1);

    // A NUL ends the text; the length is never exceeded.
    std::string nul("HIGH\nGAIN -3DB\0\nLOW\n", 20);
    parsed n = parse(nul);
    EXPECT_EQ(lspconfig_channels(n.c.get()), 1);
    EXPECT_FLOAT_EQ(way(n, 1).way.gain, -3.0f);
    parsed cut = parse(std::string("GAIN -3DB").substr(0, 8));  // "GAIN -3D"
    EXPECT_FLOAT_EQ(way(cut, 0).way.gain, 0.0f);
    parsed weird = parse("GAIN NANDB\nDELAY INFMS\nPOWER 1E308W 1E308W 8R\nHPF 0X1P10HZ BW-24\n");
    EXPECT_FLOAT_EQ(way(weird, 0).way.gain, 0.0f);
    EXPECT_FLOAT_EQ(way(weird, 0).way.delay, 0.0f);
    EXPECT_EQ(warnings(weird), "4$line 4: unknown slope for HPF/LPF\n");
}

TEST(LspconfigHostile, TenThousandCorrectionsStayBounded)
{
    parsed p = parse(repeat("GAIN -200DB\n", 10000));
    expect_clean_warnings(p);
    EXPECT_LE(p.c->warnings_len, LSPCONFIG_WARNINGS_SIZE - 1);
    EXPECT_GT(p.c->warnings_len, LSPCONFIG_WARNINGS_SIZE - 80);
    // The last entry is whole: the one that would not fit was left out.
    std::string w = warnings(p);
    size_t last = w.rfind('\n', w.size() - 2);
    EXPECT_NE(w.find("$line ", last), std::string::npos);
    EXPECT_EQ(w.substr(w.size() - 14), "(=-150.00 dB)\n");
    EXPECT_EQ(count_lines(p.log), 65u);
    EXPECT_TRUE(p.log.ends_with("lspconfig_parse: 9936 more messages not logged\n")) << p.log;
    // Each parse has its own bound: a second parse logs its 64 again.
    parsed again = parse(repeat("GAIN -200DB\n", 70));
    EXPECT_EQ(count_lines(again.log), 65u);
    EXPECT_NE(again.log.find("line 64: corrected gain"), std::string::npos);
    EXPECT_EQ(again.log.find("line 65: corrected gain"), std::string::npos);
    EXPECT_TRUE(again.log.ends_with("lspconfig_parse: 6 more messages not logged\n")) << again.log;
    EXPECT_EQ(parse(repeat("GAIN -200DB\n", 64)).log.find("not logged"), std::string::npos);
}

TEST(LspconfigHostile, WarningsFillTheirFieldToTheLastByte)
{
    // 7 entries of line 1 (24 bytes) and 151 of line 10 (26 bytes) make 4094
    // bytes: with the terminator the field is full and line 11's is left out.
    std::string lines9 = repeat("\n", 9);
    std::string full = "GAIN " + std::string(128 + 7, 'X') + lines9 + "GAIN " +
                       std::string(128 + 151, 'X') + "\nQ\n";
    parsed p = parse(full);
    EXPECT_EQ(p.c->warnings_len, 4094u);
    EXPECT_EQ(p.c->warnings[4094], '\0');
    EXPECT_EQ(warnings(p).substr(4094 - 26), "10$line 10: line too long\n");
    EXPECT_NE(p.log.find("lspconfig_parse: "), std::string::npos);  // the log stopped long before

    // 4 and 152 make 4048; line 11's 47 bytes would leave no room for the
    // terminator, so they are left out too.
    std::string almost = "GAIN " + std::string(128 + 4, 'X') + lines9 + "GAIN " +
                         std::string(128 + 152, 'X') + "\nPEQ 1KHZ 1DB\n";
    parsed q = parse(almost);
    EXPECT_EQ(q.c->warnings_len, 4048u);
    EXPECT_EQ(warnings(q).find("line 11"), std::string::npos);
    EXPECT_NE(q.log.find("lspconfig_parse: "), std::string::npos);
}

}  // namespace
