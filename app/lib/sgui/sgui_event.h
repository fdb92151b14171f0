// sgui's event loop: initialisation, one pass of the loop, the panel's input
// device (keys and rotary encoder as packed input records), long press and
// auto-repeat, encoder acceleration, key routing, focus movement, key lock
// and idle handlers.
#pragma once
#include <cstdint>

#include "sgui/sgui.h"

// One record of the input device, as the device's (32-bit) kernel writes it.
struct sgui_input_event {
    int32_t sec;
    int32_t usec;
    uint16_t type;
    uint16_t code;
    int32_t value;
};
static_assert(sizeof(sgui_input_event) == 16, "input records are 16 bytes");

// The value of a record: key code in bits 16..23, encoder in bits 24..31,
// a non-zero low byte marks the record as valid.
constexpr int32_t sgui_input_value(int key_code, int encoder)
{
    return (int32_t)(((uint32_t)(encoder & 0xFF) << 24) | ((uint32_t)(key_code & 0xFF) << 16) | 1u);
}
constexpr int SGUI_ENCODER_CCW = 3;  // encoder byte of one counter-clockwise step
constexpr int SGUI_CODE_MUTE_ALL = 0x90;
constexpr int SGUI_CODE_LOCK = 0x50;

// The global key hook: gets the keys (with the step and the modifier key
// code) before the widgets and returns the keys left for them.
using sgui_keyhook_fn = int (*)(int keys, int step, int modifier);

// SDL video, the sgui mutex, the input device, SDL_ttf and the fonts.
// 0 on success, -1 when SDL or SDL_ttf cannot start.
int sgui_init();

// One pass of the event loop. 1 when it handled a wake-up of the link thread.
int sgui_poll();

// Wakes the GUI thread (the link thread, after each batch of reports).
void sgui_wakeup();

void sgui_add_idlehandler(sgui_widget *w);
void sgui_idle_forget(sgui_widget *w);
void sgui_set_keyhook(sgui_keyhook_fn hook);
void sgui_set_keylock(int on);
int sgui_keylock();

// Moves the focus to the previous (-1) or next (1) item; 0 when there is none.
int sgui_focus_move(int direction);

// The input decoding, driven by the loop; open for tests with their own times.
void sgui_input_records(const sgui_input_event *ev, int count);
// Long press and auto-repeat at the time now (microseconds, as the records').
void sgui_input_hold(int64_t now_us);
// Forgets pending and repeating keys and the encoder history.
void sgui_input_reset();
// Delivers keys (with an encoder step and a modifier key code) to the hook,
// the widgets and the page and focus movement. Returns the keys nobody used.
int sgui_deliver_keys(int keys, int step, int modifier);
int sgui_route_keys(int keys, int step);

// Saves the screen as a BMP file (written aside, then renamed). 0 on success.
int sgui_save_screen(const char *path);
