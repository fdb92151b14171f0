// The list screens of "MANAGE PROJECT": a title, an optional name entry,
// one row per project (or per file on the USB stick) and, for lists with
// ticks, a button at the bottom that acts on the ticked rows. The rows are
// what the server last listed; the screen only shows them and calls back.
#pragma once
#include <string>
#include <vector>

#include "sgui/sgui.h"

struct prjlist_item {
    int key;   // project id or file number
    int lock;  // project lock value (0 writable, -1 read-only, n + 1 code n)
    std::string name;  // decoded
    bool ticked;
};

struct prjlist_row {
    sgui_widget *mark, *name, *lock;
    int item;  // index into items, -1 for the row that says the list is empty
};

struct prjlist_screen;
using prjlist_pick_fn = void (*)(prjlist_screen *s, int item);
using prjlist_act_fn = void (*)(prjlist_screen *s);
using prjlist_name_fn = void (*)(prjlist_screen *s, const char *name);

struct prjlist_options {
    const char *title;
    const char *empty;   // the row of an empty list ("[no projects found]")
    const char *action;  // the button under a list with ticks, or nullptr (no ticks)
    int name_entry;      // a text edit above the list
    prjlist_pick_fn pick;  // Enter on a row of a list without ticks
    prjlist_act_fn act;    // Enter on the button
    prjlist_name_fn name;  // Enter in the name entry
};

struct prjlist_screen {
    prjlist_options opt;
    sgui_widget *root, *title, *edit, *list, *action;
    std::vector<prjlist_row> rows;
    std::vector<prjlist_item> items;
    int current;  // the key whose row is marked as the live project, or 0
};

constexpr int PRJLIST_NAME_MAX = 30;

prjlist_screen *prjlist_new(const prjlist_options &opt);
// Shows these items (ticks of keys still listed are kept).
void prjlist_set_items(prjlist_screen *s, const std::vector<prjlist_item> &items);
// Opens the screen over the current one, focus on the entry or first row.
void prjlist_open(prjlist_screen *s);
// The keys of the ticked items, in list order.
std::vector<int> prjlist_ticked(const prjlist_screen *s);
const prjlist_item *prjlist_find(const prjlist_screen *s, int key);
// Ticks or unticks an item, as Enter on its row does.
void prjlist_toggle(prjlist_screen *s, int item);
