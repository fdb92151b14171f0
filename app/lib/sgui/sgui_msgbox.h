// Message box (questions, confirmations, code entry), info box (progress
// texts) and the short notice. Each opens as a popup screen over a darkened
// copy of the current one.
#pragma once
#include "sgui/sgui.h"

enum { SGUI_MSGBOX_OK = 0, SGUI_MSGBOX_OKCANCEL = 1, SGUI_MSGBOX_YESNOCANCEL = 2 };

// answer: 1 OK or YES (or Enter in the code entry), -1 NO, 0 CANCEL / back.
using sgui_msgbox_fn = void (*)(int answer, void *user);

// Lines are split at "\n"; a line "$E,width,maxlen,onlynumbers,text" is a
// code entry. Returns 0, or -1 when a box is already open or none could be
// opened.
int sgui_message_box(int type, const char *text, sgui_msgbox_fn callback, void *user);
// Whether a message box is open.
int sgui_message_box_open();
// The code entry's text; valid inside the callback.
const char *sgui_message_box_entry();

// Opens (or changes) the persistent info box; no text closes it.
void sgui_info_box(int persistent, const char *text);
// Whether the info box is shown.
int sgui_info_box_open();
// Shows the text for 350 ms.
void sgui_notice(const char *text);
