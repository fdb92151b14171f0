// The project commands: load, rename and lock, save, save as, new, the
// description, and deleting projects under the delete lock. Each checks its
// arguments (a refusal prints one line, tells the user where the user must
// know, and changes nothing), works on the database (dbase_project) and the
// live project fields, and raises the project marks the update pass turns
// into reports for every client: 100 (the project line, with the requesting
// connection), 119 (the description) and 105 (the project list changed).
//
// Lock values: 0 unlocked, -1 write-protected (overwritten only after the
// live lock value was set to 0 with command 100), any other value a code
// that a save or a deletion must carry.
#pragma once

// The value of command 106 that takes the delete lock.
constexpr int SYSTEM_PRJ_DELETE_LOCK = 41862539;

// User messages of the project commands.
constexpr const char *SYSTEM_PRJ_MSG_LOAD_ERROR = "Database\nload error.";
constexpr const char *SYSTEM_PRJ_MSG_SAVED = "Project saved.";
constexpr const char *SYSTEM_PRJ_MSG_LOCKED = "Cannot overwrite\na locked project.";
constexpr const char *SYSTEM_PRJ_MSG_WRONG_CODE = "Wrong lock code.\nProject not saved.";
constexpr const char *SYSTEM_PRJ_MSG_NAME_EXISTS = "Name exists.";
constexpr const char *SYSTEM_PRJ_MSG_NEW_NAME_EXISTS = "Given name\nalready exists.";
constexpr const char *SYSTEM_PRJ_MSG_DELETE_LOCKED = "Cannot delete\na locket project.";
constexpr const char *SYSTEM_PRJ_MSG_DELETE_ABORTED = "Deletion aborted\ndue intervention\nby another client.";
// A save that did not reach the database must not look like one that did.
constexpr const char *SYSTEM_PRJ_MSG_SAVE_ERROR = "Database\nsave error.";

// 99: project id >= 1 into the live state; its use counter grows.
void system_prj_load_project(int conn, int id);
// 100: new lock value and name of the live project (id >= 2); stored with
// the next save. The name may be the project's own, not another's.
void system_prj_stat_project(int conn, int id, int lock, const char *name);
// 101: the live state into the live project, under the lock rules.
void system_prj_save_project(int conn, int unlock);
// 102: id > 0 overwrites that unlocked project under its own name; id 0
// saves under name (a new project, or the unlocked one of that name).
void system_prj_saveas_project(int conn, int id, const char *name);
// 103: deletes an unlocked project other than the live one, for the holder
// of the delete lock; it becomes permanent when the lock is released.
void system_prj_delete_project(int conn, int id);
// 104: a new project called name, made from the template.
void system_prj_new_project(int conn, const char *name);
// 106: SYSTEM_PRJ_DELETE_LOCK takes the free lock; any value from the holder
// releases it, committing the deletions (or telling the holder that a load
// or save by someone rolled them back). Others are ignored.
void system_prj_delete_lock(int conn, int value);
// 119: the live project's description (at most 4096 characters; stored
// with the next save). The project id is not used.
void system_prj_desc_set(int conn, int id, const char *desc);

// A client went away: if it held the delete lock, the lock is released and
// its deletions, confirmed to no one, are rolled back.
void system_prj_client_gone(int conn);

// Whether conn holds the delete lock (tests).
bool system_prj_delete_lock_held_by(int conn);
// Frees the delete lock without touching the database (tests).
void system_prj_reset();
