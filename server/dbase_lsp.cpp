#include "dbase_lsp.h"

#include <cstdio>
#include <sqlite3.h>
#include <unordered_set>
#include <vector>

#include "common/db_text.h"
#include "dbase.h"
#include "log.h"
#include "report.h"
#include "system.h"

namespace {

// "66,<connection>\n" always fits in this.
constexpr size_t LIST_END_ROOM = 16;

struct place {
    bool found;
    int is_folder;
    int id_parent;
};

place find_place(sqlite3 *db, int id)
{
    sql_statement st(db, "SELECT is_folder,id_parent FROM lsp WHERE id=? LIMIT 1");
    st.bind_int(1, id);
    if (!st.row())
        return {false, 0, 0};
    return {true, (int)st.column_int(0), (int)st.column_int(1)};
}

// Whether node lies in the subtree of entry (node itself included). The
// walk up the parents stops after as many steps as there are rows, so a
// damaged table whose parents form a cycle cannot hold the server.
bool inside(sqlite3 *db, int node, int entry)
{
    int64_t steps = dbase_lookup_int("SELECT count(*) FROM lsp", 0, 0);
    sql_statement parent(db, "SELECT id_parent FROM lsp WHERE id=? LIMIT 1");
    for (int64_t i = 0; i <= steps; i++) {
        if (node == entry)
            return true;
        if (node == 0)
            return false;
        parent.reset();
        parent.bind_int(1, node);
        if (!parent.row())
            return false;
        node = (int)parent.column_int(0);
    }
    return false;
}

// Refuses a move of entry into target when that would hang it below itself.
bool refuse_cycle(sqlite3 *db, const char *operation, int conn, int target, int entry)
{
    if (!inside(db, target, entry))
        return false;
    log_error("%s: target is inside the entry\n", operation);
    report_message(conn, DBASE_LSP_MSG_INTO_ITSELF, 1);
    return true;
}

bool unlocked(sqlite3 *db, int id)
{
    sql_statement st(db, "SELECT locked FROM lsp WHERE id=? AND locked=0 LIMIT 1");
    st.bind_int(1, id);
    return st.row();
}

// Depth first, children before their folder. visited keeps a damaged table
// whose parents form a cycle from sending the removal round for ever.
int remove_tree(sqlite3 *db, int conn, int id, std::unordered_set<int> *visited)
{
    visited->insert(id);
    if (dbase_lsp_in_use(id)) {
        log_error("dbase_remove_lsp: lsp is in use\n");
        report_message(conn, DBASE_LSP_MSG_IN_USE, 1);
        return 1;
    }
    if (!unlocked(db, id)) {
        log_error("dbase_remove_lsp: lsp is locked\n");
        report_message(conn, DBASE_LSP_MSG_LOCKED, 1);
        return 1;
    }
    // Collected first: the rows change while the children are removed.
    std::vector<int> children;
    {
        sql_statement st(db, "SELECT id FROM lsp WHERE id_parent=?");
        st.bind_int(1, id);
        while (st.row()) {
            int child = (int)st.column_int(0);
            if (child != id && !visited->count(child))
                children.push_back(child);
        }
    }
    for (int child : children) {
        if (visited->count(child))
            continue;
        int r = remove_tree(db, conn, child, visited);
        if (r != 0)
            return r;
    }
    sql_statement del(db, "DELETE FROM lsp WHERE id=?");
    del.bind_int(1, id);
    if (del.step() != SQLITE_DONE)
        log_error("dbase_remove_lsp: %s\n", del.error());
    return 0;
}

int64_t last_insert(sqlite3 *db)
{
    return sqlite3_last_insert_rowid(db);
}

}  // namespace

bool dbase_lsp_in_use(int id)
{
    for (const sys_output &o : my_sys->out)
        if (o.id_lsp == id)
            return true;
    return false;
}

int dbase_new_lsp(int folder, int parent)
{
    sqlite3 *db = dbase_db_for_write("dbase_new_lsp");
    if (db == nullptr)
        return -1;
    if (parent != 0) {
        place p = find_place(db, parent);
        if (!p.found) {
            log_error("dbase_new_lsp: parent does not exist\n");
            parent = 0;
        } else if (!p.is_folder) {
            parent = p.id_parent;
        }
    }
    const char *sql = folder ? "INSERT INTO lsp (id_parent,is_folder,label,config,version,ways) "
                               "VALUES (?,?,'%28New%20Folder%29','',0,0)"
                             : "INSERT INTO lsp (id_parent,is_folder,label,config,version,ways) "
                               "VALUES (?,?,'%28New%29','fullrange',1,1)";
    sql_statement st(db, sql);
    st.bind_int(1, parent);
    st.bind_int(2, folder ? 1 : 0);
    if (st.step() != SQLITE_DONE) {
        log_error("dbase_new_lsp: %s\n", st.error());
        return -1;
    }
    return (int)last_insert(db);
}

