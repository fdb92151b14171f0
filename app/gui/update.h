// The firmware update: the question, the request to the server (id 26 with
// the key), and on the server's answer to this panel either the end of the
// panel program with the updater from the USB stick started, or the
// failure message.
#pragma once

constexpr int UPDATE_KEY = 517204968;
constexpr const char *UPDATE_QUESTION =
    "This will load a\nFIRMWARE UPDATE\nfrom Your USB Stick.\n\nOutputs will mute!";
constexpr const char *UPDATE_LOADING = "Loading\nFIRMWARE UPDATE\nfrom USB Device...";
constexpr const char *UPDATE_FAILED = "Firmware update\npreparation failed.";

void update_init();
// "UPDATE...": asks, then requests the update.
void update_ask();
// Whether the server has prepared the update (the main loop then calls
// update_run).
bool update_ready();
// Ends SDL, starts the updater of this revision and never returns: the
// updater replaces the programs.
[[noreturn]] void update_run();
