// "PROJECT SECURITY": the live project's lock value as two check boxes and
// a four-digit code. "USE LOCK CODE" is only enabled while "READ ONLY" is
// ticked; editing the code to anything but 0000 ticks it. Every change
// sends the lock value (0 writable, -1 read-only, code n as n + 1) with
// command 100; it is stored with the next save. A project that already has
// a code asks for it first.
#pragma once
#include "sgui/sgui.h"

struct prjsecurity_widgets {
    sgui_widget *root, *name, *readonly, *use_code, *code;
};

void prjsecurity_init();
// Asks for the code of a locked project, then opens the page.
void prjsecurity_open();
// The live project changed (report 100); from another client the page
// shows its lock value again.
void prjsecurity_update(bool from_other);
// The lock value for the page's settings.
int prjsecurity_lock_value(int readonly, int use_code, const char *code);
prjsecurity_widgets *prjsecurity_get();
