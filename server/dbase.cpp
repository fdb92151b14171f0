#include "dbase.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include "dbase_lsp.h"
#include "dbase_project.h"
#include "log.h"
#include "platform.h"
#include "report.h"
#include "report_format.h"
#include "system.h"

namespace {

// Opened once by dbase_init; stays nullptr when opening or creating failed.
sqlite3 *g_db;
// A client holds the delete lock and its transaction is open.
bool g_delete_open;

// Reads the whole file into text; false with errno set when it cannot.
bool read_whole_file(const std::string &path, std::string *text)
{
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    struct stat st;
    if (fstat(fd, &st) != 0) {
        int e = errno;
        close(fd);
        errno = e;
        return false;
    }
    text->resize((size_t)st.st_size);
    size_t n = platform_read_fd(fd, text->data(), text->size());
    close(fd);
    text->resize(n);
    return true;
}

// Durability on a power cut: every commit must be on the flash when it
// returns. WAL with synchronous FULL syncs the log once per commit, where
// the rollback journal needs several syncs. A file system that cannot map
// the WAL index keeps the rollback journal, then with EXTRA, which also
// syncs the folder after the journal is deleted, so a committed change can
// never come back as a hot journal and be rolled back.
void set_durability(sqlite3 *db)
{
    sql_statement mode(db, "PRAGMA journal_mode=WAL");
    if (mode.row() && mode.column_text(0) == "wal") {
        sql_query(db, "PRAGMA synchronous=FULL");
        return;
    }
    log_error("dbase_init: no WAL journal (%s), keeping the rollback journal\n", mode.error());
    sql_query(db, "PRAGMA synchronous=EXTRA");
}

// A database without a version row (also without a dbinfo table) is new.
// The script and the version row form one transaction, so a power cut
// during the first start cannot leave a half-made schema that the next
// start would refuse for good.
bool create_schema(sqlite3 *db)
{
    if (sql_query(db, "BEGIN") != 0)
        return false;
    if (sql_file(db, platform_path(DBASE_SCHEMA_SCRIPT).c_str()) != 0) {
        sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
        return false;
    }
    sql_query(db, "INSERT INTO dbinfo DEFAULT VALUES");
    return sql_query(db, "COMMIT") == 0;
}

bool has_column(sqlite3 *db, const char *pragma, const char *column)
{
    sql_statement info(db, pragma);
    while (info.row())
        if (info.column_text(1) == column)
            return true;
    return false;
}

// Columns that older databases lack. Failures are expected (a column that
// exists already) and ignored, so they are not logged.
void migrate(sqlite3 *db)
{
    bool attack = has_column(db, "PRAGMA table_info(inputbus)", "comp_attack");
    bool release = has_column(db, "PRAGMA table_info(inputbus)", "comp_release");
    bool delay = has_column(db, "PRAGMA table_info(inputbus)", "delay_m");
    bool description = has_column(db, "PRAGMA table_info(project)", "description");
    auto run = [db](const char *sql) { sqlite3_exec(db, sql, nullptr, nullptr, nullptr); };
    if (!attack)
        run("ALTER TABLE inputbus ADD comp_attack REAL");
    if (!release)
        run("ALTER TABLE inputbus ADD comp_release REAL");
    run("ALTER TABLE inputbus ADD peak_release REAL");
    if (!description)
        run("ALTER TABLE project ADD description TEXT");
    if (!delay)
        run("ALTER TABLE inputbus ADD delay_m REAL");
}

// The newest schema version; false when there is none (no row, no table).
bool schema_version(sqlite3 *db, int64_t *v)
{
    sql_statement version(db, "SELECT db_version FROM dbinfo ORDER BY db_version DESC LIMIT 1");
    if (!version.row())
        return false;
    *v = version.column_int(0);
    return true;
}

bool has_project(sqlite3 *db)
{
    sql_statement any(db, "SELECT id FROM project LIMIT 1");
    return any.row();
}

void make_direct_entry(sqlite3 *db)
{
    sql_statement find(db, "SELECT id FROM lsp WHERE id=0 LIMIT 1");
    if (find.row())
        return;
    sql_statement insert(db, "INSERT INTO lsp (id,id_parent,locked,label,config,version,ways,order_nr) "
                             "VALUES (0,0,?,?,?,1,1,-1)");
    insert.bind_int(1, DBASE_LSP_DIRECT_LOCK);
    insert.bind_text(2, DBASE_LSP_DIRECT_LABEL);
    insert.bind_text(3, DBASE_LSP_DIRECT_CONFIG);
    if (insert.step() != SQLITE_DONE)
        log_error("dbase_init: entry 0: %s\n", insert.error());
}

template <typename... V>
void query_ints(sqlite3 *db, const char *sql, const char *log_format, V... values)
{
    sql_statement st(db, sql);
    int index = 1;
    (st.bind_int(index++, values), ...);
    if (st.step() != SQLITE_DONE)
        log_error(log_format, st.error(), values..., sql);
}

}  // namespace

