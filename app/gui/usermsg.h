// The messages and questions the panel shows in the message box: the
// server's user messages (report 25) and the screens' own. Only one box can
// be open, so what comes while one is shown (or from inside a box's answer)
// waits here and opens when the screen is free, in the order it came.
#pragma once
#include "sgui/sgui_msgbox.h"

// Shows a box now if none is open, else queues it.
void usermsg_ask(int type, const char *text, sgui_msgbox_fn callback, void *user);
// A message with only OK.
void usermsg_show(const char *text);
// Opens the next waiting box if none is open (the GUI loop calls this after
// each pass). Returns 1 when one was opened.
int usermsg_flush();
// How many boxes wait.
int usermsg_pending();
// Registers the listener of report 25.
void usermsg_init();
// Forgets what waits (tests).
void usermsg_reset();
