// The database and the loudspeaker library through the real mirelserver:
// command lines over TCP, and the file looked into with Debian's sqlite3
// shell, as a service technician would.
#include <gtest/gtest.h>

#include <csignal>
#include <functional>

#include "dbase.h"
#include "platform.h"
#include "server_client.h"
#include "support/capture.h"
#include "support/process.h"
#include "support/sim_root.h"
#include "support/sqlite_shell.h"
#include "system.h"

namespace {

// The tables as a database from before the compressor time constants, the
// bus delay in metres and the project description had them.
constexpr const char *OLD_SCHEMA = R"(
CREATE TABLE project (id INTEGER PRIMARY KEY, readonly INTEGER NOT NULL DEFAULT 0,
    label TEXT NOT NULL DEFAULT '', use_counter INTEGER NOT NULL DEFAULT 0);
CREATE TABLE inputbus (id_project INTEGER NOT NULL, bus_id INTEGER NOT NULL, gain REAL, phase INTEGER,
    comp_thres REAL, comp_ratio REAL, comp_knee REAL, peak_overshoot REAL, eq_flags INTEGER, label TEXT,
    mute INTEGER, patch INTEGER, group_local INTEGER, group_net INTEGER);
CREATE TABLE geq (id_project INTEGER NOT NULL, bus_id INTEGER NOT NULL, g0 REAL, g1 REAL, g2 REAL, g3 REAL,
    g4 REAL, g5 REAL, g6 REAL, g7 REAL, g8 REAL, g9 REAL, g10 REAL, g11 REAL, g12 REAL, g13 REAL, g14 REAL,
    g15 REAL, g16 REAL, g17 REAL, g18 REAL, g19 REAL, g20 REAL, g21 REAL, g22 REAL, g23 REAL, g24 REAL,
    g25 REAL, g26 REAL, g27 REAL, g28 REAL, g29 REAL, g30 REAL);
CREATE TABLE buseq (id_project INTEGER NOT NULL, bus_id INTEGER NOT NULL, order_id INTEGER, bypass INTEGER,
    type INTEGER NOT NULL DEFAULT 0, freq REAL, q REAL, gain REAL, slope INTEGER, mode INTEGER);
CREATE TABLE output (id_project INTEGER NOT NULL, id_lsp INTEGER, out_id INTEGER NOT NULL, gain REAL,
    phase INTEGER, delay_m REAL, eq_flags INTEGER, label TEXT, mute INTEGER, bus_input INTEGER,
    group_local INTEGER, group_net INTEGER, group_lsp INTEGER);
CREATE TABLE outeq (id_project INTEGER NOT NULL, out_id INTEGER NOT NULL, order_id INTEGER, bypass INTEGER,
    type INTEGER NOT NULL DEFAULT 0, freq REAL, q REAL, gain REAL, slope INTEGER, mode INTEGER);
CREATE TABLE lsp (id INTEGER PRIMARY KEY, id_parent INTEGER NOT NULL DEFAULT 0,
    is_folder INTEGER NOT NULL DEFAULT 0, order_nr INTEGER NOT NULL DEFAULT 0,
    locked INTEGER NOT NULL DEFAULT 0, ways INTEGER NOT NULL DEFAULT 1, version INTEGER NOT NULL DEFAULT 1,
    label TEXT NOT NULL DEFAULT '', description TEXT DEFAULT '', config TEXT DEFAULT '');
CREATE TABLE dbinfo (db_version INTEGER NOT NULL DEFAULT 1);
INSERT INTO dbinfo DEFAULT VALUES;
INSERT INTO project (id, readonly, label) VALUES (1, -1, 'Old%20Template');
INSERT INTO inputbus (id_project, bus_id, gain, label) VALUES (1, 0, -4.5, 'Old%20Bus');
INSERT INTO lsp (id, label, config) VALUES (7, 'Old%20Box', 'fullrange');
)";

const char *const TABLES[] = {"project", "inputbus", "geq", "buseq", "output", "outeq", "lsp", "dbinfo"};