int dbase_remove_lsp(int conn, int id)
{
    sqlite3 *db = dbase_db_for_write("dbase_remove_lsp");
    if (db == nullptr)
        return -1;
    std::unordered_set<int> visited;
    return remove_tree(db, conn, id, &visited);
}

int dbase_duplicate_lsp(int id)
{
    sqlite3 *db = dbase_db_for_write("dbase_duplicate_lsp");
    if (db == nullptr)
        return -1;
    sql_statement st(db, "INSERT INTO lsp (id_parent,is_folder,label,config,version,ways,locked) "
                         "SELECT id_parent,is_folder,label||'%20(Copy)',config,version,ways,'0' "
                         "FROM lsp WHERE id=? LIMIT 1");
    st.bind_int(1, id);
    if (st.step() != SQLITE_DONE) {
        log_error("dbase_duplicate_lsp: %s\n", st.error());
        return -1;
    }
    // Nothing copied: the last insert id would name some earlier entry.
    if (sqlite3_changes(db) == 0) {
        log_error("dbase_duplicate_lsp: id does not exist\n");
        return -1;
    }
    return (int)last_insert(db);
}

int dbase_move_lsp(int conn, int id, int folder)
{
    sqlite3 *db = dbase_db_for_write("dbase_move_lsp");
    if (db == nullptr)
        return -1;
    if (id == folder)
        return 0;
    if (!find_place(db, id).found) {
        log_error("dbase_move_lsp: id does not exist\n");
        return -1;
    }
    if (!unlocked(db, id)) {
        log_error("dbase_move_lsp: lsp is locked\n");
        report_message(conn, DBASE_LSP_MSG_LOCKED, 1);
        return 1;
    }
    // As with new entries and saves: a loudspeaker as target means its folder.
    place target = find_place(db, folder);
    if (!target.found) {
        log_error("dbase_move_lsp: target does not exist\n");
        return 1;
    }
    if (folder != 0 && !target.is_folder)
        folder = target.id_parent;
    if (refuse_cycle(db, "dbase_move_lsp", conn, folder, id))
        return 1;
    sql_statement st(db, "UPDATE lsp SET id_parent=? WHERE id=?");
    st.bind_int(1, folder);
    st.bind_int(2, id);
    if (st.step() != SQLITE_DONE)
        log_error("dbase_move_lsp: %s\n", st.error());
    return 0;
}

int dbase_save_lsp(int conn, int id, int folder, int version, int new_lock, int unlock, const char *label)
{
    sqlite3 *db = dbase_db_for_write("dbase_save_lsp");
    if (db == nullptr)
        return -1;
    int64_t lock = 0;
    int old_folder = 0;
    {
        sql_statement st(db, "SELECT locked,id_parent FROM lsp WHERE id=? LIMIT 1");
        st.bind_int(1, id);
        if (st.row()) {
            lock = st.column_int(0);
            old_folder = (int)st.column_int(1);
        } else {
            log_error("dbase_save_lsp: id does not exist\n");
        }
    }
    if (lock != 0 && lock != unlock) {
        log_error("dbase_save_lsp: wrong unlock code\n");
        report_message(conn, DBASE_LSP_MSG_WRONG_CODE, 1);
        return old_folder != folder;
    }
    place target = find_place(db, folder);
    if (!target.found) {
        log_error("dbase_save_lsp: parent does not exist\n");
        return old_folder != folder;
    }
    if (folder != 0 && !target.is_folder)
        folder = target.id_parent;
    // Saving with a new folder moves the entry: the same cycle rule holds.
    if (folder != old_folder && refuse_cycle(db, "dbase_save_lsp", conn, folder, id))
        return 1;
    // The right code unlocks a locked entry; an unlocked one takes the new lock.
    int64_t lock_after = lock != 0 ? 0 : new_lock;
    sql_statement st(db, "UPDATE lsp SET id_parent=?,version=?,locked=?,label=? WHERE id=?");
    st.bind_int(1, folder);
    st.bind_int(2, version);
    st.bind_int(3, lock_after);
    st.bind_text(4, label != nullptr ? label : "");
    st.bind_int(5, id);
    if (st.step() != SQLITE_DONE)
        log_error("dbase_save_lsp: %s\n", st.error());
    return old_folder != folder;
}

