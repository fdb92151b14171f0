// The panel's drawing: a full redraw of the main menu and of the two map
// screens, a one-label change, a batch of level lines dispatched and drawn,
// and a batch of level lines on a map whose meters follow it. Headless
// (dummy video).
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <string>
#include <unistd.h>

#include "gui/channels.h"
#include "gui/chanstatus.h"
#include "gui/eq.h"
#include "gui/inputmap.h"
#include "gui/levels.h"
#include "gui/mainmenu.h"
#include "gui/outputmap.h"
#include "network.h"
#include "platform.h"
#include "sgui/sgui_event.h"
#include "sgui/sgui_widget.h"

namespace {

sgui_widget *panel_root()
{
    static sgui_widget *root = [] {
        // A private root: no device of the host is opened.
        static char dir[] = "/tmp/mirel-bench-XXXXXX";
        if (mkdtemp(dir) == nullptr)
            abort();
        atexit([] { rmdir(dir); });  // nothing is written into it
        setenv("MIREL_ROOT", dir, 1);
        setenv("SDL_VIDEODRIVER", "dummy", 1);
        platform_init();
        if (sgui_init() != 0 || network_init() != 0)
            abort();
        sgui_lock();
        levels_unit_init();
        sgui_widget *r = mainmenu_init();
        channels_init();
        inputmap_init(eq_init(nullptr, 0, 1));
        outputmap_init(eq_init(nullptr, 0, 0));
        chanstatus_init();
        sgui_set_connected(1);
        sgui_redraw(1);
        sgui_unlock();
        return r;
    }();
    return root;
}

void BM_FullRedraw(benchmark::State &state)
{
    panel_root();
    sgui_lock();
    for (auto _ : state)
        sgui_redraw(1);
    sgui_unlock();
}
BENCHMARK(BM_FullRedraw)->Unit(benchmark::kMicrosecond);

void BM_OneLabelChanged(benchmark::State &state)
{
    panel_root();
    sgui_widget *project = mainmenu_get().project;
    sgui_lock();
    int i = 0;
    for (auto _ : state) {
        sgui_set_text(project, (i++ & 1) ? "SHOW A" : "SHOW B");
        sgui_redraw(0);
    }
    sgui_unlock();
}
BENCHMARK(BM_OneLabelChanged)->Unit(benchmark::kMicrosecond);

void BM_LevelBatchDispatched(benchmark::State &state)
{
    panel_root();
    static float sink;
    network_add_listener(31, [](const command_arg *a, intptr_t) { sink += a->v[1].f; }, 0);
    network_add_listener(30, [](const command_arg *a, intptr_t) { sink += a->v[1].f; }, 0);
    std::string batch = "29,0,258\n";
    for (int i = 0; i < 8; i++)
        batch += "31," + std::to_string(i) + ",-23.5,-0.5\n";
    for (int i = 0; i < 8; i++)
        batch += "30," + std::to_string(i) + ",-18.5,0.0\n";
    std::string buf;
    sgui_lock();
    for (auto _ : state) {
        buf = batch;
        network_dispatch(buf.data(), buf.size());
        sgui_redraw(0);
    }
    sgui_unlock();
    benchmark::DoNotOptimize(sink);
}
BENCHMARK(BM_LevelBatchDispatched)->Unit(benchmark::kMicrosecond);

// The 16 level lines of one cycle, every value new.
std::string level_batch(int cycle)
{
    std::string batch;
    for (int i = 0; i < 8; i++)
        batch += "31," + std::to_string(i) + ",-" + std::to_string((cycle * 7 + i * 5) % 60) + ".5,-0.5\n";
    for (int i = 0; i < 8; i++)
        batch += "30," + std::to_string(i) + ",-" + std::to_string((cycle * 3 + i * 11) % 60) + ".5,0.0\n";
    return batch;
}

// Shows a map screen (at once) with its meters at a level.
void show_map(sgui_widget *root)
{
    panel_root();
    sgui_lock();
    sgui_popup(root, 0);
    std::string batch = level_batch(0);
    network_dispatch(batch.data(), batch.size());
    sgui_redraw(1);
    sgui_unlock();
}

void BM_FullRedrawInputMap(benchmark::State &state)
{
    show_map(inputmap_get()->frame.root);
    sgui_lock();
    for (auto _ : state)
        sgui_redraw(1);
    sgui_unlock();
}
BENCHMARK(BM_FullRedrawInputMap)->Unit(benchmark::kMicrosecond);

void BM_FullRedrawOutputMap(benchmark::State &state)
{
    show_map(outputmap_get()->frame.root);
    sgui_lock();
    for (auto _ : state)
        sgui_redraw(1);
    sgui_unlock();
}
BENCHMARK(BM_FullRedrawOutputMap)->Unit(benchmark::kMicrosecond);

// One cycle's level lines on the input map: parsed, the meters drawn into
// the map's surface, the band copied to the screen.
void BM_MeterBatchOnTheMap(benchmark::State &state)
{
    show_map(inputmap_get()->frame.root);
    std::string batches[4] = {level_batch(1), level_batch(2), level_batch(3), level_batch(4)}, buf;
    sgui_lock();
    int i = 0;
    for (auto _ : state) {
        buf = batches[i++ & 3];
        network_dispatch(buf.data(), buf.size());
        inputmap_refresh_meters();
        outputmap_refresh_meters();
        sgui_redraw(0);
    }
    sgui_unlock();
}
BENCHMARK(BM_MeterBatchOnTheMap)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
