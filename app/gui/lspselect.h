// The loudspeaker selection for an output group: the library tree as the
// server lists it (request 1026; reports 65, 64 and 66), browsed folder by
// folder, with folders and locked entries marked and the group's entry
// ticked. Choosing an entry asks "Do You really want to load a new
// loudspeaker?" and on YES sends command 36; the screen stays, and its
// header and bottom line show the group's outputs as the server then
// reports them.
#pragma once
#include <string>
#include <vector>

#include "sgui/sgui.h"

struct lspselect_entry {
    int id, parent, version, folder, locked, ways;
    std::string name;  // decoded
};

struct lspselect_row {
    sgui_widget *mark, *name, *ways, *lock;
    int entry;  // id, or -1 for the row that goes up a folder
};

struct lspselect_widgets {
    sgui_widget *root, *header, *path, *list, *status;
    std::vector<lspselect_row> rows;
    std::vector<lspselect_entry> entries;  // the whole tree as listed
    int group;   // the output group it chooses for
    int folder;  // shown: 0 the top level
    bool listing;  // between 65 and 66
};

constexpr const char *LSPSELECT_QUESTION = "Do You really\nwant to load a\nnew loudspeaker?\n\nOutput(s) will mute!";

// Builds the screen and registers its listeners.
void lspselect_init();
// Asks the server for the library and opens the screen for a group.
void lspselect_open(int group);
// The screen, for tests (nullptr before init).
lspselect_widgets *lspselect_get();
