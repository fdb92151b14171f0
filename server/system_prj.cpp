#include "system_prj.h"

#include <cstring>

#include "dbase.h"
#include "dbase_project.h"
#include "log.h"
#include "report.h"
#include "system.h"

namespace {

// The delete lock: held by one connection, or free.
bool g_lock_held;
int g_lock_holder;

// Every client learns the project line anew, with the requester's id.
void report_project(int conn)
{
    report_device(100, conn);
}

void report_list_changed()
{
    report_device(105, REPORT_CONN_SERVER);
}

void set_label(const char *name)
{
    dbase_copy_text(my_sys->project_label, name, SYS_LABEL_MAX);
}

// Writes the live state into project id and tells everyone. The template
// is never saved over: a live state that is (or names) project 1 goes into
// a new project instead, so a save can never load the template over the
// mix the user wanted to keep.
void save_live(int conn, int id, const char *op)
{
    if (dbase_save_project(id == DBASE_TEMPLATE_PROJECT ? 0 : id) != 0) {
        log_error("%s: dbase_save_project() error\n", op);
        report_message(conn, SYSTEM_PRJ_MSG_SAVE_ERROR, 1);
        return;
    }
    my_sys->modified = 0;
    report_project(conn);
    report_list_changed();
    report_message(conn, SYSTEM_PRJ_MSG_SAVED, 0);
}

// The name checks of commands 100, 102 and 104; false after the line.
bool name_given(const char *op, const char *name)
{
    if (name == nullptr) {
        log_error("%s: name==NULL\n", op);
        return false;
    }
    if (name[0] == 0) {
        log_error("%s: name empty\n", op);
        return false;
    }
    return true;
}

}  // namespace

void system_prj_load_project(int conn, int id)
{
    if (id <= 0) {
        log_error("system_prj_load_project: project_id out of range\n");
        return;
    }
    if (dbase_load_project(id) != 0) {
        log_error("system_prj_load_project: dbase_load_project() error\n");
        report_message(conn, SYSTEM_PRJ_MSG_LOAD_ERROR, 1);
        return;
    }
    dbase_count_use(id);
    report_project(conn);
    report_device(119, conn);
    // The use counter orders the list; a rolled-back deletion is back in it.
    report_list_changed();
}

void system_prj_stat_project(int conn, int id, int lock, const char *name)
{
    const char *op = "system_prj_stat_project";
    if (id < 2) {
        log_error("system_prj_stat_project: project_id out of range\n");
        return;
    }
    if (!name_given(op, name))
        return;
    if (id != my_sys->project_id) {
        log_error("system_prj_stat_project: function not implemented\n");
        return;
    }
    if (dbase_project_by_label_except(name, id) != 0) {
        log_error("system_prj_stat_project: new name exists\n");
        report_message(conn, SYSTEM_PRJ_MSG_NAME_EXISTS, 1);
        return;
    }
    my_sys->project_lock = lock;
    set_label(name);
    my_sys->modified = 1;
    report_project(conn);
}

void system_prj_save_project(int conn, int unlock)
{
    int stored = dbase_project_lock(my_sys->project_id);
    int live = my_sys->project_lock;
    if (stored == -1 && live != 0) {
        log_error("system_prj_save_project: cannot overwrite locked project\n");
        report_message(conn, SYSTEM_PRJ_MSG_LOCKED, 1);
        return;
    }
    if (stored != -1 && stored != 0 && stored != unlock) {
        log_error("system_prj_save_project: wrong unlock code\n");
        report_message(conn, SYSTEM_PRJ_MSG_WRONG_CODE, 1);
        return;
    }
    save_live(conn, my_sys->project_id, "system_prj_save_project");
}

