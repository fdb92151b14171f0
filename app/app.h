// mirelapp's start-up and main loop, kept apart from main() so that tests
// and benchmarks can drive them.
#pragma once

// Start-up in its fixed order: environment, level unit, sgui, the link,
// the main menu, the channel lists and EQ editors and their listeners, the
// message-box listener, the global key hook, the first screen, the link
// thread. 0, or -1 when a step failed.
int app_start();
// One pass of the main loop (event loop pass, meters after a wake-up).
// 1 when the pass handled a wake-up of the link thread.
int app_pass();

// The global key hook: the mute-all combination mutes outputs 0 to 7.
int app_keyhook(int keys, int step, int modifier);
// Screens with level meters register their refresh here; it runs after
// each batch of reports with the sgui mutex held.
void app_add_meter_refresh(void (*refresh)());