// ---- connection and statement holders ----

void sql_db_closer::operator()(sqlite3 *db) const
{
    sqlite3_close_v2(db);
}

sql_statement::sql_statement(sqlite3 *db, const char *sql) : db_(db)
{
    if (db_ != nullptr && sqlite3_prepare_v2(db_, sql, -1, &stmt_, nullptr) != SQLITE_OK) {
        sqlite3_finalize(stmt_);
        stmt_ = nullptr;
    }
}

sql_statement::~sql_statement()
{
    sqlite3_finalize(stmt_);
}

const char *sql_statement::error() const
{
    return db_ != nullptr ? sqlite3_errmsg(db_) : "no database";
}

void sql_statement::bind_int(int index, int64_t v)
{
    sqlite3_bind_int64(stmt_, index, v);
}

void sql_statement::bind_double(int index, double v)
{
    sqlite3_bind_double(stmt_, index, v);
}

void sql_statement::bind_text(int index, std::string_view text)
{
    sqlite3_bind_text(stmt_, index, text.data(), (int)text.size(), SQLITE_TRANSIENT);
}

int sql_statement::parameter_count() const
{
    return sqlite3_bind_parameter_count(stmt_);
}

int sql_statement::step()
{
    return stmt_ != nullptr ? sqlite3_step(stmt_) : SQLITE_MISUSE;
}

bool sql_statement::row()
{
    return step() == SQLITE_ROW;
}

void sql_statement::reset()
{
    sqlite3_reset(stmt_);
}

int64_t sql_statement::column_int(int col) const
{
    return sqlite3_column_int64(stmt_, col);
}

bool sql_statement::column_is_null(int col) const
{
    return sqlite3_column_type(stmt_, col) == SQLITE_NULL;
}

double sql_statement::column_double(int col) const
{
    return sqlite3_column_double(stmt_, col);
}

std::string_view sql_statement::column_text(int col) const
{
    const unsigned char *p = sqlite3_column_text(stmt_, col);
    if (p == nullptr)
        return {};
    return std::string_view((const char *)p, (size_t)sqlite3_column_bytes(stmt_, col));
}

// ---- wrappers ----

int sql_query(sqlite3 *db, const char *sql)
{
    char *err = nullptr;
    if (sqlite3_exec(db, sql, nullptr, nullptr, &err) == SQLITE_OK)
        return 0;
    log_error("sql_query: %s (%s)\n", err != nullptr ? err : sqlite3_errmsg(db), sql);
    sqlite3_free(err);
    return 1;
}

int sql_exec_file(sqlite3 *db, const char *path, std::string *errmsg)
{
    std::string script;
    if (!read_whole_file(path, &script)) {
        log_error("sql_exec_file: could not open file '%s' (%d)\n", path, errno);
        return 1;
    }
    char *err = nullptr;
    int rc = sqlite3_exec(db, script.c_str(), nullptr, nullptr, &err);
    if (rc != SQLITE_OK && errmsg != nullptr)
        *errmsg = err != nullptr ? err : sqlite3_errmsg(db);
    sqlite3_free(err);
    return rc;
}

