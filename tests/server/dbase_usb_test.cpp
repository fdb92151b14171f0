// USB export and import inside the test process: a real database in a
// fresh simulation root, the stick as the folder DIR/dev/sda1 mounted by the
// shims, and every file looked into with Debian's sqlite3 shell.
#include <filesystem>
#include <sqlite3.h>

#include "dbase.h"
#include "dbase_project.h"
#include "dbase_usb.h"
#include "server_state.h"
#include "support/sqlite_shell.h"
#include "usb.h"

namespace fs = std::filesystem;

namespace {

// The tables a transfer may touch, as the shell prints them.
const char *const MAIN_STATE = "PRAGMA integrity_check;\n"
                               "SELECT count(*) FROM project; SELECT count(*) FROM inputbus;\n"
                               "SELECT count(*) FROM geq; SELECT count(*) FROM buseq;\n"
                               "SELECT count(*) FROM output; SELECT count(*) FROM outeq;\n"
                               "SELECT * FROM lsp ORDER BY id; SELECT * FROM project ORDER BY id;";

// Rows of one project without their first column (the project id).
std::string rows_of(const std::string &db_file, const std::string &table, const std::string &where)
{
    std::string out = sqlite_shell(db_file, "SELECT * FROM " + table + " " + where + " ORDER BY rowid;");
    std::string kept;
    std::istringstream in(out);
    for (std::string l; std::getline(in, l);)
        kept += l.substr(l.find('|') + 1) + "\n";
    return kept;
}

// The server's own diagnostics, without what the tools print (umount of a
// stick that is not mounted).
template <class F>
std::string diagnostics_of(F f)
{
    std::istringstream in(errors_of(f));
    std::string kept;
    for (std::string l; std::getline(in, l);)
        if (l.rfind("<no prefix>", 0) != 0)
            kept += l + "\n";
    return kept;
}

class DbaseUsb : public ServerState {
protected:
    void SetUp() override
    {
        ServerState::SetUp();
        errors_of([] { dbase_init(); });
        ASSERT_NE(dbase_db(), nullptr);
        fs::create_directory(stick_);
        usb_set_retry_pause_ms(0);
        // A library with a loudspeaker two folders deep, one at the top and
        // a folder no output uses; project 2 plays the first on outputs 0
        // and 1, the second on output 2.
        exec("INSERT INTO lsp (id,id_parent,is_folder,label,version,ways,config,locked) VALUES "
             "(10,0,1,'Brand',0,0,'',0),(11,10,1,'Series%202',0,0,'',0),"
             "(12,11,0,'Top',3,1,'fullrange',4711),(13,0,0,'Sub',1,1,'fullrange',0),(14,0,1,'Unused',0,0,'',0)");
        errors_of([] { dbase_save_project(0); });
        exec("UPDATE project SET readonly=0, label='Show%20A', description='Front' WHERE id=2");
        exec("UPDATE output SET id_lsp=12 WHERE id_project=2 AND out_id<2");
        exec("UPDATE output SET id_lsp=13 WHERE id_project=2 AND out_id=2");
        exec("UPDATE inputbus SET gain=-4.5, comp_attack=12.0 WHERE id_project=2 AND bus_id=3");
    }
    void TearDown() override
    {
        dbase_close();
        usb_set_retry_pause_ms(USB_RETRY_PAUSE_MS);
        ServerState::TearDown();
    }

    static void exec(const std::string &sql) { ASSERT_EQ(sql_query(dbase_db(), sql.c_str()), 0) << sql; }
    std::string db(const std::string &sql) { return sqlite_shell(root_.path(DBASE_FILE), sql); }
    std::string on_stick(const std::string &name) { return stick_ + "/" + name; }

