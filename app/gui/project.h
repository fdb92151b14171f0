// "MANAGE PROJECT": the project menu opened from the main menu, the live
// project as the server reports it (report 100), the project list (reports
// 97, 96, 98; asked for again after every report 105) and the actions NEW,
// LOAD, SAVE, SAVE AS, DELETE and SECURITY. EXPORT and IMPORT are the USB
// transfer's (usbtransfer.h).
#pragma once
#include <string>
#include <vector>

#include "gui/prjlist.h"
#include "sgui/sgui.h"

// The live project: id, live and stored lock value, modified flag, name.
struct project_live {
    int id, lock, stored, modified;
    std::string name;
};

struct project_widgets {
    sgui_widget *root, *name;
    sgui_widget *items[8];  // NEW ... SECURITY in menu order
    prjlist_screen *create, *load, *saveas, *remove;
    bool delete_locked;  // the panel holds the server's delete lock
};

constexpr int PROJECT_DELETE_LOCK = 41862539;

// Builds the menu and its lists, registers the listeners.
void project_init();
// Asks for the list and opens the menu.
void project_open();
const project_live &project_live_get();
// The projects as last listed (without project 1).
const std::vector<prjlist_item> &project_list();
project_widgets *project_get();

// Sends "id,conn," followed by rest (which ends with "\n").
void project_send(int id, const std::string &rest);
// Asks the server for the project list (request 1030).
void project_request_list();
