// The database modules inside the test process, on a fresh database in a
// fresh simulation root per test: the statement wrappers, running without
// a database, project rows, the listing's bound, the library report queue
// and tree walks over a damaged table.
#include <regex>
#include <sqlite3.h>

#include "dbase.h"
#include "dbase_lsp.h"
#include "dbase_project.h"
#include "server_state.h"
#include "system_lsp.h"

namespace {

class Dbase : public ServerState {
protected:
    void SetUp() override
    {
        ServerState::SetUp();
        errors_of([] { dbase_init(); });
        ASSERT_NE(dbase_db(), nullptr);
        system_lsp_reports_clear();
    }
    void TearDown() override
    {
        dbase_close();
        system_lsp_reports_clear();
        ServerState::TearDown();
    }
};

using DbaseMissing = ServerState;

int64_t one_int(const std::string &sql)
{
    sql_statement st(dbase_db(), sql.c_str());
    return st.row() ? st.column_int(0) : -999;
}

double one_double(const std::string &sql)
{
    sql_statement st(dbase_db(), sql.c_str());
    return st.row() ? st.column_double(0) : -999.0;
}

std::string one_text(const std::string &sql)
{
    sql_statement st(dbase_db(), sql.c_str());
    return st.row() ? std::string(st.column_text(0)) : "<no row>";
}

std::string taken_reports(size_t size = 65536)
{
    return reply_of([](report_writer *w) { system_lsp_reports_take(w); }, size);
}

TEST_F(Dbase, WrappersNameTheFailingStatementAndItsValues)
{
    sqlite3 *db = dbase_db();
    EXPECT_EQ(errors_of([&] { EXPECT_EQ(sql_query(db, "SELECT 1"), 0); }), "");
    EXPECT_EQ(errors_of([&] { EXPECT_EQ(sql_query(db, "SELEC 1"), 1); }),
              "sql_query: near \"SELEC\": syntax error (SELEC 1)\n");

    std::string missing = root_.path("/var/lib/none.sql");
    EXPECT_EQ(errors_of([&] { EXPECT_EQ(sql_exec_file(db, missing.c_str()), 1); }),
              "sql_exec_file: could not open file '" + missing + "' (2)\n");
    EXPECT_EQ(errors_of([&] { EXPECT_EQ(sql_file(db, missing.c_str()), 1); }),
              "sql_exec_file: could not open file '" + missing + "' (2)\n");
    std::string script = root_.path("/tmp/t.sql");
    write_file(script, "CREATE TABLE t (a INTEGER NOT NULL);\nCREATE TABLE t (b);\n");
    EXPECT_EQ(errors_of([&] { EXPECT_EQ(sql_file(db, script.c_str()), 1); }), "sql_file: table t already exists\n");

    EXPECT_EQ(errors_of([&] {
                  sql_query_i1(db, "INSERT INTO t (a) VALUES (?)", 5);
                  sql_query_i2(db, "INSERT INTO t (a) VALUES (?+?)", 2, 3);
                  sql_query_i3(db, "INSERT INTO t (a) VALUES (?+?+?)", 1, 1, 3);
              }),
              "");
    EXPECT_EQ(one_int("SELECT count(*) FROM t WHERE a=5"), 3);
    EXPECT_EQ(errors_of([&] {
                  sql_query_i1(db, "INSERT INTO nope VALUES (?)", 7);
                  sql_query_i2(db, "INSERT INTO t (a) VALUES (NULLIF(?,?))", 3, 3);
                  sql_query_i3(db, "INSERT INTO t (a) VALUES (NULLIF(?,?+?))", 4, 1, 3);
              }),
              "sql_query_i1: no such table: nope (val1=7, query=INSERT INTO nope VALUES (?))\n"
              "sql_query_i2: NOT NULL constraint failed: t.a (val1=3, val2=3, "
              "query=INSERT INTO t (a) VALUES (NULLIF(?,?)))\n"
              "sql_query_i3: NOT NULL constraint failed: t.a (val1=4, val2=1, val3=3, "
              "query=INSERT INTO t (a) VALUES (NULLIF(?,?+?)))\n");
}

// A missing schema script, and a file that is no database: the server runs
// without one and every library operation says so and changes nothing.
TEST_F(DbaseMissing, WithoutADatabaseEveryOperationFailsQuietly)
{
    struct cause {
        const char *name;
        std::function<void()> make;
        const char *line;
    } causes[] = {
        {"no schema script", [&] { std::remove(root_.path(DBASE_SCHEMA_SCRIPT).c_str()); },
         "sql_exec_file: could not open file '"},
        {"not a database", [&] { write_file(root_.path(DBASE_FILE), std::string(4096, 'x')); },
         "sql_file: file is not a database\n"},
    };
    for (const cause &c : causes) {
        SCOPED_TRACE(c.name);
        std::remove(root_.path(DBASE_FILE).c_str());
        write_file(root_.path(DBASE_SCHEMA_SCRIPT), read_file(MIREL_SOURCE_DIR "/system/init.sql"));
        c.make();
        EXPECT_NE(errors_of([] { dbase_init(); }).find(c.line), std::string::npos);
        ASSERT_EQ(dbase_db(), nullptr);

        EXPECT_EQ(errors_of([] { system_lsp_new(1, 0, 0); }), "dbase_new_lsp: no database\n");
        EXPECT_EQ(errors_of([] { system_lsp_remove(1, 3); }), "dbase_remove_lsp: no database\n");
        EXPECT_EQ(errors_of([] { system_lsp_duplicate(1, 3); }), "dbase_duplicate_lsp: no database\n");
        EXPECT_EQ(errors_of([] { system_lsp_move(1, 3, 4); }), "dbase_move_lsp: no database\n");
        EXPECT_EQ(errors_of([] { system_lsp_save(1, 3, 0, 1, 0, 0, "A"); }), "dbase_save_lsp: no database\n");
        EXPECT_EQ(errors_of([] { system_lsp_prop(1, 3, 0, "WAY HIGH"); }),
                  "dbase_save_lsp_prop: no database\nsystem_lsp_prop: par==NULL\n");
        EXPECT_FALSE(system_lsp_reports_pending());
        std::string listing;
        EXPECT_EQ(errors_of([&] { listing = reply_of([](report_writer *w) { dbase_list_lsp(w, -1, 0); }); }),
                  "dbase_list_lsp: no database\n");
        EXPECT_EQ(listing, "65,0,0\n66,0\n");

        int live = my_sys->project_id;
        EXPECT_EQ(errors_of([] { EXPECT_EQ(dbase_save_project(0), -1); }), "");
        EXPECT_EQ(my_sys->project_id, live);
    }
}

TEST_F(Dbase, SavingWritesTheLiveStateIntoTheProjectRows)
{
    EXPECT_EQ(my_sys->project_id, 1);  // the template made at the first start
    sys_bus &b = my_sys->bus[2];
    b.gain = -7.5f;
    snprintf(b.label, sizeof b.label, "Kick%%20In");
    b.geq[30] = 4.5f;
    b.peq[4] = {1234.0f, 2.5f, -3.0f, 1};
    b.highpass = {90.0f, 4, 0, 0};
    sys_output &o = my_sys->out[6];
    o.delay_m = 2.5f;
    o.id_lsp = 17;
    o.peq[3] = {8000.0f, 0.7f, 2.0f, 0};
    o.highpass = {40.0f, 2, 1, 0};
    o.shelf[1] = {6000.0f, 6.0f, 0, 0};

    EXPECT_EQ(errors_of([] { dbase_save_project(0); }), "");
    ASSERT_EQ(my_sys->project_id, 2);
    EXPECT_EQ(one_text("SELECT label FROM inputbus WHERE id_project=2 AND bus_id=2"), "Kick%20In");
    EXPECT_EQ(one_double("SELECT gain FROM inputbus WHERE id_project=2 AND bus_id=2"), -7.5);
    EXPECT_EQ(one_double("SELECT g30 FROM geq WHERE id_project=2 AND bus_id=2"), 4.5);
    EXPECT_EQ(one_text("SELECT freq||','||q||','||gain||','||bypass FROM buseq "
                       "WHERE id_project=2 AND bus_id=2 AND type=0 AND order_id=4"),
              "1234.0,2.5,-3.0,1");
    EXPECT_EQ(one_text("SELECT freq||','||slope||','||mode FROM buseq WHERE id_project=2 AND bus_id=2 AND type=1"),
              "90.0,12,1");
    EXPECT_EQ(one_text("SELECT delay_m||','||id_lsp||','||group_lsp FROM output WHERE id_project=2 AND out_id=6"),
              "2.5,17,6");
    EXPECT_EQ(one_text("SELECT freq||','||gain FROM outeq WHERE id_project=2 AND out_id=6 AND type=0 AND order_id=3"),
              "8000.0,2.0");
    EXPECT_EQ(one_text("SELECT slope||','||mode||','||bypass FROM outeq WHERE id_project=2 AND out_id=6 AND type=1"),
              "24,1,1");
    EXPECT_EQ(one_text("SELECT gain||','||slope FROM outeq WHERE id_project=2 AND out_id=6 AND type=3"), "6.0,12");
    // The template keeps the state the device started with.
    EXPECT_EQ(one_text("SELECT label FROM inputbus WHERE id_project=1 AND bus_id=2"), "A+B%20Mono");

    // Saving again writes into the same rows; a negative id writes nothing.
    b.gain = 3.0f;
    EXPECT_EQ(errors_of([] { dbase_save_project(2); }), "");
    EXPECT_EQ(one_double("SELECT gain FROM inputbus WHERE id_project=2 AND bus_id=2"), 3.0);
    EXPECT_EQ(errors_of([] { EXPECT_EQ(dbase_save_project(-1), 0); }), "");
    EXPECT_EQ(one_double("SELECT gain FROM inputbus WHERE id_project=1 AND bus_id=2"), -6.0);
    EXPECT_EQ(one_int("SELECT count(*) FROM project"), 2);
    EXPECT_EQ(one_int("SELECT count(*) FROM buseq WHERE id_project=2"), 8 * 8);
    EXPECT_EQ(one_int("SELECT count(*) FROM outeq WHERE id_project=2"), 8 * 7);
}

TEST(DbaseHighpass, KindsSurviveTheRowFormAndStrangePairsReadAsOff)
{
    for (int kind = 0; kind <= 4; kind++) {
        dbase_hpf_form f = dbase_hpf_to_row(kind);
        EXPECT_EQ(dbase_hpf_from_row(f.slope, f.mode), kind);
    }
    EXPECT_EQ(dbase_hpf_from_row(18, 0), 0);
    EXPECT_EQ(dbase_hpf_from_row(24, 2), 0);
    EXPECT_EQ(dbase_hpf_to_row(7).slope, 0);
}

TEST_F(Dbase, AListingThatDoesNotFitIsCutAtALineAndStillEnds)
{
    for (int i = 0; i < 30; i++)
        ASSERT_EQ(dbase_new_lsp(0, 0), i + 1);
    std::string reply;
    std::string errors = errors_of([&] { reply = reply_of([](report_writer *w) { dbase_list_lsp(w, -1, 3); }, 400); });
    std::vector<std::string> lines = lines_of(reply);
    ASSERT_GE(lines.size(), 3u);
    EXPECT_EQ(lines.front(), "65,3,0");
    EXPECT_EQ(lines.back(), "66,3");
    std::regex row("64,3,[0-9]+,0,1,0,[01],1,(Direct%20Out|%28New%29)");
    for (size_t i = 1; i + 1 < lines.size(); i++)
        EXPECT_TRUE(std::regex_match(lines[i], row)) << lines[i];
    EXPECT_EQ(reply.back(), '\n');
    EXPECT_EQ(errors, "dbase_list_lsp: listing cut after " + std::to_string(lines.size() - 2) +
                          " entries (reply full)\n");
}

TEST_F(Dbase, LibraryReportsLeaveInCommandOrderAsWholeLines)
{
    system_lsp_new(2, 1, 0);
    system_lsp_new(3, 0, 1);
    errors_of([] { system_lsp_remove(2, 0); });  // refused before the database: nothing queued
    std::string all = "70,2,1\n65,2,1\n64,2,1,0,0,1,0,0,%28New%20Folder%29\n66,2\n"
                      "70,3,2\n65,3,1\n64,3,2,1,1,0,0,1,%28New%29\n66,3\n";
    // A stream with room for a little more than one line takes whole lines only.
    std::string first = taken_reports(20);
    EXPECT_EQ(first, "70,2,1\n65,2,1\n");
    EXPECT_TRUE(system_lsp_reports_pending());
    EXPECT_EQ(first + taken_reports(), all);
    EXPECT_FALSE(system_lsp_reports_pending());
}

TEST_F(Dbase, ReportsThatOutgrowTheirRoomMakeWayForTheWholeTree)
{
    ASSERT_EQ(dbase_new_lsp(0, 0), 1);
    std::string text = "#" + std::string(3999, 'x');  // a long comment: nothing to correct
    std::string errors = errors_of([&] {
        for (int i = 0; i < 20; i++)
            system_lsp_prop(4, 1, 0, text.c_str());
    });
    EXPECT_EQ(errors, "system_lsp: library reports waiting too long, the whole list replaces them\n");
    std::string sent = taken_reports();
    // The whole tree, then the blocks of the commands after it; the text
    // has no VERSION line, so the stored version is 0.
    EXPECT_EQ(sent.rfind("65,4,0\n64,4,0,0,1,0,1,1,Direct%20Out\n64,4,1,0,0,0,0,1,%28New%29\n66,4\n", 0), 0u);
    EXPECT_NE(sent.find("67,4,1,0,%23xxx"), std::string::npos);
    EXPECT_LT(sent.size(), SYSTEM_LSP_REPORTS_SIZE);
}

// Parents that form a cycle (a damaged file): every walk ends.
TEST_F(Dbase, TreeWalksEndOnADamagedTableWithACycle)
{
    int a = dbase_new_lsp(1, 0);
    int b = dbase_new_lsp(1, a);
    int c = dbase_new_lsp(0, 0);
    sql_query_i2(dbase_db(), "UPDATE lsp SET id_parent=? WHERE id=?", b, a);

    EXPECT_EQ(errors_of([&] { EXPECT_EQ(dbase_move_lsp(1, c, a), 0); }), "");
    EXPECT_EQ(one_int("SELECT id_parent FROM lsp WHERE id=" + std::to_string(c)), a);
    EXPECT_EQ(errors_of([&] { EXPECT_EQ(dbase_move_lsp(1, a, b), 1); }),
              "dbase_move_lsp: target is inside the entry\n");
    EXPECT_EQ(errors_of([&] { EXPECT_EQ(dbase_remove_lsp(1, a), 0); }), "");
    EXPECT_EQ(one_int("SELECT count(*) FROM lsp"), 1);  // entry 0 alone
}

}  // namespace
