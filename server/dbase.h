// The database of projects and of the loudspeaker library: one SQLite file,
// opened once at start-up and kept open for the life of the process.
//
// This module owns the connection, the statement holder every database
// module uses, the thin statement wrappers with their diagnostic lines, and
// opening, creation and migration. No other module opens a database.
// Everything here runs under the command lock, so the connection needs no
// lock of its own.
#pragma once
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

struct sqlite3;
struct sqlite3_stmt;
struct report_writer;

constexpr const char *DBASE_FILE = "/mnt/userdata/db_current.db";
constexpr const char *DBASE_SCHEMA_SCRIPT = "/var/lib/init.sql";
constexpr int DBASE_VERSION = 1;

// How long a statement waits for a lock another connection (the sqlite3
// shell of a service technician) holds, before it fails.
constexpr int DBASE_BUSY_TIMEOUT_MS = 250;

// Opens "/mnt/userdata/db_current.db" (created when missing), creates the
// schema in a new file, adds the columns an old file lacks, makes entry 0
// and project 1. Always returns 0: without a database the server runs on
// and every database operation fails quietly.
int dbase_init();

// The connection, nullptr when there is none.
sqlite3 *dbase_db();

// The connection for an operation; nullptr after "<operation>: no database".
sqlite3 *dbase_db_or_log(const char *operation);

// The same for an operation that writes outside project loads and saves.
// A delete transaction still open (a client holding the delete lock) is
// rolled back first, exactly as a load or save does: otherwise the write
// would join the deleting client's transaction, and a later rollback of it
// would take back a change that was already reported to everyone.
sqlite3 *dbase_db_for_write(const char *operation);

// ---- the delete transaction ----
// Spans the commands of one client between taking and releasing the delete
// lock. Its project deletions become permanent only at the commit.

// "BEGIN" and the flag set (nothing without a database).
void dbase_delete_begin();
// 1 when the transaction was still open: "COMMIT", flag cleared; else 0.
int dbase_delete_end();
// "ROLLBACK" and the flag cleared, when the transaction is open.
void dbase_delete_rollback();
bool dbase_delete_open();

// Space left in a reply for more text, its terminating NUL kept.
size_t dbase_reply_room(const report_writer *w);

// Closes the connection (tests and benchmarks; the server never does).
void dbase_close();

// A connection owned by one scope: closed on every path out of it (once
// its statements are finalized) unless released.
struct sql_db_closer {
    void operator()(sqlite3 *db) const;
};
using sql_db = std::unique_ptr<sqlite3, sql_db_closer>;

// Runs one SQL text without parameters: 0, or 1 after "sql_query: ..." with
// SQLite's message and the text.
int sql_query(sqlite3 *db, const char *sql);
// Runs the whole file as one SQL script: SQLite's result code, or 1 after
// "sql_exec_file: could not open file ..." when it cannot be read. errmsg
// (may be nullptr) receives SQLite's message of a failing script.
int sql_exec_file(sqlite3 *db, const char *path, std::string *errmsg = nullptr);
// sql_exec_file with "sql_file: ..." on a failing script: 0 or 1.
int sql_file(sqlite3 *db, const char *path);
// Prepare, bind the integers to parameters 1..3, step once, finalize. A step
// that does not complete is logged with the values; callers never see it.
void sql_query_i1(sqlite3 *db, const char *sql, int v1);
void sql_query_i2(sqlite3 *db, const char *sql, int v1, int v2);
void sql_query_i3(sqlite3 *db, const char *sql, int v1, int v2, int v3);

// A prepared statement owned by one scope: finalized on every path out of
// it. A statement that did not prepare is not ok(); stepping it gives
// SQLITE_MISUSE and reading it gives 0 and empty texts, so a caller checks
// ok() once and needs no other guard. Texts are always bound as parameters.
class sql_statement {
public:
    sql_statement(sqlite3 *db, const char *sql);
    ~sql_statement();
    sql_statement(const sql_statement &) = delete;
    sql_statement &operator=(const sql_statement &) = delete;

    bool ok() const { return stmt_ != nullptr; }
    // SQLite's message for the last failure on the connection.
    const char *error() const;

    int parameter_count() const;
    void bind_int(int index, int64_t v);
    void bind_double(int index, double v);
    void bind_text(int index, std::string_view text);
    // SQLite's result code: SQLITE_ROW, SQLITE_DONE or an error.
    int step();
    // step() == SQLITE_ROW.
    bool row();
    // Ready to run again with new bindings.
    void reset();

    int64_t column_int(int col) const;
    bool column_is_null(int col) const;
    double column_double(int col) const;
    // The text of a column; empty for NULL.
    std::string_view column_text(int col) const;

private:
    sqlite3 *db_;
    sqlite3_stmt *stmt_ = nullptr;
};

// One-value lookups: the first column of the first row, or fallback when
// there is no row (or no database).
int64_t dbase_lookup_int(const char *sql, int64_t key, int64_t fallback);
