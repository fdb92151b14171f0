#include "dbase_usb.h"

#include <set>
#include <sqlite3.h>
#include <string>
#include <unistd.h>
#include <unordered_map>
#include <vector>

#include "common/db_text.h"
#include "dbase.h"
#include "dbase_project.h"
#include "log.h"
#include "platform.h"
#include "report_format.h"
#include "usb.h"

namespace {

// Room kept in a reply for the list's end line.
constexpr size_t LIST_END_ROOM = 16;

// A folder path: the labels (as stored, encoded) from the top folder down
// to the entry. Kept as a list, so a label that holds a slash cannot pose
// as two folders.
using lsp_path = std::vector<std::string>;

// How a walk up the parent chain ended.
enum class path_walk { found, missing, loop };

// Statements inside a transfer's transaction run through the wrappers
// (sql_query_i1..i3): a failure is logged and does not stop the transfer.

// Columns an older export file lacks; failures (the column exists) are expected.
void upgrade_import_columns(sqlite3 *db)
{
    for (const char *sql : {"ALTER TABLE import.inputbus ADD comp_attack REAL",
                            "ALTER TABLE import.inputbus ADD comp_release REAL",
                            "ALTER TABLE import.inputbus ADD peak_release REAL",
                            "ALTER TABLE import.inputbus ADD delay_m REAL",
                            "ALTER TABLE import.project ADD description TEXT"})
        sqlite3_exec(db, sql, nullptr, nullptr, nullptr);
}

// The path is bound, never pasted: a file name on the stick is foreign text.
bool attach(sqlite3 *db, const std::string &path, const char *sql)
{
    sql_statement st(db, sql);
    st.bind_text(1, path);
    if (st.step() == SQLITE_DONE)
        return true;
    log_error("dbase_usb: %s (%s)\n", st.error(), path.c_str());
    return false;
}

// ---- export ----

// The entry after its parent folders, up to entry 0 (the parents first, so
// that the file's tree is whole at every row). seen stops a damaged tree
// whose parents form a cycle.
void export_lsp(sqlite3 *db, int id, std::set<int> *seen)
{
    if (!seen->insert(id).second)
        return;
    if (id != 0) {
        sql_statement parent(db, "SELECT id_parent FROM lsp WHERE id=? LIMIT 1");
        parent.bind_int(1, id);
        export_lsp(db, parent.row() ? (int)parent.column_int(0) : 0, seen);
    }
    sql_query_i1(db, "INSERT OR IGNORE INTO export.lsp SELECT * FROM lsp WHERE id=? LIMIT 1", id);
}

void export_rows(sqlite3 *db, int id)
{
    std::vector<int> entries;
    {
        sql_statement st(db, "SELECT DISTINCT id_lsp FROM output WHERE id_project=?;");
        st.bind_int(1, id);
        while (st.row())
            entries.push_back((int)st.column_int(0));
    }
    std::set<int> seen;
    for (int e : entries)
        export_lsp(db, e, &seen);
    sql_query_i1(db, "INSERT INTO export.project SELECT * FROM project WHERE id=? LIMIT 1", id);
    sql_query_i1(db, "INSERT INTO export.inputbus SELECT * FROM inputbus WHERE id_project=?", id);
    sql_query_i1(db, "INSERT INTO export.output SELECT * FROM output WHERE id_project=?", id);
    sql_query_i1(db, "INSERT INTO export.geq SELECT * FROM geq WHERE id_project=?", id);
    sql_query_i1(db, "INSERT INTO export.buseq SELECT * FROM buseq WHERE id_project=?", id);
    sql_query_i1(db, "INSERT INTO export.outeq SELECT * FROM outeq WHERE id_project=?", id);
}

// A fresh export file made by the schema script with its version row.
int create_export_file(const std::string &path)
{
    sqlite3 *raw = nullptr;
    int rc = sqlite3_open_v2(path.c_str(), &raw, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr);
    sql_db file(raw);
    if (rc != SQLITE_OK) {
        log_error("sql: can't open database: %s\n", raw != nullptr ? sqlite3_errmsg(raw) : "out of memory");
        return DBASE_USB_NO_FILE;
    }
    // One transaction: one sync of the stick instead of one per table.
    if (sql_query(raw, "BEGIN") != 0 || sql_file(raw, platform_path(DBASE_SCHEMA_SCRIPT).c_str()) != 0)
        return DBASE_USB_SCHEMA;
    sql_query(raw, "INSERT INTO dbinfo DEFAULT VALUES");
    return sql_query(raw, "COMMIT") == 0 ? DBASE_USB_DONE : DBASE_USB_SCHEMA;
}

// The file name of a project: its label as the stick's file system takes
// it. A name the listing would not show (empty, or hidden behind a leading
// dot) gets the project's number instead.
std::string export_name(const char *label, int id)
{
    std::string decoded = db_text_decode(std::string_view(label));
    std::string name = sanitize_filename(decoded);
    log_output("sanitize_filename: '%s'-->'%s'\n", decoded.c_str(), name.c_str());
    size_t first = name.find_first_not_of('.');
    name.erase(0, first == std::string::npos ? name.size() : first);
    if (name.empty())
        name = "project" + std::to_string(id);
    return name;
}

// ---- import ----

// Walks up from entry id with sql ("SELECT id_parent,label FROM ... WHERE
// id=?") and gives the path. The entry itself must have a label.
path_walk file_path(sqlite3 *db, const char *sql, int id, lsp_path *path)
{
    path->clear();
    sql_statement st(db, sql);
    std::set<int> seen;
    for (int at = id;;) {
        if (!seen.insert(at).second)
            return path_walk::loop;
        st.reset();
        st.bind_int(1, at);
        if (!st.row())
            return path_walk::missing;
        path->insert(path->begin(), std::string(st.column_text(1)));
        if (at == id && path->front().empty())
            return path_walk::missing;
        at = (int)st.column_int(0);
        if (at == 0)
            return path_walk::found;
    }
}

// The local tree, read once per output: ids in table order and each
// entry's parent and label.
struct local_tree {
    struct node {
        int id, parent;
        std::string label;
    };
    std::vector<node> nodes;
    std::unordered_map<int, size_t> index;

