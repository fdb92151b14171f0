// Real-time factor of the FPGA model: seconds of 96 kHz audio processed per
// second of CPU, all 16 channels (8 buses of 40 sections, 8 outputs of 20)
// running, every section a real design. Two loads: the device's defaults
// (compressors idle below their thresholds) and every compressor and
// limiter working on every sample (the dearest case).
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstring>
#include <memory>
#include <vector>

#include "dsp/dsp_lowlevel.h"
#include "dsp/filter.h"
#include "fpgamodel.h"

namespace {

constexpr long FRAMES = FPGAMODEL_RATE;  // one second per iteration

// A window in memory as the server would fill it: every slot a designed
// section, every dynamics block written by the server's own writer.
struct bench_window {
    std::vector<uint32_t> words = std::vector<uint32_t>(FPGA_WINDOW_SIZE / 4);
    uint32_t *data() { return words.data(); }
    uint8_t *bytes() { return (uint8_t *)words.data(); }
};

void fill(bench_window *w, bool compressing)
{
    volatile uint32_t *saved = fpga_window;
    fpga_window = w->data();
    for (uint32_t region : {FPGA_REGION_1, FPGA_REGION_2, FPGA_REGION_3})
        for (uint32_t row = 0; row < 0x2000; row += 0x100)
            for (int ch = 0; ch < 8; ch++) {
                filter_section s{};
                filter_peq(&s, 40.0 * (1 + row / 0x100) * (1 + ch), 1.5, ((row / 0x100) % 5) - 2.0);
                memcpy(w->bytes() + region + row + 32 * ch, s.coef_block, 28);
            }
    dsp_dyn d{};
    d.gain = -1.0f;
    d.thres = compressing ? -40.0f : 0.0f;
    d.peak_thres = compressing ? -20.0f : 30.0f;
    d.ratio = compressing ? 4.0f : DSP_RATIO_INFINITE;
    d.knee = 6.0f;
    d.attack = 5.0f;
    d.release = 80.0f;
    d.rms = 35.0f;
    for (int i = 0; i < 8; i++) {
        dsp_dyn_all(dsp_dyn_bus(i), 96000.0f, &d);
        dsp_dyn_all(dsp_dyn_out(i), 96000.0f, &d);
        w->bytes()[FPGA_SOURCE_BUS + i] = (uint8_t)(7 - i);
        uint16_t delay = (uint16_t)(1000 * i);
        memcpy(w->bytes() + FPGA_OUT_DELAY + 2 * i, &delay, 2);
    }
    fpga_window = saved;
}

void run(benchmark::State &state, bool compressing)
{
    bench_window w;
    fill(&w, compressing);
    auto m = std::make_unique<fpgamodel>();
    fpgamodel_attach(m.get(), w.bytes());
    const uint8_t patch[18] = {0x00, 0x02, 1, 0, 2, 0, 3, 0, 4, 0, 8, 0, 12, 0, 16, 0, 32, 0};
    const uint8_t control[4] = {0x00, 0x01, 0x00, 0x88};
    fpga_spi_feed(&m->spi, patch, sizeof patch);
    fpga_spi_feed(&m->spi, control, sizeof control);

    std::vector<float> in((size_t)FRAMES * FPGAMODEL_INPUTS), out((size_t)FRAMES * FPGAMODEL_OUTPUTS);
    for (long i = 0; i < FRAMES; i++)
        for (int c = 0; c < FPGAMODEL_INPUTS; c++)
            in[(size_t)(i * FPGAMODEL_INPUTS + c)] = 0.3f * (float)std::sin(0.0654 * (double)i * (c + 1));
    for (auto _ : state) {
        fpgamodel_process(m.get(), in.data(), FPGAMODEL_INPUTS, out.data(), FRAMES);
        benchmark::DoNotOptimize(out.data());
    }
    // Audio seconds per CPU second.
    state.counters["realtime_factor"] = benchmark::Counter((double)state.iterations(), benchmark::Counter::kIsRate);
}

void BM_model_defaults(benchmark::State &state)
{
    run(state, false);
}

void BM_model_all_compressing(benchmark::State &state)
{
    run(state, true);
}

}  // namespace

BENCHMARK(BM_model_defaults)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_model_all_compressing)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK_MAIN();