    int export_project(int id)
    {
        int r = 0;
        errors_ = diagnostics_of([&] { r = dbase_usb_export_project(id); });
        return r;
    }
    int import_file(int n)
    {
        int r = 0;
        errors_ = diagnostics_of([&] { r = dbase_usb_import_project(nullptr, n, 0); });
        return r;
    }
    std::string list_files()
    {
        int r = 1;
        std::string reply = reply_of(
            [&](report_writer *w) { errors_ = diagnostics_of([&] { r = dbase_usb_import_project(w, 0, 4); }); });
        EXPECT_EQ(r, 0) << errors_;
        return reply;
    }
    // The stick holds only this file (a copy of the export, changed by sql).
    void stick_holds(const std::string &name, const std::string &sql = "")
    {
        std::string file = root_.path("/tmp/" + name);
        fs::copy_file(exported_, file, fs::copy_options::overwrite_existing);
        if (!sql.empty()) {
            ASSERT_EQ(sqlite_shell(file, sql), "");
        }
        fs::remove_all(stick_);
        fs::create_directory(stick_);
        fs::rename(file, on_stick(name));
    }
    bool mounted() { return fs::is_symlink(root_.path(USB_MOUNT_POINT)); }

    // Exports project 2 once and keeps the file aside.
    void export_show()
    {
        ASSERT_EQ(export_project(2), 0) << errors_;
        exported_ = root_.path("/tmp/show.karu8");
        fs::copy_file(on_stick("Show A.karu8"), exported_, fs::copy_options::overwrite_existing);
    }