class LibraryServer : public ::testing::Test {
protected:
    // Writes a state file into the root before the server starts: the
    // defaults changed by edit.
    void write_state(const std::function<void(sys_file *)> &edit)
    {
        root_.activate();
        platform_init();
        FdCapture cap;
        ASSERT_EQ(system_init(), 0);
        edit(my_sys);
        system_save_state();
        cap.finish();
    }

    void start()
    {
        server_.start(root_.dir(), port_);
        client_ = std::make_unique<Client>(port_);
        ASSERT_GT(client_->id, 0);
        ASSERT_TRUE(client_->expect_line("98,0"));  // the end of the full dump
    }

    void restart()
    {
        client_.reset();
        server_.stop(SIGTERM);
        start();
    }

    std::string db(const std::string &sql) { return sqlite_shell(root_.path(DBASE_FILE), sql); }
    std::string cid() const { return std::to_string(client_->id); }
    Client &c() { return *client_; }

    // Sends a command and returns the id its report 70 names (-1 when none comes).
    int made_by(int cmd, const std::string &args)
    {
        c().command(cmd, args);
        std::string line = c().take_line("70," + cid() + ",");
        return line.empty() ? -1 : atoi(line.c_str() + line.rfind(',') + 1);
    }
    int new_entry(int folder, int parent) { return made_by(70, std::to_string(folder) + "," + std::to_string(parent)); }

    // Saves name, folder and lock of an entry and waits for its report.
    void save(int id, int folder, int new_lock, int unlock, const std::string &label)
    {
        c().command(64, std::to_string(id) + "," + std::to_string(folder) + ",1,0," + std::to_string(new_lock) + "," +
                            std::to_string(unlock) + "," + label);
    }

    std::string listing()
    {
        c().command(1026, "-1");
        return c().take_between("65,0,0", "66,0");
    }

    // Takes the user message line 25 of this client with the level and the encoded text.
    bool message(int level, const std::string &text)
    {
        std::string line = "25," + cid() + "," + std::to_string(level) + "," + text;
        return c().take_line(line) == line;
    }

    SimRoot root_;
    int port_ = free_port();
    ServerProcess server_;
    std::unique_ptr<Client> client_;
};

TEST_F(LibraryServer, AFreshDeviceMakesItsDatabaseWithTheStartUpStateAsProjectOne)
{
    write_state([](sys_file *s) {
        // Buses outside local link groups: the first cycles copy nothing over them.
        s->bus[2].gain = -12.5f;
        snprintf(s->bus[2].label, sizeof s->bus[2].label, "Kick%%20%%E9");
        s->bus[5].highpass = {80.0f, 2, 0, 0};
        s->out[6].delay_m = 3.25f;
    });
    start();

    EXPECT_EQ(db("SELECT db_version FROM dbinfo"), "1\n");
    EXPECT_EQ(db("SELECT id,id_parent,is_folder,order_nr,locked,ways,version,label,config FROM lsp"),
              "0|0|0|-1|2914336075|1|1|Direct%20Out|fullrange\n");
    EXPECT_EQ(db("SELECT id,readonly,label,use_counter FROM project"), "1|-1|UNNAMED|0\n");
    EXPECT_EQ(db("SELECT gain,label FROM inputbus WHERE id_project=1 AND bus_id=2"), "-12.5|Kick%20%E9\n");
    EXPECT_EQ(db("SELECT freq,slope,mode FROM buseq WHERE id_project=1 AND bus_id=5 AND type=1"), "80.0|24|1\n");
    EXPECT_EQ(db("SELECT delay_m,group_lsp,id_lsp,mute FROM output WHERE id_project=1 AND out_id=6"),
              "3.25|6|0|1\n");
    EXPECT_EQ(db("SELECT (SELECT count(*) FROM inputbus)||' '||(SELECT count(*) FROM geq)||' '||"
                 "(SELECT count(*) FROM buseq)||' '||(SELECT count(*) FROM output)||' '||"
                 "(SELECT count(*) FROM outeq)"),
              "8 8 64 8 56\n");
    // Every commit is durable: a write-ahead log synced on each commit.
    EXPECT_EQ(db("PRAGMA journal_mode"), "wal\n");
    EXPECT_EQ(server_.err().find("sql"), std::string::npos);
}