    explicit local_tree(sqlite3 *db)
    {
        sql_statement st(db, "SELECT id,id_parent,label FROM lsp");
        while (st.row()) {
            index[(int)st.column_int(0)] = nodes.size();
            nodes.push_back({(int)st.column_int(0), (int)st.column_int(1), std::string(st.column_text(2))});
        }
    }

    // Whether entry at index i has the path; a cycle or a missing parent is
    // no match.
    bool has_path(size_t i, const lsp_path &path) const
    {
        for (size_t k = path.size(); k-- > 0;) {
            const node &n = nodes[i];
            if (n.label != path[k])
                return false;
            if (n.parent == 0)
                return k == 0;
            auto p = index.find(n.parent);
            if (p == index.end() || k == 0)
                return false;  // also ends a cycle: the path is finite
            i = p->second;
        }
        return false;
    }

    // The first entry in table order with this path, or -1.
    int find(const lsp_path &path) const
    {
        for (size_t i = 0; i < nodes.size(); i++)
            if (has_path(i, path))
                return nodes[i].id;
        return -1;
    }
};

// Puts entry id into the folders of path (all but its last label),
// creating those that do not exist.
void place_lsp(sqlite3 *db, int id, const lsp_path &path)
{
    int parent = 0;
    for (size_t k = 0; k + 1 < path.size(); k++) {
        sql_statement find(db, "SELECT id FROM lsp WHERE label=?1 AND id_parent=?2 AND is_folder=1 LIMIT 1");
        find.bind_text(1, path[k]);
        find.bind_int(2, parent);
        if (find.row()) {
            parent = (int)find.column_int(0);
            continue;
        }
        sql_statement make(db, "INSERT INTO lsp (label, id_parent, is_folder) VALUES (?1, ?2, 1)");
        make.bind_text(1, path[k]);
        make.bind_int(2, parent);
        if (make.step() != SQLITE_DONE) {
            log_error("dbase_usb_import_project: %s (folder %s)\n", make.error(), path[k].c_str());
            return;
        }
        parent = (int)sqlite3_last_insert_rowid(db);
    }
    if (path.size() > 1)
        sql_query_i2(db, "UPDATE lsp SET id_parent=?1 WHERE id=?2", parent, id);
}

// The local entry for the file's entry with this path: found, replaced by a
// higher version, or made. Entry 0 is built in and never replaced.
int merge_lsp(sqlite3 *db, int file_id, const lsp_path &path)
{
    int local = local_tree(db).find(path);
    if (local < 0) {
        sql_statement insert(db, "INSERT INTO lsp (is_folder,order_nr,locked,ways,version,label,description,config) "
                                 "SELECT is_folder,order_nr,locked,ways,version,label,description,config "
                                 "FROM import.lsp WHERE id=?1");
        insert.bind_int(1, file_id);
        local = 0;  // entry 0 plays what could not be copied
        if (insert.step() == SQLITE_DONE && sqlite3_changes(db) == 1)
            local = (int)sqlite3_last_insert_rowid(db);
        else
            log_error("dbase_usb_import_project: entry %d: %s\n", file_id, insert.error());
        if (local != 0)
            place_lsp(db, local, path);
        return local;
    }
    if (local == 0)
        return local;
    sql_statement newer(db, "SELECT want.version > have.version FROM lsp have, import.lsp want "
                            "WHERE have.id=?1 AND want.id=?2");
    newer.bind_int(1, local);
    newer.bind_int(2, file_id);
    bool replace = newer.row() && newer.column_int(0) != 0;
    newer.reset();
    if (replace) {
        sql_query_i2(db,
            "INSERT OR REPLACE INTO lsp (id,is_folder,order_nr,locked,ways,version,label,description,config) "
            "SELECT ?1 as id,is_folder,order_nr,locked,ways,version,label,description,config FROM import.lsp "
            "WHERE id=?2",
            local, file_id);
        place_lsp(db, local, path);
    }
    return local;
}

// Merges the entries of every output row and copies the row for project p.
// false when the file's folders form a loop (the file is broken).
bool import_outputs(sqlite3 *db, int p)
{
    std::vector<std::pair<int, int>> rows;  // ROWID, id_lsp
    {
        sql_statement st(db, "SELECT ROWID,id_lsp FROM import.output");
        while (st.row())
            rows.emplace_back((int)st.column_int(0), (int)st.column_int(1));
    }
    for (auto [rowid, file_id] : rows) {
        lsp_path path;
        path_walk walk = file_path(db, "SELECT id_parent,label FROM import.lsp WHERE id=? LIMIT 1", file_id, &path);
        if (walk == path_walk::loop) {
            log_error("dbase_usb_import_project: the file's folders of entry %d form a loop\n", file_id);
            return false;
        }
        if (walk == path_walk::missing)
            continue;
        int local = merge_lsp(db, file_id, path);
        sql_query_i3(db,
            "INSERT INTO output (id_project,id_lsp,out_id,gain,phase,delay_m,eq_flags,label,mute,bus_input,"
            "group_local,group_net,group_lsp) SELECT ?1 AS id_project,?2 AS id_lsp,out_id,gain,phase,delay_m,"
            "eq_flags,label,mute,bus_input,group_local,group_net,group_lsp FROM import.output WHERE ROWID=?3",
            p, local, rowid);
    }
    return true;
}

void import_rows(sqlite3 *db, int p)
{
    sql_query_i1(db,
        "INSERT INTO inputbus (id_project,bus_id,gain,phase,delay_m,comp_thres,comp_ratio,comp_knee,"
        "peak_overshoot,comp_attack,comp_release,peak_release,eq_flags,label,mute,patch,group_local,group_net) "
        "SELECT ?1 AS id_project,bus_id,gain,phase,delay_m,comp_thres,comp_ratio,comp_knee,peak_overshoot,"
        "comp_attack,comp_release,peak_release,eq_flags,label,mute,patch,group_local,group_net FROM import.inputbus",
        p);
    sql_query_i1(db,
        "INSERT INTO buseq (id_project,bus_id,order_id,bypass,type,freq,q,gain,slope,mode) SELECT ?1 AS "
        "id_project,bus_id,order_id,bypass,type,freq,q,gain,slope,mode FROM import.buseq",
        p);
    sql_query_i1(db,
        "INSERT INTO outeq (id_project,out_id,order_id,bypass,type,freq,q,gain,slope,mode) SELECT ?1 AS "
        "id_project,out_id,order_id,bypass,type,freq,q,gain,slope,mode FROM import.outeq",
        p);
    sql_query_i1(db,
        "INSERT INTO geq (id_project,bus_id,g0,g1,g2,g3,g4,g5,g6,g7,g8,g9,g10,g11,g12,g13,g14,g15,g16,g17,g18,g19,"
        "g20,g21,g22,g23,g24,g25,g26,g27,g28,g29,g30) SELECT ?1 AS id_project,bus_id,g0,g1,g2,g3,g4,g5,g6,g7,g8,g9,"
        "g10,g11,g12,g13,g14,g15,g16,g17,g18,g19,g20,g21,g22,g23,g24,g25,g26,g27,g28,g29,g30 FROM import.geq",
        p);
}

// A project file of our version with a project in it.
bool readable_project_file(const std::string &path)
{
    sqlite3 *raw = nullptr;
    int rc = sqlite3_open_v2(path.c_str(), &raw, SQLITE_OPEN_READONLY, nullptr);
    sql_db file(raw);
    if (rc != SQLITE_OK)
        return false;
    sql_statement version(raw, "SELECT db_version FROM dbinfo ORDER BY db_version DESC LIMIT 1");
    if (!version.row() || version.column_int(0) != DBASE_VERSION)
        return false;
    sql_statement project(raw, "SELECT id FROM project");
    return project.row();
}

// The new project and everything it holds, inside the caller's transaction.
int import_file(sqlite3 *db, const std::string &label)
{
    upgrade_import_columns(db);
    sql_statement st(db, "INSERT INTO project (readonly,label,description) SELECT readonly, ?1 AS label, "
                         "description FROM import.project LIMIT 1");
    st.bind_text(1, label);
    if (st.step() != SQLITE_DONE || sqlite3_changes(db) != 1) {
        log_error("file_prj_import#1: %s (val1=%s)\n", st.error(), label.c_str());
        return DBASE_USB_BAD_FILE;
    }
    int p = (int)sqlite3_last_insert_rowid(db);
    if (!import_outputs(db, p))
        return DBASE_USB_BAD_FILE;
    import_rows(db, p);
    return DBASE_USB_DONE;
}

}  // namespace

