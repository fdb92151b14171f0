// Design time of each section kind and the time to recompute a full bus
// curve (31 graphic bands, 5 parametric bands, 2 shelves, 2 high-pass
// sections = 40 sections on 128 points).
#include <benchmark/benchmark.h>

#include <cstring>

#include "dsp/curves.h"
#include "dsp/filter.h"

namespace {

using design_fn = void (*)(filter_section *, double f, double g);

// Frequencies and gains cycle so that no design can be hoisted out of the loop.
constexpr double FREQS[8] = {31.5, 80.0, 200.0, 630.0, 1600.0, 4000.0, 10000.0, 16000.0};
constexpr double GAINS[8] = {-12.0, -6.5, -3.0, -1.0, 1.5, 4.0, 7.0, 12.0};

struct bench_design {
    const char *name;
    design_fn fn;
};

const bench_design DESIGNS[] = {
    {"geq_band", [](filter_section *s, double f, double g) { filter_geq_band(s, f, 4.318477, g); }},
    {"peq", [](filter_section *s, double f, double g) { filter_peq(s, f, 1.41, g); }},
    {"peq_alpha/Q", [](filter_section *s, double f, double g) { filter_peq_alpha(s, f, 1.41, g, 1); }},
    {"peq_alpha/octaves", [](filter_section *s, double f, double g) { filter_peq_alpha(s, f, 1.0, g, 2); }},
    {"peq_alpha/slope", [](filter_section *s, double f, double g) { filter_peq_alpha(s, f, 6.0, g, 4); }},
    {"peq_symmetric", [](filter_section *s, double f, double g) { filter_peq_symmetric(s, f, 1.41, g, 1); }},
    {"low_shelf", [](filter_section *s, double f, double g) { filter_low_shelf(s, f, 0.707, g, 1); }},
    {"high_shelf", [](filter_section *s, double f, double g) { filter_high_shelf(s, f, 0.707, g, 1); }},
    {"low_shelf_slope", [](filter_section *s, double f, double g) { filter_low_shelf_slope(s, f, 6.0, g); }},
    {"high_shelf_slope", [](filter_section *s, double f, double g) { filter_high_shelf_slope(s, f, 6.0, g); }},
    {"highpass2", [](filter_section *s, double f, double) { filter_highpass2(s, f, 0.707); }},
    {"lowpass2", [](filter_section *s, double f, double) { filter_lowpass2(s, f, 0.707); }},
    {"highpass1", [](filter_section *s, double f, double) { filter_highpass1(s, f); }},
    {"lowpass1", [](filter_section *s, double f, double) { filter_lowpass1(s, f); }},
    {"allpass2", [](filter_section *s, double f, double) { filter_allpass2(s, f, 2.0); }},
    {"allpass1", [](filter_section *s, double f, double) { filter_allpass1(s, f); }},
    {"highpass_kind/BW24", [](filter_section *s, double f, double) { filter_highpass_kind(s, 1, f); }},
};

void run_design(benchmark::State &state, design_fn fn)
{
    filter_section s[2];
    memset(s, 0, sizeof s);
    filter_reset_with_response(&s[0]);
    filter_reset_with_response(&s[1]);
    unsigned i = 0;
    for (auto _ : state) {
        fn(s, FREQS[i & 7], GAINS[(i >> 3) & 7]);
        benchmark::DoNotOptimize(s);
        benchmark::ClobberMemory();
        i++;
    }
}

void BM_bus_curve_40(benchmark::State &state)
{
    curves_init();
    filter_section s[40];
    memset(s, 0, sizeof s);
    for (int i = 0; i < 40; i++)
        filter_reset_with_response(&s[i]);
    for (int i = 0; i < 31; i++)
        filter_geq_band(&s[i], 20.0 * (1 << (i / 3)) * (1.0 + (i % 3) * 0.26), 4.318477, (i % 7) - 3.0);
    for (int i = 0; i < 5; i++)
        filter_peq(&s[31 + i], 100.0 * (i + 1) * (i + 1), 2.0, 4.0 - 2.0 * i);
    filter_low_shelf_slope(&s[36], 120.0, 6.0, 3.0);
    filter_high_shelf_slope(&s[37], 8000.0, 6.0, -2.0);
    filter_highpass_kind(&s[38], 2, 40.0);
    float curve[CURVE_POINTS];
    for (auto _ : state) {
        curve_begin(curve);
        curve_apply(curve, s, 40);
        curve_to_db(curve);
        benchmark::DoNotOptimize(curve);
        benchmark::ClobberMemory();
    }
}

}  // namespace

BENCHMARK(BM_bus_curve_40);

int main(int argc, char **argv)
{
    for (const bench_design &d : DESIGNS)
        benchmark::RegisterBenchmark((std::string("BM_design/") + d.name).c_str(), run_design, d.fn);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
