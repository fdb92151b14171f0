#include "gui/project.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>

#include "common/db_text.h"
#include "gui/chanmap.h"
#include "gui/prjsecurity.h"
#include "gui/screen.h"
#include "gui/usbtransfer.h"
#include "gui/usermsg.h"
#include "network.h"
#include "sgui/sgui_event.h"
#include "sgui/sgui_msgbox.h"
#include "sgui/sgui_textedit.h"
#include "sgui/sgui_widget.h"

namespace {

constexpr int TITLE_PX = 25, NAME_PX = 25, ITEM_PX = 23;
constexpr const char *ITEMS[8] = {"NEW...", "LOAD...", "SAVE", "SAVE AS...",
                                  "DELETE...", "IMPORT...", "EXPORT...", "SECURITY..."};

project_widgets w;
project_live live;
std::vector<prjlist_item> projects, listing;
bool listing_full;

std::string trimmed(const char *name)
{
    std::string t = name != nullptr ? name : "";
    t.erase(t.find_last_not_of(' ') + 1);
    t.erase(0, t.find_first_not_of(' ') == std::string::npos ? t.size() : t.find_first_not_of(' '));
    return t;
}

// Lists shown by the project screens, each with the rows it offers.
void show_lists()
{
    std::vector<prjlist_item> others;
    for (const prjlist_item &p : projects)
        if (p.key != live.id)
            others.push_back(p);
    for (prjlist_screen *s : {w.create, w.load, w.saveas}) {
        s->current = live.id;
        prjlist_set_items(s, projects);
    }
    prjlist_set_items(w.remove, others);
    usbtransfer_set_projects(projects);
}

void back_to_menu()
{
    while (screen_current() != w.root && screen_depth() > 0 && screen_back()) {
    }
}

// --- NEW ------------------------------------------------------------------

void new_answer(int answer, void *user)
{
    auto *name = static_cast<std::string *>(user);
    if (answer == 1) {
        project_send(104, db_text_encode(*name) + "\n");
        back_to_menu();
    }
    delete name;
}

void new_name(prjlist_screen *, const char *text)
{
    std::string name = trimmed(text);
    if (name.empty()) {
        usermsg_show("Name is empty.");
        return;
    }
    usermsg_ask(SGUI_MSGBOX_YESNOCANCEL, "Do You really want\nto create a new\nempty project?\n\nOutputs will mute!",
                new_answer, new std::string(name));
}

// --- LOAD -----------------------------------------------------------------

void load_answer(int answer, void *user)
{
    if (answer != 1)
        return;
    project_send(99, std::to_string((int)(intptr_t)user) + "\n");
    back_to_menu();
}

void load_pick(prjlist_screen *s, int item)
{
    usermsg_ask(SGUI_MSGBOX_YESNOCANCEL, "Do You really want\nto load the project?", load_answer,
                (void *)(intptr_t)s->items[(size_t)item].key);
}

// --- SAVE -----------------------------------------------------------------

// The server keeps code n as the lock value n + 1 and compares the value.
void save_answer(int answer, void *)
{
    if (answer != 1)
        return;
    int code = atoi(sgui_message_box_entry());
    project_send(101, std::to_string(code > 0 ? code + 1 : 0) + "\n");
}

void save()
{
    if (live.stored > 0)
        usermsg_ask(SGUI_MSGBOX_OKCANCEL, "Enter lock code\nto overwrite:\n$E,50,4,1,0000", save_answer, nullptr);
    else
        project_send(101, "0\n");
}

// --- SAVE AS --------------------------------------------------------------

void overwrite_answer(int answer, void *user)
{
    if (answer != 1)
        return;
    project_send(102, std::to_string((int)(intptr_t)user) + ",\n");
    back_to_menu();
}

void ask_overwrite(int id)
{
    usermsg_ask(SGUI_MSGBOX_YESNOCANCEL, "Do You really want\nto overwrite\nthe project?", overwrite_answer,
                (void *)(intptr_t)id);
}

void saveas_pick(prjlist_screen *s, int item)
{
    ask_overwrite(s->items[(size_t)item].key);
}

void saveas_name(prjlist_screen *s, const char *text)
{
    std::string name = trimmed(text);
    if (name.empty()) {
        usermsg_show("Name is empty.");
        return;
    }
    for (const prjlist_item &it : s->items)
        if (it.name == name) {
            ask_overwrite(it.key);
            return;
        }
    project_send(102, "0," + db_text_encode(name) + "\n");
    back_to_menu();
}

// --- DELETE ---------------------------------------------------------------

void release_delete_lock()
{
    if (!w.delete_locked)
        return;
    w.delete_locked = false;
    project_send(106, "0\n");
}

void delete_answer(int answer, void *)
{
    if (answer != 1 || !w.delete_locked)
        return;
    std::string lines;
    for (int id : prjlist_ticked(w.remove))
        lines += "103," + std::to_string(network_get_conn_id()) + "," + std::to_string(id) + "\n";
    network_output_command(lines.c_str());
    release_delete_lock();
    back_to_menu();
}

void delete_act(prjlist_screen *s)
{
    if (prjlist_ticked(s).empty())
        return;
    usermsg_ask(SGUI_MSGBOX_YESNOCANCEL, "Do You really want\nto delete the\nselected projects?", delete_answer,
                nullptr);
}

// Leaving the list gives the delete lock back.
int delete_key(sgui_widget *root, int keys, int steps)
{
    if ((keys & SGUI_KEY_BACK) && !sgui_keylock())
        release_delete_lock();
    return screen_back_key(root, keys, steps);
}

// The server takes the lock before it answers the list request that
// follows it: the deletions picked from this list are one transaction, and
// a load or save by another client in between aborts them.
void open_delete()
{
    for (prjlist_item &it : w.remove->items)
        it.ticked = false;
    prjlist_set_items(w.remove, w.remove->items);
    if (!w.delete_locked) {
        w.delete_locked = true;
        project_send(106, std::to_string(PROJECT_DELETE_LOCK) + "\n");
    }
    project_request_list();
    prjlist_open(w.remove);
}

// --- the menu -------------------------------------------------------------

void open_saveas()
{
    sgui_textedit_set_text(w.saveas->edit, live.name.c_str());
    prjlist_open(w.saveas);
}

void open_create()
{
    sgui_textedit_set_text(w.create->edit, "");
    prjlist_open(w.create);
}

void on_value(sgui_widget *x, int, const char *)
{
    int item = -1;
    for (int i = 0; i < 8; i++)
        if (x == w.items[i])
            item = i;
    switch (item) {
    case 0: open_create(); break;
    case 1: prjlist_open(w.load); break;
    case 2: save(); break;
    case 3: open_saveas(); break;
    case 4: open_delete(); break;
    case 5: usbtransfer_import_open(); break;
    case 6: usbtransfer_export_open(); break;
    case 7: prjsecurity_open(); break;
    default: break;
    }
}

// --- reports --------------------------------------------------------------

// 97: 1 the whole list follows, 0 one project.
void on_list_begin(const command_arg *a, intptr_t)
{
    listing.clear();
    listing_full = a->v[0].i == 1;
}

void on_list_entry(const command_arg *a, intptr_t)
{
    if (a->count >= 2)
        listing.push_back({a->v[0].i, a->v[1].i, a->text, false});
}

void on_list_end(const command_arg *, intptr_t)
{
    if (listing_full) {
        projects = listing;
    } else {
        for (const prjlist_item &one : listing) {
            auto at = std::find_if(projects.begin(), projects.end(), [&](const prjlist_item &p) { return p.key == one.key; });
            if (at != projects.end())
                *at = one;
            else
                projects.push_back(one);
        }
    }
    listing.clear();
    show_lists();
}

void on_project(const command_arg *a, intptr_t)
{
    if (a->count < 2)
        return;
    bool same = a->v[0].i == live.id;
    live = {a->v[0].i, a->v[1].i, a->count > 2 ? a->v[2].i : 0, a->count > 3 ? a->v[3].i : 0, a->text};
    sgui_set_text(w.name, live.name.c_str());
    if (!same)
        show_lists();
    prjsecurity_update(a->org != network_get_conn_id());
}

// The list changed on the server: the screens that show it ask again.
void on_list_changed(const command_arg *, intptr_t)
{
    sgui_widget *cur = screen_current();
    for (prjlist_screen *s : {w.create, w.load, w.saveas, w.remove})
        if (cur == s->root)
            return project_request_list();
    if (cur == w.root || usbtransfer_showing())
        project_request_list();
}

}  // namespace