int dbase_usb_import_file(const std::string &path)
{
    sqlite3 *db = dbase_db_for_write("dbase_usb_import_project");
    if (db == nullptr)
        return DBASE_USB_ATTACH;
    char label[DBASE_PROJECT_LABEL_SIZE];
    db_text_encode(label, sizeof label, usb_file_base(path));
    if (!readable_project_file(path)) {
        log_error("dbase_usb_import_project: %s is no project file of version %d\n", path.c_str(), DBASE_VERSION);
        return DBASE_USB_BAD_FILE;
    }
    if (!attach(db, path, "ATTACH DATABASE ? AS import"))
        return DBASE_USB_ATTACH;
    int result = DBASE_USB_ATTACH;
    if (sql_query(db, "BEGIN") == 0) {
        result = import_file(db, label);
        if (result == DBASE_USB_DONE && sql_query(db, "COMMIT") != 0)
            result = DBASE_USB_BAD_FILE;
        if (result != DBASE_USB_DONE)
            sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
    }
    sql_query(db, "DETACH DATABASE import");
    return result;
}

namespace {

void send_list(report_writer *w, const std::vector<std::string> &files, int c)
{
    int number = 0;
    for (const std::string &path : files) {
        std::string name = db_text_encode(usb_file_base(path));
        char head[64];
        int n = snprintf(head, sizeof head, "%d,%d,%d,%d,", 109, c, number + 1, 0);
        if ((size_t)n + name.size() + 1 + LIST_END_ROOM > dbase_reply_room(w)) {
            log_error("dbase_usb_import_project: list cut after %d files (reply full)\n", number);
            break;
        }
        report_format_append(w, "%s%s\n", head, name.c_str());
        number++;
    }
    report_format_append(w, "%d,%d\n", 111, c);
}

}  // namespace

