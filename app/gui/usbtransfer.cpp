#include "gui/usbtransfer.h"

#include <cstring>

#include "gui/project.h"
#include "gui/screen.h"
#include "gui/usermsg.h"
#include "network.h"
#include "platform.h"
#include "sgui/sgui_msgbox.h"

namespace {

enum { IDLE = 0, EXPORTING = 1, IMPORTING = 2, READING = 3 };

usbtransfer_widgets w;
std::vector<prjlist_item> files;  // the stick's list while it comes in

prjlist_screen *list_of(int running)
{
    return running == EXPORTING ? w.exports : w.imports;
}

void finish(const std::string &message)
{
    w.running = IDLE;
    network_set_timeout_short();
    sgui_info_box(1, nullptr);
    usermsg_show(message.c_str());
}

// Starts the next ticked item after the one done last; none left ends it.
void list_start_next()
{
    prjlist_screen *s = list_of(w.running);
    platform_log("list_start_next() last=%d\n", w.last);
    int next = -1;
    for (int i = w.last + 1; i < (int)s->items.size() && next < 0; i++)
        if (s->items[(size_t)i].ticked)
            next = i;
    if (next < 0) {
        bool import = w.running == IMPORTING;
        finish(import ? "Import finished." : "Export finished.");
        if (import)
            project_request_list();
        return;
    }
    w.last = next;
    const prjlist_item &it = s->items[(size_t)next];
    platform_log("w->user: %d\n", it.key);
    char cmd[64];
    snprintf(cmd, sizeof cmd, "%d,%d,%d\n", w.running == EXPORTING ? 1034 : 1035, network_get_conn_id(), it.key);
    platform_log("list_start_next(): cmd='%s'\n", cmd);
    std::string info = w.running == EXPORTING ? "Exporting to\nUSB Device...\n\n" + usbtransfer_file_name(it.name)
                                              : "Importing from\nUSB Device...\n\n" + it.name + ".karu8";
    sgui_info_box(1, info.c_str());
    network_output_command(cmd);
}

void start(int direction)
{
    w.running = direction;
    w.last = -1;
    network_set_timeout_long();
    list_start_next();
}

void export_answer(int answer, void *)
{
    if (answer == 1 && w.running == IDLE)
        start(EXPORTING);
}

void import_answer(int answer, void *)
{
    if (answer == 1 && w.running == IDLE)
        start(IMPORTING);
}

void export_act(prjlist_screen *s)
{
    if (prjlist_ticked(s).empty() || w.running != IDLE)
        return;
    usermsg_ask(SGUI_MSGBOX_OKCANCEL, "Ready for export\nto USB device?\n", export_answer, nullptr);
}

void import_act(prjlist_screen *s)
{
    if (prjlist_ticked(s).empty() || w.running != IDLE)
        return;
    usermsg_ask(SGUI_MSGBOX_OKCANCEL, "Ready for import\nfrom USB device?\n", import_answer, nullptr);
}

void read_stick(int answer, void *)
{
    if (answer != 1 || w.running != IDLE)
        return;
    w.running = READING;
    files.clear();
    network_set_timeout_long();
    sgui_info_box(1, "Reading\nUSB device...");
    char cmd[48];
    snprintf(cmd, sizeof cmd, "%d,%d,0\n", 1035, network_get_conn_id());
    network_output_command(cmd);
}

// 107: the export's result; above 0 the next project follows.
void on_exported(const command_arg *a, intptr_t)
{
    if (w.running != EXPORTING)
        return;
    int result = a->v[1].i;
    if (result > 0)
        list_start_next();
    else
        finish(usbtransfer_result_text(result, false));
}

// 108: the import's result, or the failed reading of the stick's list.
void on_imported(const command_arg *a, intptr_t)
{
    int result = a->v[1].i;
    if (w.running == READING && result <= 0) {
        finish(usbtransfer_result_text(result, true));
        return;
    }
    if (w.running != IMPORTING)
        return;
    if (result > 0) {
        list_start_next();
        return;
    }
    finish(usbtransfer_result_text(result, true));
    project_request_list();
}

void on_files_begin(const command_arg *, intptr_t)
{
    files.clear();
}

void on_file(const command_arg *a, intptr_t)
{
    if (a->count >= 1)
        files.push_back({a->v[0].i, 0, a->text, false});
}

void on_files_end(const command_arg *, intptr_t)
{
    if (w.running != READING)
        return;
    w.running = IDLE;
    network_set_timeout_short();
    sgui_info_box(1, nullptr);
    for (prjlist_item &it : w.imports->items)
        it.ticked = false;
    prjlist_set_items(w.imports, {});
    prjlist_set_items(w.imports, files);
    if (screen_current() != w.imports->root)
        prjlist_open(w.imports);
}

}  // namespace

void usbtransfer_init()
{
    w = {};
    files.clear();
    w.exports = prjlist_new({"EXPORT PROJECTS TO USB", "[nothing to export]", "EXPORT", 0, nullptr, export_act, nullptr});
    w.imports = prjlist_new({"IMPORT PROJECTS FROM USB", "[nothing to import]", "IMPORT", 0, nullptr, import_act, nullptr});
    network_add_listener(107, on_exported, 0);
    network_add_listener(108, on_imported, 0);
    network_add_listener(110, on_files_begin, 0);
    network_add_listener(109, on_file, 0);
    network_add_listener(111, on_files_end, 0);
}

void usbtransfer_set_projects(const std::vector<prjlist_item> &projects)
{
    // The list stays as it is while its ticks are being worked through.
    if (w.exports != nullptr && w.running != EXPORTING)
        prjlist_set_items(w.exports, projects);
}

void usbtransfer_export_open()
{
    if (w.running != IDLE)
        return;
    for (prjlist_item &it : w.exports->items)
        it.ticked = false;
    prjlist_set_items(w.exports, w.exports->items);
    project_request_list();
    prjlist_open(w.exports);
}

void usbtransfer_import_open()
{
    if (w.running == IDLE)
        usermsg_ask(SGUI_MSGBOX_OKCANCEL, "USB device inserted?", read_stick, nullptr);
}

bool usbtransfer_showing()
{
    sgui_widget *cur = screen_current();
    return cur == w.exports->root || cur == w.imports->root;
}

usbtransfer_widgets *usbtransfer_get()
{
    return &w;
}

std::string usbtransfer_file_name(const std::string &project)
{
    std::string name;
    for (char c : project)
        if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || strchr("-._#$ ", c) != nullptr)
            if (c != 0)
                name += c;
    platform_log("sanitize_filename: '%s'-->'%s'\n", project.c_str(), name.c_str());
    return name + ".karu8";
}

std::string usbtransfer_result_text(int result, bool import)
{
    switch (result) {
    case -1: return "Could not mount\nUSB device.";
    case -2: return "Could not open\ndatabase.";
    case -3: return "Could not create\ndatabase.";
    case -4: return "Could not attach\ndatabase.";
    case -5: return "Project error.";
    case -6:
        if (import)
            return "Invalid file type!";
        break;
    default: break;
    }
    char text[48];
    snprintf(text, sizeof text, "Error %d occured.", result);
    return text;
}
