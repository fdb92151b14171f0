// What the two properties screens (input bus, output group) share: a title
// row with the channel's name over a list of rows that scrolls with the
// focus (entries, captioned spinners, section captions, info lines), and
// the command buffer every property change is formatted into.
#pragma once
#include <vector>

#include "sgui/sgui.h"

constexpr int CHANPROPS_CMD_BUF_SIZE = 1024;

struct chanprops_screen {
    sgui_widget *root, *page, *title, *header, *list;
    std::vector<sgui_widget *> order;  // the focus order, as the rows were added
};

// Builds the frame; on_value gets every control's change and Enter on the
// entries. The screen's key handler goes back.
void chanprops_build(chanprops_screen *s, const char *title, sgui_value_fn on_value);
// An entry that opens another screen ("LABEL...").
sgui_widget *chanprops_button(chanprops_screen *s, const char *text);
// A row with a caption and a spinner (immediate: every detent is sent);
// returns the spinner.
sgui_widget *chanprops_spinner(chanprops_screen *s, const char *caption, double min, double value, double max,
                               int type, double step);
// The caption of a spinner made by chanprops_spinner.
sgui_widget *chanprops_caption_of(sgui_widget *spinner);
// A section caption ("DYNAMICS").
sgui_widget *chanprops_section(chanprops_screen *s, const char *text);
// A line of information under the row before, right-aligned.
sgui_widget *chanprops_info(chanprops_screen *s);
// Links the focus through the controls in the order they were added.
void chanprops_finish(chanprops_screen *s);
// Scrolls back to the first row and focuses it.
void chanprops_focus_first(chanprops_screen *s);

// Formats a command line into a buffer of CHANPROPS_CMD_BUF_SIZE bytes and
// queues it. A line that does not fit is not sent: who's message
// ("inputmap_properties/event_value: strlen(cmd_buf)>CMD_BUF_SIZE") is
// reported with perror. 1 when queued.
int chanprops_send(const char *who, const char *fmt, ...) __attribute__((format(printf, 2, 3)));