TEST_F(LibraryServer, AnOldDatabaseGetsTheNewColumnsOnceInTheOrderOfAFreshOne)
{
    EXPECT_EQ(db(OLD_SCHEMA), "");
    start();
    restart();  // a second start finds nothing more to do
    server_.stop(SIGTERM);
    std::string first = db(".dump");
    start();
    server_.stop(SIGTERM);
    EXPECT_EQ(db(".dump"), first);

    // Export files are made by the schema script and filled with SELECT *:
    // the columns must line up with the migrated tables.
    std::string fresh = root_.path("/tmp/fresh.db");
    EXPECT_EQ(sqlite_shell(fresh, ".read " + root_.path(DBASE_SCHEMA_SCRIPT)), "");
    for (const char *t : TABLES) {
        std::string columns = std::string("SELECT group_concat(name) FROM pragma_table_info('") + t + "')";
        EXPECT_EQ(db(columns), sqlite_shell(fresh, columns)) << t;
    }
    EXPECT_EQ(db("SELECT label,comp_attack IS NULL,delay_m IS NULL FROM inputbus"), "Old%20Bus|1|1\n");
    EXPECT_EQ(db("SELECT id,label,description IS NULL FROM project"), "1|Old%20Template|1\n");
    EXPECT_EQ(db("SELECT id,label FROM lsp ORDER BY order_nr"), "0|Direct%20Out\n7|Old%20Box\n");
}

TEST_F(LibraryServer, ANewerSchemaVersionIsWarnedAboutAndServed)
{
    EXPECT_EQ(sqlite_shell(root_.path(DBASE_FILE), ".read " + root_.path(DBASE_SCHEMA_SCRIPT) +
                                                       "\nINSERT INTO dbinfo VALUES (1);\nINSERT INTO dbinfo VALUES (2);"),
              "");
    start();
    EXPECT_TRUE(server_.wait_err("!!! NEED TO UPDATE DATABASE"));
    int id = new_entry(0, 0);
    EXPECT_GT(id, 0);
    EXPECT_EQ(db("SELECT label FROM lsp WHERE id=" + std::to_string(id)), "%28New%29\n");
}

TEST_F(LibraryServer, AnEmptyVersionTableWithTablesLeavesTheServerWithoutADatabase)
{
    EXPECT_EQ(db(".read " + root_.path(DBASE_SCHEMA_SCRIPT)), "");
    start();
    EXPECT_TRUE(server_.wait_err("sql_file: table project already exists\n"));

    c().command(70, "0,0");
    EXPECT_TRUE(server_.wait_err("dbase_new_lsp: no database\n"));
    EXPECT_EQ(listing(), "65,0,0\n66,0\n");
    EXPECT_TRUE(server_.wait_err("dbase_list_lsp: no database\n"));
    // Everything else goes on as before.
    c().command(2, "0,-3");
    EXPECT_TRUE(c().expect_line("2," + cid() + ",0,-3.0"));
    EXPECT_EQ(db("SELECT (SELECT count(*) FROM lsp)||' '||(SELECT count(*) FROM dbinfo)"), "0 0\n");
}

TEST_F(LibraryServer, ANewEntryUnderALoudspeakerLandsInItsFolder)
{
    start();
    int folder = new_entry(1, 0);
    int top = new_entry(0, folder);
    int next = new_entry(0, top);
    ASSERT_GT(next, top);
    EXPECT_EQ(db("SELECT id_parent FROM lsp WHERE id=" + std::to_string(next)), std::to_string(folder) + "\n");
    // The report carries the entry's own listing line.
    c().command(70, "1,424242");
    int lost = atoi(c().take_line("70," + cid() + ",").c_str() + 4 + cid().size());
    EXPECT_TRUE(c().expect_line("64," + cid() + "," + std::to_string(lost) + ",0,0,1,0,0,%28New%20Folder%29"));
    EXPECT_TRUE(server_.wait_err("dbase_new_lsp: parent does not exist\n"));
}