int sql_file(sqlite3 *db, const char *path)
{
    std::string err;
    if (sql_exec_file(db, path, &err) == SQLITE_OK)
        return 0;
    // A file that could not be read has said so itself.
    if (!err.empty())
        log_error("sql_file: %s\n", err.c_str());
    return 1;
}

void sql_query_i1(sqlite3 *db, const char *sql, int v1)
{
    query_ints(db, sql, "sql_query_i1: %s (val1=%d, query=%s)\n", v1);
}

void sql_query_i2(sqlite3 *db, const char *sql, int v1, int v2)
{
    query_ints(db, sql, "sql_query_i2: %s (val1=%d, val2=%d, query=%s)\n", v1, v2);
}

void sql_query_i3(sqlite3 *db, const char *sql, int v1, int v2, int v3)
{
    query_ints(db, sql, "sql_query_i3: %s (val1=%d, val2=%d, val3=%d, query=%s)\n", v1, v2, v3);
}

int64_t dbase_lookup_int(const char *sql, int64_t key, int64_t fallback)
{
    sql_statement st(g_db, sql);
    if (st.parameter_count() > 0)
        st.bind_int(1, key);
    return st.row() ? st.column_int(0) : fallback;
}

// ---- opening ----

sqlite3 *dbase_db()
{
    return g_db;
}

sqlite3 *dbase_db_or_log(const char *operation)
{
    if (g_db == nullptr)
        log_error("%s: no database\n", operation);
    return g_db;
}

sqlite3 *dbase_db_for_write(const char *operation)
{
    dbase_delete_rollback();
    return dbase_db_or_log(operation);
}

void dbase_close()
{
    sqlite3_close(g_db);
    g_db = nullptr;
    g_delete_open = false;
}

size_t dbase_reply_room(const report_writer *w)
{
    return w->len + 1 < w->size ? w->size - 1 - w->len : 0;
}

// ---- the delete transaction ----

void dbase_delete_begin()
{
    if (g_db == nullptr || g_delete_open)
        return;
    g_delete_open = sql_query(g_db, "BEGIN") == 0;
}

int dbase_delete_end()
{
    if (!g_delete_open)
        return 0;
    g_delete_open = false;
    if (sql_query(g_db, "COMMIT") == 0)
        return 1;
    // A commit that failed (disk full, I/O error) leaves nothing half done.
    sqlite3_exec(g_db, "ROLLBACK", nullptr, nullptr, nullptr);
    return 0;
}

void dbase_delete_rollback()
{
    if (!g_delete_open)
        return;
    g_delete_open = false;
    sql_query(g_db, "ROLLBACK");
}

bool dbase_delete_open()
{
    return g_delete_open;
}

int dbase_init()
{
    if (g_db != nullptr)
        return 0;
    sqlite3 *raw = nullptr;
    std::string path = platform_path(DBASE_FILE);
    int rc = sqlite3_open_v2(path.c_str(), &raw, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr);
    sql_db db(raw);
    if (rc != SQLITE_OK) {
        log_error("sql: can't open database: %s\n", raw != nullptr ? sqlite3_errmsg(raw) : "out of memory");
        return 0;
    }
    sqlite3_busy_timeout(raw, DBASE_BUSY_TIMEOUT_MS);
    sql_query(raw, "PRAGMA foreign_keys = ON");
    set_durability(raw);

    int64_t version = 0;
    if (!schema_version(raw, &version)) {
        if (!create_schema(raw))
            return 0;
    } else if (version != DBASE_VERSION) {
        log_error("!!! NEED TO UPDATE DATABASE");
    }
    migrate(raw);
    make_direct_entry(raw);

    g_db = db.release();
    // A fresh database keeps the state the device started with as project
    // 1, the template of every new project.
    if (!has_project(g_db)) {
        dbase_save_project(1);
        report_device(100, REPORT_CONN_SERVER);
    }
    // The project reports compare the stored lock without asking the database.
    report_project_stored_lock_set(dbase_project_lock(my_sys->project_id));
    return 0;
}