int dbase_save_lsp_prop(int id, int unlock, int ways, int version, std::string_view text)
{
    sqlite3 *db = dbase_db_for_write("dbase_save_lsp_prop");
    if (db == nullptr)
        return -1;
    int64_t lock = 0;
    {
        sql_statement st(db, "SELECT locked FROM lsp WHERE id=? LIMIT 1");
        st.bind_int(1, id);
        if (!st.row()) {
            log_error("dbase_save_lsp_prop: could not find id\n");
            return -1;
        }
        lock = st.column_int(0);
    }
    if (lock != 0 && lock != unlock)
        return 1;
    sql_statement st(db, "UPDATE lsp SET ways=?,config=?,version=? WHERE id=?");
    st.bind_int(1, ways);
    st.bind_text(2, text);
    st.bind_int(3, version);
    st.bind_int(4, id);
    if (st.step() != SQLITE_DONE)
        log_error("dbase_save_lsp_prop: %s\n", st.error());
    return 0;
}

std::optional<lspconfig_entry> dbase_get_lsp(int id)
{
    sql_statement st(dbase_db(), "SELECT id,id_parent,is_folder,order_nr,locked,ways,version,label,description,config "
                                 "FROM lsp WHERE id=? LIMIT 1");
    st.bind_int(1, id);
    if (!st.row())
        return std::nullopt;
    lspconfig_entry e;
    e.id = (int)st.column_int(0);
    e.id_parent = (int)st.column_int(1);
    e.is_folder = (int)st.column_int(2);
    e.order_nr = (int)st.column_int(3);
    e.locked = st.column_int(4);
    e.ways = (int)st.column_int(5);
    e.version = (int)st.column_int(6);
    e.label = st.column_text(7);
    e.description = st.column_text(8);
    e.config = st.column_text(9);
    return e;
}

void dbase_list_lsp(report_writer *w, int id, int c)
{
    report_format_append(w, "%d,%d,%d\n", 65, c, id == -1 ? 0 : 1);
    sqlite3 *db = dbase_db_or_log("dbase_list_lsp");
    const char *sql = id == -1 ? "SELECT id,id_parent,version,is_folder,locked,ways,label FROM lsp "
                                 "ORDER BY order_nr,label ASC LIMIT ?"
                               : "SELECT id,id_parent,version,is_folder,locked,ways,label FROM lsp "
                                 "WHERE id=? LIMIT 1";
    sql_statement st(db, sql);
    st.bind_int(1, id == -1 ? DBASE_LSP_LIST_LIMIT : id);
    int sent = 0;
    while (st.row()) {
        // The lock code itself never leaves the server: only whether there is one.
        char head[128];
        int n = snprintf(head, sizeof head, "%d,%d,%d,%d,%d,%d,%d,%d,", 64, c, (int)st.column_int(0),
                         (int)st.column_int(1), (int)st.column_int(2), (int)st.column_int(3),
                         st.column_int(4) != 0 ? 1 : 0, (int)st.column_int(5));
        std::string_view label = st.column_text(6);
        // Whole lines only, and the end line must still fit.
        if ((size_t)n + label.size() + 1 + LIST_END_ROOM > dbase_reply_room(w)) {
            log_error("dbase_list_lsp: listing cut after %d entries (reply full)\n", sent);
            break;
        }
        report_format_append(w, "%s%.*s\n", head, (int)label.size(), label.data());
        sent++;
    }
    report_format_append(w, "%d,%d\n", 66, c);
}

int dbase_lsp_config(report_writer *w, int id, int c)
{
    if (id == -1)
        return 0;
    report_format_append(w, "%d,%d,%d,0,", 67, c, id);
    int folder = 0;
    sql_statement st(dbase_db(), "SELECT is_folder,config FROM lsp WHERE id=? LIMIT 1");
    st.bind_int(1, id);
    if (st.row()) {
        folder = (int)st.column_int(0);
        // One byte stays free for the line end, so even a cut text ends its line.
        size_t space = dbase_reply_room(w);
        if (space > 1)
            w->len += db_text_encode(w->buf + w->len, space, st.column_text(1));
    }
    report_format_append(w, "\n");
    return folder;
}
