#include "gui/update.h"

#include <unistd.h>

#include <atomic>
#include <string>

#include <SDL.h>

#include "common/hw_rev.h"
#include "gui/project.h"
#include "gui/usermsg.h"
#include "network.h"
#include "platform.h"
#include "sgui/sgui_msgbox.h"

namespace {

bool waiting;
std::atomic<bool> ready;

void answer(int a, void *)
{
    if (a != 1 || waiting)
        return;
    waiting = true;
    project_send(26, std::to_string(UPDATE_KEY) + "\n");
    network_set_timeout_long();
    sgui_info_box(1, UPDATE_LOADING);
}

// 26: only the answer to this panel's own request counts.
void on_update(const command_arg *a, intptr_t)
{
    if (a->org != network_get_conn_id())
        return;
    waiting = false;
    sgui_info_box(1, nullptr);
    if (a->v[0].i == UPDATE_KEY) {
        ready = true;  // the main loop ends the panel outside the link thread
        return;
    }
    network_set_timeout_short();
    usermsg_show(UPDATE_FAILED);
}

}  // namespace

void update_init()
{
    waiting = false;
    ready = false;
    network_add_listener(26, on_update, 0);
}

void update_ask()
{
    usermsg_ask(SGUI_MSGBOX_YESNOCANCEL, UPDATE_QUESTION, answer, nullptr);
}

bool update_ready()
{
    return ready;
}

void update_run()
{
    platform_log("update_run: starting %s\n", hw::updater_path);
    network_stop();
    SDL_Quit();
    // The path is the program's own constant under the simulation root.
    std::string path = platform_path(hw::updater_path);
    platform_run("'%s'", path.c_str());
    for (;;)
        pause();
}
