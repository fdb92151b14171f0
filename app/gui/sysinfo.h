// "INFO": the panel's version, the operating system, the Ethernet MAC
// address and the serial number, read from the system when it opens.
#pragma once
#include "sgui/sgui.h"

constexpr const char *SYSINFO_APP_VERSION = "3.5.6";

struct sysinfo_widgets {
    sgui_widget *root, *version, *os, *os_build, *mac, *serial;
};

void sysinfo_init();
// Reads the system's texts and opens the page.
void sysinfo_open();
sysinfo_widgets *sysinfo_get();
// The serial number: the last two bytes of the MAC address as a decimal
// number (as in the device's default name); -1 for no address.
int sysinfo_serial(const char *mac);
