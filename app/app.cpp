#include "app.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "gui/channels.h"
#include "gui/chanstatus.h"
#include "gui/device.h"
#include "gui/eq.h"
#include "gui/levels.h"
#include "gui/inputmap.h"
#include "gui/ip.h"
#include "gui/mainmenu.h"
#include "gui/outputmap.h"
#include "gui/project.h"
#include "gui/update.h"
#include "gui/usermsg.h"
#include "network.h"
#include "platform.h"
#include "sgui/sgui_event.h"
#include "sgui/sgui_msgbox.h"

namespace {

std::vector<void (*)()> meter_refresh;

}  // namespace

int app_keyhook(int keys, int, int)
{
    if (keys != SGUI_KEY_MUTE_ALL)
        return keys;
    char text[256] = "";
    for (int out = 0; out < 8; out++) {
        char line[32];
        snprintf(line, sizeof line, "%d,%d,%d,1\n", 44, network_get_conn_id(), out);
        snprintf(text + strlen(text), sizeof text - strlen(text), "%s", line);
    }
    network_output_command(text);
    return 0;
}

void app_add_meter_refresh(void (*refresh)())
{
    if (std::find(meter_refresh.begin(), meter_refresh.end(), refresh) == meter_refresh.end())
        meter_refresh.push_back(refresh);
}

int app_start()
{
    platform_init();
    setenv("SDL_NOMOUSE", "1", 1);
    levels_unit_init();
    if (sgui_init() != 0)
        return -1;
    if (network_init() != 0) {
        platform_log("network_init() error\n");
        SDL_Quit();
        return -1;
    }
    sgui_lock();
    mainmenu_init();
    channels_init();
    inputmap_init(eq_init(nullptr, 0, 1));
    outputmap_init(eq_init(nullptr, 0, 0));
    chanstatus_init();
    mainmenu_set_opener(MAINMENU_INPUT_BUSES, inputmap_open);
    mainmenu_set_opener(MAINMENU_OUTPUTS, outputmap_open);
    project_init();
    device_init();
    ip_init();
    mainmenu_set_opener(MAINMENU_PROJECT_DEVICE, device_open_chooser);
    mainmenu_set_opener(MAINMENU_NETWORK_DIGITAL, ip_open);
    for (auto refresh : {inputmap_refresh_meters, outputmap_refresh_meters, chanstatus_refresh})
        app_add_meter_refresh(refresh);
    usermsg_init();
    sgui_set_keyhook(app_keyhook);
    sgui_redraw(1);
    sgui_unlock();
    if (network_start() != 0) {
        platform_log("network_start() error\n");
        SDL_Quit();
        return -1;
    }
    return 0;
}

int app_pass()
{
    int woke = sgui_poll();
    if (update_ready())
        update_run();
    // A box that waited for the screen opens once the pass has drawn it.
    if (usermsg_flush())
        woke = 1;
    if (woke) {
        sgui_lock();
        for (auto refresh : meter_refresh)
            refresh();
        sgui_unlock();
    }
    return woke;
}
