// EXPORT and IMPORT of "MANAGE PROJECT": the ticked projects are exported
// to the USB stick one at a time (request 1034, report 107), the ticked
// files of the stick's list (request 1035 with 0; reports 110, 109, 111)
// imported one at a time (request 1035, report 108). An info box shows the
// file in progress; the end, or the first failure in words, is a message.
#pragma once
#include <string>
#include <vector>

#include "gui/prjlist.h"

struct usbtransfer_widgets {
    prjlist_screen *exports, *imports;
    int running;   // 0 idle, 1 exporting, 2 importing, 3 reading the stick's list
    int last;      // the item index done last, -1 before the first
};

void usbtransfer_init();
// The projects to offer for export (the project list).
void usbtransfer_set_projects(const std::vector<prjlist_item> &projects);
void usbtransfer_export_open();
// Asks whether a stick is inserted, then reads its list.
void usbtransfer_import_open();
// Whether one of the transfer's lists is on screen.
bool usbtransfer_showing();
usbtransfer_widgets *usbtransfer_get();

// The file name an export gets: only A-Z, a-z, 0-9, "-", ".", "_", "#",
// "$" and space kept, ".karu8" added.
std::string usbtransfer_file_name(const std::string &project);
// The words for a failed transfer's result (0 or below).
std::string usbtransfer_result_text(int result, bool import);