void system_prj_saveas_project(int conn, int id, const char *name)
{
    const char *op = "system_prj_saveas_project";
    if (id < 0) {
        log_error("system_prj_saveas_project: project_id out of range\n");
        return;
    }
    if (id > 0) {
        // Overwrites that project under its own name.
        if (dbase_project_lock(id) != 0) {
            log_error("system_prj_saveas_project: cannot overwrite locked project\n");
            report_message(conn, SYSTEM_PRJ_MSG_LOCKED, 1);
            return;
        }
        char label[DBASE_PROJECT_LABEL_SIZE];
        if (dbase_project_label(id, label) != 0)
            return;
        my_sys->project_id = id;
        my_sys->project_lock = 0;
        set_label(label);
        save_live(conn, id, op);
        return;
    }
    if (!name_given(op, name))
        return;
    set_label(name);
    int found = dbase_project_by_label(name);
    if (dbase_project_lock(found) != 0) {
        log_error("system_prj_saveas_project: cannot overwrite locked project\n");
        report_message(conn, SYSTEM_PRJ_MSG_LOCKED, 1);
        // The live label keeps the new name: every client shows it.
        report_project(conn);
        return;
    }
    my_sys->project_lock = 0;
    save_live(conn, found, op);
}

void system_prj_delete_project(int conn, int id)
{
    if (id <= 0) {
        log_error("system_prj_delete_project: project_id out of range\n");
        return;
    }
    if (id == my_sys->project_id) {
        log_error("system_prj_delete_project: can't delete active project\n");
        return;
    }
    if (!system_prj_delete_lock_held_by(conn)) {
        log_error("system_prj_delete_project: not unlocked\n");
        return;
    }
    if (dbase_project_lock(id) != 0) {
        log_error("system_prj_delete_project: cannot delete locked project\n");
        report_message(conn, SYSTEM_PRJ_MSG_DELETE_LOCKED, 1);
        return;
    }
    // Reported when the lock is released and the deletions are committed.
    dbase_delete_project(id);
}

void system_prj_new_project(int conn, const char *name)
{
    const char *op = "system_prj_new_project";
    if (!name_given(op, name))
        return;
    if (dbase_project_by_label(name) != 0) {
        log_error("system_prj_new_project: name exists\n");
        report_message(conn, SYSTEM_PRJ_MSG_NEW_NAME_EXISTS, 1);
        return;
    }
    char old_label[SYS_LABEL_SIZE];
    memcpy(old_label, my_sys->project_label, sizeof old_label);
    set_label(name);
    if (dbase_save_project(DBASE_TEMPLATE_PROJECT) != 0) {
        log_error("system_prj_new_project: dbase_save_project() error\n");
        report_message(conn, SYSTEM_PRJ_MSG_SAVE_ERROR, 1);
        memcpy(my_sys->project_label, old_label, sizeof old_label);
        return;
    }
    my_sys->modified = 0;
    report_project(conn);
    report_device(119, conn);
    report_list_changed();
}

void system_prj_delete_lock(int conn, int value)
{
    if (!g_lock_held && value == SYSTEM_PRJ_DELETE_LOCK) {
        g_lock_held = true;
        g_lock_holder = conn;
        dbase_delete_begin();
        return;
    }
    if (!system_prj_delete_lock_held_by(conn))
        return;
    g_lock_held = false;
    if (dbase_delete_end()) {
        report_list_changed();
        return;
    }
    report_message(conn, SYSTEM_PRJ_MSG_DELETE_ABORTED, 1);
    log_error("system_prj_delete_lock: deletion aborted\n");
}

void system_prj_desc_set(int conn, int, const char *desc)
{
    if (desc == nullptr) {
        log_error("system_prj_desc_set: desc==NULL\n");
        return;
    }
    dbase_copy_text(my_sys->project_description, desc, SYS_DESCRIPTION_MAX);
    report_device(119, conn);
}

void system_prj_client_gone(int conn)
{
    if (!system_prj_delete_lock_held_by(conn))
        return;
    // Nothing of the deletions was confirmed to anyone: they are undone.
    g_lock_held = false;
    bool open = dbase_delete_open();
    dbase_delete_rollback();
    if (open)
        report_list_changed();
    log_error("system_prj_delete_lock: client #%d left holding the lock, its deletions rolled back\n", conn);
}

bool system_prj_delete_lock_held_by(int conn)
{
    return g_lock_held && g_lock_holder == conn;
}

void system_prj_reset()
{
    g_lock_held = false;
    g_lock_holder = 0;
}