int dbase_usb_export_project(int id)
{
    // ATTACH cannot run inside the delete transaction: it is rolled back first.
    sqlite3 *db = dbase_db_for_write("dbase_usb_export_project");
    char label[DBASE_PROJECT_LABEL_SIZE];
    if (db == nullptr || dbase_project_label(id, label) != 0)
        return DBASE_USB_NO_PROJECT;
    if (!usb_mount())
        return DBASE_USB_NO_STICK;
    usb_mount_guard mounted;

    std::string path = usb_file_path(export_name(label, id));
    log_output("ext: '%s'\n", path.c_str());
    unlink(path.c_str());
    usb_sync();
    int made = create_export_file(path);
    if (made != DBASE_USB_DONE) {
        unlink(path.c_str());  // a half-made file would only be listed for import
        return made;
    }
    int result = DBASE_USB_ATTACH;
    if (attach(db, path, "ATTACH DATABASE ? AS export")) {
        result = DBASE_USB_NO_FILE;  // unless the rows are committed to it
        if (sql_query(db, "BEGIN") == 0) {
            export_rows(db, id);
            if (sql_query(db, "COMMIT") == 0)
                result = DBASE_USB_DONE;
            else
                sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
        }
        sql_query(db, "DETACH DATABASE export");
    }
    if (result != DBASE_USB_DONE)
        unlink(path.c_str());
    return result;
}

int dbase_usb_import_project(report_writer *w, int n, int c)
{
    sqlite3 *db = dbase_db_for_write("dbase_usb_import_project");
    if (db == nullptr)
        return DBASE_USB_ATTACH;
    if (!usb_mount())
        return DBASE_USB_NO_STICK;
    usb_mount_guard mounted;
    if (n == 0)
        report_format_append(w, "%d,%d,%d\n", 110, c, 0);
    std::vector<std::string> files;
    if (!usb_list_files(&files)) {
        log_error("dbase_usb_import_project: could not list the files\n");
        return DBASE_USB_NO_FILE;
    }
    if (n == 0) {
        send_list(w, files, c);
        return DBASE_USB_DONE;
    }
    if ((size_t)n > files.size()) {
        log_error("dbase_usb_import_project: no file %d on the stick (%zu files)\n", n, files.size());
        return DBASE_USB_NO_FILE;
    }
    return dbase_usb_import_file(files[(size_t)n - 1]);
}