TEST_F(LibraryServer, RemovingAFolderStopsAtAnEntryInUseAndKeepsWhatWasRemoved)
{
    // Output 5 plays entry 3 (the third entry made below).
    write_state([](sys_file *s) { s->out[5].id_lsp = 3; });
    start();
    int folder = new_entry(1, 0);
    int first = new_entry(0, folder), used = new_entry(0, folder), last = new_entry(0, folder);
    ASSERT_EQ(used, 3);

    c().command(71, std::to_string(folder));
    EXPECT_TRUE(c().expect_lines({"25," + cid() + ",1,Item%20is%20in%20use%21"}));
    EXPECT_TRUE(server_.wait_err("dbase_remove_lsp: lsp is in use\n"));
    std::string tree = c().take_between("65," + cid() + ",0", "66," + cid());
    EXPECT_NE(tree.find("\n64," + cid() + "," + std::to_string(used) + ","), std::string::npos) << tree;
    EXPECT_EQ(tree.find("\n64," + cid() + "," + std::to_string(first) + ","), std::string::npos) << tree;
    EXPECT_EQ(db("SELECT group_concat(id) FROM lsp"), "0,1,3,4\n");

    c().command(71, std::to_string(last));
    EXPECT_TRUE(message(0, "Item%28s%29%20removed%0Asuccessfully."));
    c().command(71, "0");
    EXPECT_TRUE(message(1, "This%20item%20cannot%0Abe%20removed."));
    EXPECT_EQ(db("SELECT group_concat(id) FROM lsp"), "0,1,3\n");
}

TEST_F(LibraryServer, LocksCodesAndCopies)
{
    start();
    int id = new_entry(0, 0);
    std::string e = std::to_string(id);
    save(id, 0, 4711, 0, "Top");
    EXPECT_TRUE(c().expect_line("64," + cid() + "," + e + ",0,1,0,1,1,Top"));
    EXPECT_EQ(db("SELECT locked FROM lsp WHERE id=" + e), "4711\n");

    // A copy of a locked entry is unlocked and says it is a copy.
    int copy = made_by(117, e);
    EXPECT_TRUE(c().expect_line("64," + cid() + "," + std::to_string(copy) + ",0,1,0,0,1,Top%20(Copy)"));
    EXPECT_EQ(db("SELECT locked,label FROM lsp WHERE id=" + std::to_string(copy)), "0|Top%20(Copy)\n");

    // Without the code nothing changes; with it the entry is unlocked whatever lock was asked for.
    save(id, 0, 5, 1234, "Renamed");
    EXPECT_TRUE(message(1, "Wrong%20unlock%20code%21%20Cannot%20edit%20entry."));
    EXPECT_EQ(db("SELECT locked,label FROM lsp WHERE id=" + e), "4711|Top\n");
    save(id, 0, 5, 4711, "Renamed");
    EXPECT_TRUE(c().expect_line("64," + cid() + "," + e + ",0,1,0,0,1,Renamed"));
    EXPECT_EQ(db("SELECT locked FROM lsp WHERE id=" + e), "0\n");
    save(id, 0, 77, 0, "Renamed");
    EXPECT_TRUE(c().expect_line("64," + cid() + "," + e + ",0,1,0,1,1,Renamed"));
    EXPECT_EQ(db("SELECT locked FROM lsp WHERE id=" + e), "77\n");

    // A locked entry's text is read with a code and an empty text; storing needs the code.
    c().command(67, e + ",0,WAY%20HIGH");
    EXPECT_TRUE(server_.wait_err("system_lsp_prop: par==NULL\n"));
    c().command(67, e + ",77,WAY%20HIGH%0AGAIN%20-3%2C5");
    EXPECT_TRUE(c().expect_line("67," + cid() + "," + e + ",0,WAY%20HIGH%0AGAIN%20-3%2C5%0A"));
    EXPECT_EQ(db("SELECT hex(config) FROM lsp WHERE id=" + e), "57415920484947480A4741494E202D332C350A\n");
    c().command(67, e + ",1");
    EXPECT_TRUE(c().expect_line("67," + cid() + "," + e + ",0,WAY%20HIGH%0AGAIN%20-3%2C5%0A"));
    // Entry 0's code cannot even be sent.
    c().command(64, "0,0,1,0,0,-1380631221,Mine");
    EXPECT_TRUE(message(1, "Wrong%20unlock%20code%21%20Cannot%20edit%20entry."));
}

