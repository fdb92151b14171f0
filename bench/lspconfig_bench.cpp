// Parse time of loudspeaker configuration texts: a realistic 4-way
// cabinet of 60 lines with filters on every way, and the one-line default
// text every freed output is set up from.
#include <benchmark/benchmark.h>

#include <cstring>

#include "lspconfig.h"

namespace {

// No line needs a correction, so nothing is logged while measuring.
const char FOUR_WAY[] = R"(# Four-way cabinet, factory tuning
LABEL "Mirel LA-4 Line Array"
VERSION 12
CODE 0
BANK

SUB
  GAIN -2,5DB
  DELAY 1,8MS
  PHASE REV
  HPF 28HZ BW24          # subsonic protection
  LPF 90HZ LR24
  PEQ 45HZ 3DB Q2,5
  PEQ 63HZ -2DB Q4
  LSHELF 40HZ 2DB Q0.7
  POWER 2000W 4000W 4R
  RMSTIME 400MS
  ATTACKTIME 30MS
  RELEASETIME 800MS
  PEAKTIME 50MS

LOW
  GAIN -1DB
  DELAY 0,6MS
  HPF 90HZ LR24
  LPF 500HZ LR24
  PEQ 160HZ -3,5DB 0,7OCT
  PEQ2 250HZ 2DB Q3
  APF 300HZ Q0.8
  POWER 800W 1600W 8R
  RMSTIME 200MS
  RELEASETIME 400MS

MID
  GAIN -4DB
  DELAY 0,25MS
  HPF 500HZ LR24
  LPF 3,2KHZ BS24
  PEQ 1,2KHZ -2DB Q4
  PEQ 2KHZ 1,5DB 1OCT
  HSHELF 2,5KHZ -1,5DB 12
  POWER 300W 600W 8R
  RMSTIME 80MS

HIGH
  GAIN -8DB
  POLARITY NOR
  HPF 3,2KHZ BW36
  PEQ 4KHZ -3DB Q5
  PEQ 8KHZ 2DB 0,5OCT
  PEQ2 12KHZ -1DB Q2
  HSHELF 14KHZ 3DB Q0.6
  APF 6KHZ
  POWER 100W 200W 16R
  RMSTIME 30MS
  ATTACKTIME 5MS
  PEAKTIME 10MS
)";

void BM_parse_four_way(benchmark::State &state)
{
    size_t len = strlen(FOUR_WAY);
    for (auto _ : state) {
        cfglsp *c = lspconfig_parse(FOUR_WAY, len);
        benchmark::DoNotOptimize(c->presets[0].way[1].way.sections[0].coef_block[0]);
        if (lspconfig_channels(c) != 4 || lspconfig_warnings(c)) {
            state.SkipWithError("the text no longer parses as four clean ways");
            lspconfig_free(c);
            break;
        }
        lspconfig_free(c);
    }
}
BENCHMARK(BM_parse_four_way);

void BM_parse_fullrange(benchmark::State &state)
{
    for (auto _ : state) {
        cfglsp *c = lspconfig_parse("fullrange", 9);
        benchmark::DoNotOptimize(c->channels);
        lspconfig_free(c);
    }
}
BENCHMARK(BM_parse_fullrange);

}  // namespace

BENCHMARK_MAIN();
