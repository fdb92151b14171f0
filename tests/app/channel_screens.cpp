#include "channel_screens.h"

#include "app_test.h"
#include "gui/channels.h"
#include "gui/chanstatus.h"
#include "gui/eq.h"
#include "gui/inputmap.h"
#include "gui/inputmap_properties.h"
#include "gui/levels.h"
#include "gui/lspselect.h"
#include "gui/outputmap.h"
#include "gui/outputmap_properties.h"
#include "gui/screen.h"
#include "network.h"
#include "sgui/sgui_event.h"
#include "sgui/sgui_widget.h"

void ChannelScreens::SetUp()
{
    app_test_reset();
    screen_reset();
    sgui_lock();
    sgui_set_connected(1);
    sgui_set_status_text("");
    ASSERT_EQ(network_init(), 0);
    levels_unit_init();
    channels_init();
    // The first screen, as the main menu is in the program.
    menu = sgui_widget_container(nullptr, 0, -1, -1);
    sgui_widget_button(sgui_widget_container(menu, SGUI_HORIZONTAL, -1, -1), SGUI_VERTICAL, -1, -1, "MENU");
    sgui_set_root(menu);
    sgui_redraw(1);
    bus_eq = eq_init(nullptr, 0, 1);
    out_eq = eq_init(nullptr, 0, 0);
    inputmap_init(bus_eq);
    outputmap_init(out_eq);
    chanstatus_init();
    network_take_output();
}

void ChannelScreens::TearDown()
{
    sgui_widget *roots[] = {inputmap_get()->frame.root,  inputmap_properties_get()->s.root,
                            outputmap_get()->frame.root, outputmap_properties_get()->s.root,
                            lspselect_get()->root,       chanstatus_get()->root,
                            bus_eq,                      out_eq,
                            menu};
    app_test_reset();
    for (sgui_widget *r : roots)
        if (sgui_widget_alive(r))
            sgui_widget_free(r);
    sgui_unlock();
    screen_reset();
}

void ChannelScreens::dispatch(std::string lines)
{
    network_dispatch(lines.data(), lines.size());
}

void ChannelScreens::turn(int steps)
{
    sgui_deliver_keys(0, steps, 0);
}

void ChannelScreens::key(int keys)
{
    sgui_deliver_keys(keys, 0, 0);
}

void ChannelScreens::turn_on(sgui_widget *control, int steps)
{
    sgui_focus_set(control);
    turn(steps);
}

void ChannelScreens::settle()
{
    for (int i = 0; i < 200 && (sgui_screen_slide() != 0 || sgui_transition() != 0); i++)
        sgui_redraw(0);
    sgui_redraw(0);
}

uint32_t ChannelScreens::screen_pixel(int x, int y)
{
    return app_test_pixel(sgui_screen(), x, y);
}