TEST_F(LibraryServer, TheTreeIsListedByOrderNumberThenLabelWithoutLockCodes)
{
    start();
    int zeta = new_entry(0, 0), alpha = new_entry(1, 0), mid = new_entry(0, alpha), last = new_entry(0, 0);
    save(zeta, 0, 918273, 0, "Zeta");
    save(alpha, 0, 0, 0, "Alpha");
    save(mid, alpha, 555, 0, "Mid");
    save(last, 0, 0, 0, "Aardvark");
    EXPECT_TRUE(c().expect_line("64," + cid() + "," + std::to_string(last) + ",0,1,0,0,1,Aardvark"));
    EXPECT_EQ(db("UPDATE lsp SET order_nr=1 WHERE id=" + std::to_string(last)), "");

    // Saved with version 1; a folder has no ways.
    auto row = [](int id, int parent, int folder, int locked, const char *label) {
        return "64,0," + std::to_string(id) + "," + std::to_string(parent) + ",1," + std::to_string(folder) + "," +
               std::to_string(locked) + "," + (folder ? "0" : "1") + "," + label + "\n";
    };
    std::string want = "65,0,0\n64,0,0,0,1,0,1,1,Direct%20Out\n" + row(alpha, 0, 1, 0, "Alpha") +
                       row(mid, alpha, 0, 1, "Mid") + row(zeta, 0, 0, 1, "Zeta") + row(last, 0, 0, 0, "Aardvark") +
                       "66,0\n";
    EXPECT_EQ(listing(), want);
    c().command(1031, std::to_string(zeta) + ",0");
    std::string block = c().take_between("65,0,1", "67,0," + std::to_string(zeta) + ",0,fullrange");
    EXPECT_NE(block, "");
    c().command(1031, std::to_string(alpha) + ",0");
    EXPECT_TRUE(c().expect_line("69,0," + std::to_string(alpha) + ",0,0"));
    for (const std::string &text : {want, block})
        for (const char *code : {"918273", "555", "2914336075"})
            EXPECT_EQ(text.find(code), std::string::npos) << code;
}

TEST_F(LibraryServer, AFolderCannotMoveIntoItselfOrBelowItself)
{
    start();
    int outer = new_entry(1, 0), inner = new_entry(1, outer), speaker = new_entry(0, inner);
    std::string o = std::to_string(outer);
    const std::string refusal = "Cannot%20move%20a%20folder%0Ainto%20itself.";

    c().command(118, o + "," + std::to_string(inner));
    EXPECT_TRUE(message(1, refusal));
    EXPECT_TRUE(server_.wait_err("dbase_move_lsp: target is inside the entry\n"));
    c().command(118, o + "," + std::to_string(speaker));  // a loudspeaker as target means its folder
    EXPECT_TRUE(message(1, refusal));
    save(outer, inner, 0, 0, "Outer");  // saving with a folder moves too
    EXPECT_TRUE(message(1, refusal));
    EXPECT_TRUE(server_.wait_err("dbase_save_lsp: target is inside the entry\n"));
    c().command(118, o + "," + o);
    EXPECT_TRUE(server_.wait_err("system_lsp_move: lsp_id and targetfolder_id must be different\n"));
    EXPECT_EQ(db("SELECT id_parent FROM lsp WHERE id=" + o), "0\n");

    // The other way round is an ordinary move.
    c().command(118, std::to_string(inner) + ",0");
    c().command(118, o + "," + std::to_string(inner));
    EXPECT_TRUE(c().expect_line("64," + cid() + "," + o + "," + std::to_string(inner) + ",0,1,0,0,%28New%20Folder%29"));
    EXPECT_EQ(db("SELECT id_parent FROM lsp WHERE id=" + o), std::to_string(inner) + "\n");
}

}  // namespace
