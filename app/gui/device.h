// "PROJECT / DEVICE" and "DEVICE SETTINGS": the chooser that the main menu
// opens, and the device-wide settings: name, delay unit and temperature,
// mute on project load, the service mode (revision 1), and the entries of
// the amplifier, information and firmware-update screens.
#pragma once
#include "sgui/sgui.h"

struct device_widgets {
    sgui_widget *chooser, *manage, *settings;  // the chooser and its two entries
    sgui_widget *root, *name, *unit, *temp_caption, *temp, *mute_on_load, *service;
    sgui_widget *amplifiers, *info, *update;
};

// Builds the screens and registers their report listeners.
void device_init();
// The main menu's "PROJECT / DEVICE".
void device_open_chooser();
void device_open();
device_widgets *device_get();

// The temperature as the page shows it (°C, or °F on revisions that follow
// the delay unit with feet) and back to kelvin, which the server keeps.
double device_temp_shown(double kelvin, int unit);
double device_temp_kelvin(double shown, int unit);
// The system flags word with the mute-on-load box: bit 0 set keeps the
// outputs' stored mute, clear mutes them on every project load.
int device_flags_with_mute(int flags, int mute_on_load);

constexpr const char *DEVICE_SERVICE_WARNING =
    "In service mode You\nmust mute the amps\nbefore powering off!\nThe outputs may\nPLOP VERY LOUD!";
