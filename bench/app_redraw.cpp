// The panel's drawing: a full redraw of the main menu, a one-label change,
// and a batch of level lines dispatched and drawn. Headless (dummy video).
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <string>
#include <unistd.h>

#include "gui/mainmenu.h"
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
        sgui_widget *r = mainmenu_init();
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

}  // namespace

BENCHMARK_MAIN();