void project_send(int id, const std::string &rest)
{
    std::string line = std::to_string(id) + "," + std::to_string(network_get_conn_id()) + "," + rest;
    network_output_command(line.c_str());
}

void project_request_list()
{
    project_send(1030, "-1\n");
}

void project_init()
{
    w = {};
    live = {};
    projects.clear();
    listing.clear();
    w.root = sgui_widget_container(nullptr, 0, SGUI_UNITS, SGUI_UNITS);
    w.root->key = screen_back_key;
    sgui_widget *page = sgui_widget_container(w.root, SGUI_HORIZONTAL, SGUI_UNITS, SGUI_UNITS);
    page->event_val = on_value;
    page->flags |= SGUI_NOSCROLL;
    sgui_widget *top = sgui_widget_container(page, SGUI_VERTICAL, SGUI_UNITS, chanmap_h(TITLE_PX));
    top->colour[0] = top->colour[1] = top->colour[2] = 48;
    sgui_widget_label(top, SGUI_HORIZONTAL, SGUI_UNITS, chanmap_h(TITLE_PX), "\x60MANAGE PROJECT", 1);
    w.name = sgui_widget_label(page, SGUI_VERTICAL, SGUI_UNITS, chanmap_h(NAME_PX), "", 0);
    sgui_set_font(w.name, CHANMAP_SMALL_FONT);
    for (int i = 0; i < 8; i++) {
        w.items[i] = sgui_widget_button(page, SGUI_VERTICAL, SGUI_UNITS, chanmap_h(ITEM_PX), ITEMS[i]);
        sgui_set_font(w.items[i], CHANMAP_SMALL_FONT);
    }
    sgui_focus_chain(w.items, 8);

    w.create = prjlist_new({"NAME NEW EMPTY PROJECT", "[no projects found]", nullptr, 1, nullptr, nullptr, new_name});
    w.load = prjlist_new({"LOAD PROJECT", "[no projects found]", nullptr, 0, load_pick, nullptr, nullptr});
    w.saveas = prjlist_new({"SAVE PROJECT AS", "[no projects found]", nullptr, 1, saveas_pick, nullptr, saveas_name});
    w.remove = prjlist_new({"DELETE PROJECTS", "[nothing to delete]", "DELETE", 0, nullptr, delete_act, nullptr});
    w.remove->root->key = delete_key;
    prjsecurity_init();
    usbtransfer_init();

    network_add_listener(97, on_list_begin, 0);
    network_add_listener(96, on_list_entry, 0);
    network_add_listener(98, on_list_end, 0);
    network_add_listener(100, on_project, 0);
    network_add_listener(105, on_list_changed, 0);
}

void project_open()
{
    project_request_list();
    if (screen_open(w.root))
        sgui_focus_set(w.items[0]);
}

const project_live &project_live_get()
{
    return live;
}

const std::vector<prjlist_item> &project_list()
{
    return projects;
}

project_widgets *project_get()
{
    return &w;
}