    std::string stick_ = root_.path("/dev/sda1");
    std::string exported_;
    std::string errors_;
};

TEST(Usb, FileNamesKeepOnlyWhatEveryFileSystemTakes)
{
    EXPECT_EQ(sanitize_filename("A/B: \"C\" \xC3\xBC-1.2_#$"), "AB C -1.2_#$");
    EXPECT_EQ(sanitize_filename("x\"; DROP TABLE project; --"), "x DROP TABLE project --");
    EXPECT_EQ(usb_file_base("/mnt/usb/Show 1.2.karu8"), "Show 1.2");
    EXPECT_EQ(usb_file_base("plain"), "plain");
}

TEST_F(DbaseUsb, ExportWritesTheProjectWithItsEntriesTheirFoldersAndEntryZero)
{
    ASSERT_EQ(export_project(2), 0) << errors_;
    EXPECT_FALSE(mounted());
    std::string file = on_stick("Show A.karu8");
    ASSERT_TRUE(file_exists(file));
    EXPECT_EQ(sqlite_shell(file, "SELECT db_version FROM dbinfo;"), "1\n");
    EXPECT_EQ(sqlite_shell(file, "SELECT id,id_parent,label,version,locked FROM lsp ORDER BY id;"),
              "0|0|Direct%20Out|1|2914336075\n10|0|Brand|0|0\n11|10|Series%202|0|0\n12|11|Top|3|4711\n13|0|Sub|1|0\n");
    EXPECT_EQ(sqlite_shell(file, "SELECT id,label,description FROM project;"), "2|Show%20A|Front\n");
    for (const char *table : {"inputbus", "geq", "buseq", "output", "outeq"})
        EXPECT_EQ(rows_of(file, table, ""), rows_of(root_.path(DBASE_FILE), table, "WHERE id_project=2")) << table;
    EXPECT_EQ(sqlite_shell(file, "SELECT count(*) FROM inputbus; SELECT count(*) FROM outeq;"), "8\n56\n");

    // A second export replaces the file.
    exec("UPDATE inputbus SET gain=-9 WHERE id_project=2 AND bus_id=0");
    ASSERT_EQ(export_project(2), 0) << errors_;
    EXPECT_EQ(sqlite_shell(file, "SELECT gain FROM inputbus WHERE bus_id=0; SELECT count(*) FROM project;"),
              "-9.0\n1\n");
    EXPECT_EQ(std::distance(fs::directory_iterator(stick_), fs::directory_iterator()), 1);

    // A label with a slash, a colon, double quotes and an umlaut.
    exec("UPDATE project SET label='A%2FB%3A%20%22C%22%20%FC' WHERE id=2");
    ASSERT_EQ(export_project(2), 0) << errors_;
    EXPECT_TRUE(file_exists(on_stick("AB C .karu8")));
    // Nothing of the label left, or only dots: the project's number.
    exec("UPDATE project SET label='..%FC' WHERE id=2");
    ASSERT_EQ(export_project(2), 0) << errors_;
    EXPECT_TRUE(file_exists(on_stick("project2.karu8")));

    // No such project: nothing is mounted.
    write_file(root_.path("/tmp/shim.log"), "");
    EXPECT_EQ(export_project(99), DBASE_USB_NO_PROJECT);
    EXPECT_EQ(read_file(root_.path("/tmp/shim.log")), "");
}

TEST_F(DbaseUsb, NoStickFailsAfterEveryMountRound)
{
    fs::remove_all(stick_);
    write_file(root_.path("/tmp/shim.log"), "");
    EXPECT_EQ(export_project(2), DBASE_USB_NO_STICK);
    std::string log = read_file(root_.path("/tmp/shim.log"));
    size_t partition = 0, whole = 0;
    std::istringstream in(log);
    for (std::string l; std::getline(in, l);) {
        partition += l == "mount " + root_.path("/dev/sda1");
        whole += l == "mount " + root_.path("/dev/sda");
    }
    EXPECT_EQ(partition, 9u) << log;
    EXPECT_EQ(whole, 9u) << log;
    EXPECT_EQ(import_file(0), DBASE_USB_NO_STICK);
    EXPECT_EQ(import_file(1), DBASE_USB_NO_STICK);
    EXPECT_FALSE(mounted());
}

TEST_F(DbaseUsb, TheListIsInNaturalVersionOrder)
{
    for (const char *name : {"Show 10.karu8", "Show 9.karu8", "Show 1.karu8", "notes.txt", ".hidden.karu8"})
        write_file(on_stick(name), "x");
    EXPECT_EQ(list_files(), "110,4,0\n109,4,1,0,Show%201\n109,4,2,0,Show%209\n109,4,3,0,Show%2010\n111,4\n");
    EXPECT_FALSE(mounted());
    fs::remove_all(stick_);
    fs::create_directory(stick_);
    EXPECT_EQ(list_files(), "110,4,0\n111,4\n");

    // A number beyond the list imports nothing and says so.
    std::string before = db(MAIN_STATE);
    EXPECT_EQ(import_file(1), DBASE_USB_NO_FILE);
    EXPECT_EQ(errors_, "dbase_usb_import_project: no file 1 on the stick (0 files)\n");
    EXPECT_EQ(db(MAIN_STATE), before);
}

TEST_F(DbaseUsb, ImportMakesANewProjectWithTheSameRows)
{
    export_show();
    ASSERT_EQ(import_file(1), 0) << errors_;
    EXPECT_FALSE(mounted());
    EXPECT_EQ(db("SELECT id,readonly,label,description FROM project WHERE id=3"), "3|0|Show%20A|Front\n");
    for (const char *table : {"inputbus", "geq", "buseq", "output", "outeq"})
        EXPECT_EQ(rows_of(root_.path(DBASE_FILE), table, "WHERE id_project=3"),
                  rows_of(root_.path(DBASE_FILE), table, "WHERE id_project=2"))
            << table;
    // Same paths, same versions: the library is as it was.
    EXPECT_EQ(db("SELECT count(*) FROM lsp"), "6\n");
}

TEST_F(DbaseUsb, LibraryEntriesMergeByPathAndVersion)
{
    export_show();
    auto entries_of = [&](int project) {
        return db("SELECT id_lsp FROM output WHERE id_project=" + std::to_string(project) + " AND out_id<3");
    };

    // A lower version of the same path: the local entry stays.
    stick_holds("lower.karu8", "UPDATE lsp SET version=2, config='changed' WHERE id=12;");
    ASSERT_EQ(import_file(1), 0) << errors_;
    EXPECT_EQ(db("SELECT id_parent,version,config FROM lsp WHERE id=12"), "11|3|fullrange\n");
    EXPECT_EQ(entries_of(3), "12\n12\n13\n");

    // A higher version replaces it under the local id, in its folder, with
    // the file's lock.
    stick_holds("higher.karu8", "UPDATE lsp SET version=5, config='changed', locked=999 WHERE id=12;");
    ASSERT_EQ(import_file(1), 0) << errors_;
    EXPECT_EQ(db("SELECT id_parent,version,config,locked FROM lsp WHERE id=12"), "11|5|changed|999\n");
    EXPECT_EQ(entries_of(4), "12\n12\n13\n");
    EXPECT_EQ(db("SELECT count(*) FROM lsp"), "6\n");

    // A path that does not exist here: its folders are made, the entry is
    // new and keeps its lock.
    stick_holds("other.karu8", "UPDATE lsp SET label='Other' WHERE id=10;");
    ASSERT_EQ(import_file(1), 0) << errors_;
    std::string top = db("SELECT l.id FROM lsp l JOIN lsp s ON l.id_parent=s.id JOIN lsp o ON s.id_parent=o.id "
                         "WHERE l.label='Top' AND s.label='Series%202' AND s.is_folder=1 AND o.label='Other' "
                         "AND o.is_folder=1 AND o.id_parent=0 AND l.locked=4711 AND l.version=3");
    ASSERT_EQ(top.size(), 3u) << db("SELECT * FROM lsp");
    EXPECT_EQ(entries_of(5), top + top + "13\n");
    EXPECT_EQ(db("SELECT count(*) FROM lsp"), "9\n");

    // The built-in entry is never replaced, whatever version a file claims.
    stick_holds("direct.karu8", "UPDATE lsp SET version=9, config='changed' WHERE id=0;");
    ASSERT_EQ(import_file(1), 0) << errors_;
    EXPECT_EQ(db("SELECT version,config FROM lsp WHERE id=0"), "1|fullrange\n");
}

TEST_F(DbaseUsb, OldFilesAndHostileNamesImport)
{
    export_show();
    // From before the compressor times, the bus delay and the description.
    stick_holds("old.karu8", "ALTER TABLE inputbus DROP COLUMN comp_attack; ALTER TABLE inputbus DROP COLUMN "
                             "comp_release; ALTER TABLE inputbus DROP COLUMN peak_release; ALTER TABLE inputbus "
                             "DROP COLUMN delay_m; ALTER TABLE project DROP COLUMN description;");
    ASSERT_EQ(import_file(1), 0) << errors_;
    EXPECT_EQ(db("SELECT count(*) FROM inputbus WHERE id_project=3 AND comp_attack IS NULL AND delay_m IS NULL"),
              "8\n");
    EXPECT_EQ(db("SELECT gain FROM inputbus WHERE id_project=3 AND bus_id=3"), "-4.5\n");
    EXPECT_EQ(db("SELECT label,description IS NULL FROM project WHERE id=3"), "old|1\n");

    // A name made to break out of a quoted path.
    stick_holds("x\"; DROP TABLE project; --.karu8");
    ASSERT_EQ(import_file(1), 0) << errors_;
    EXPECT_EQ(db("SELECT label FROM project WHERE id=4"), "x%22%3B%20DROP%20TABLE%20project%3B%20--\n");
    EXPECT_EQ(db("SELECT count(*) FROM inputbus WHERE id_project=4"), "8\n");
}

TEST_F(DbaseUsb, BrokenFilesLeaveTheDatabaseAsItWas)
{
    export_show();
    std::string before = db(MAIN_STATE);
    ASSERT_EQ(before.substr(0, 3), "ok\n");
    struct broken {
        const char *what, *sql;
    };
    for (broken b : {broken{"version 2", "INSERT INTO dbinfo VALUES (2);"},
                     broken{"no project", "DELETE FROM project;"},
                     broken{"no version", "DELETE FROM dbinfo;"},
                     broken{"folder loop", "UPDATE lsp SET id_parent=11 WHERE id=10;"},
                     broken{"entry its own parent", "UPDATE lsp SET id_parent=12 WHERE id=12;"}}) {
        stick_holds("broken.karu8", b.sql);
        EXPECT_EQ(import_file(1), DBASE_USB_BAD_FILE) << b.what << ": " << errors_;
        EXPECT_EQ(db(MAIN_STATE), before) << b.what;
        EXPECT_FALSE(mounted()) << b.what;
    }
    EXPECT_NE(errors_.find("dbase_usb_import_project: the file's folders of entry 12 form a loop\n"),
              std::string::npos)
        << errors_;

    // Not a database at all, and an empty file.
    fs::remove_all(stick_);
    fs::create_directory(stick_);
    write_file(on_stick("junk.karu8"), std::string(4096, 'j'));
    EXPECT_EQ(import_file(1), DBASE_USB_BAD_FILE) << errors_;
    write_file(on_stick("junk.karu8"), "");
    EXPECT_EQ(import_file(1), DBASE_USB_BAD_FILE) << errors_;
    EXPECT_EQ(db(MAIN_STATE), before);
}

}  // namespace
