// The text edit: the cursor moves with keys 4 and 8, the encoder changes
// the character under the cursor through the list of valid characters.
#pragma once
#include <string>

#include "sgui/sgui.h"

sgui_widget *sgui_widget_textedit(sgui_widget *par, int flags, int w, int h, const char *text, int maxlen,
                                  int immediate);

// Copies the text (cut to the maximum), the cursor goes to its end.
void sgui_textedit_set_text(sgui_widget *w, const char *text);
const char *sgui_textedit_get_text(sgui_widget *w);
void sgui_textedit_clear_cursor(sgui_widget *w);
int sgui_textedit_cursor(sgui_widget *w);  // -1 when cleared
// Switches to the digits only ("00123456789").
void sgui_textedit_set_onlynumbers(sgui_widget *w);
