// The main menu: device name, project name, IP address, digital-input
// state and key lock, with the entries that open the other screens.
#pragma once
#include <cstddef>

#include "sgui/sgui.h"

enum mainmenu_entry {
    MAINMENU_PROJECT_DEVICE = 0,
    MAINMENU_NETWORK_DIGITAL = 1,
    MAINMENU_INPUT_BUSES = 2,
    MAINMENU_OUTPUTS = 3,
    MAINMENU_ENTRIES
};

// Builds the screen (the first root) and registers its report listeners.
sgui_widget *mainmenu_init();
// What an entry opens; screens register here. An entry without one shows
// the notice that its screen is not available yet.
void mainmenu_set_opener(int entry, void (*open)());

// The key lock, for every screen's key handler: the lock combination
// toggles it (and tells the server), any key while it is on says so.
// Returns the keys it did not use.
int mainmenu_lock_keys(int keys);

// The digital-input texts for a status value (report 29) and the digital
// I/O word (report 63): the input part and the sample-rate part.
const char *mainmenu_digital_input_text(int status, int dio_word, char *buf, size_t size);
const char *mainmenu_digital_rate_text(int status);

// The widgets, for tests.
struct mainmenu_widgets {
    sgui_widget *root, *page, *title, *lock_icon, *project, *network, *digstate, *inputs_button, *outputs_button,
        *project_button, *network_button;
};
const mainmenu_widgets &mainmenu_get();
