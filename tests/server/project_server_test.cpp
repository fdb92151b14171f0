// Projects through the real mirelserver: command lines over TCP from one or
// two clients, the exact report and message lines they get back, and the
// database file looked into with Debian's sqlite3 shell.
#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <memory>
#include <sstream>

#include "dbase.h"
#include "project_client.h"
#include "server_client.h"
#include "support/process.h"
#include "support/sim_root.h"
#include "support/sqlite_shell.h"
#include "system_prj.h"

namespace {

class ProjectServer : public ::testing::Test {
protected:
    void SetUp() override
    {
        server_.start(root_.dir(), port_);
        a_ = connect();
        ASSERT_GT(a_->id, 0);
    }

    std::unique_ptr<Client> connect()
    {
        auto c = std::make_unique<Client>(port_);
        EXPECT_TRUE(c->expect_line("98,0"));  // the end of the full dump
        return c;
    }

    std::string db(const std::string &sql) { return sqlite_shell(root_.path(DBASE_FILE), sql); }
    static std::string id_of(const Client &c) { return std::to_string(c.id); }

    // The user message line 25 the client gets, its text encoded as it travels.
    bool message(Client &c, int level, const std::string &text)
    {
        std::string line = "25," + id_of(c) + "," + std::to_string(level) + "," + db_text_encode(text);
        return c.take_line("25," + id_of(c) + ",") == line;
    }

    // Saves the live state as a new project called name (102) and returns its id.
    int save_as(Client &c, const std::string &name)
    {
        c.command(102, "0," + name);
        EXPECT_TRUE(message(c, 0, "Project saved."));
        std::string line = c.take_line("100," + id_of(c) + ",");
        return atoi(line.c_str() + line.find(',', 4) + 1);
    }

    std::string dump(Client &c) { return project_dump(c); }

    SimRoot root_;
    int port_ = free_port();
    ServerProcess server_;
    std::unique_ptr<Client> a_;
};

TEST_F(ProjectServer, EveryLineOfTheFullDumpComesBackWithTheProject)
{
    Client &a = *a_;
    std::string two_way = lsp_entry(a, TWO_WAY);
    ASSERT_FALSE(two_way.empty());
    a.command(62, "1");  // outputs keep their stored mutes
    a.sock.send(mix_lines(a.id, 0, atoi(two_way.c_str())));
    // Linked buses and groups follow each other in the update passes: the
    // project is saved once they have.
    settled_dump(a);
    int id = save_as(a, "Show%20A");
    ASSERT_EQ(id, 2);
    std::string before = settled_dump(a);
    ASSERT_NE(before.find("\n9,0,3,Kick%20%E9%u20AC3\n"), std::string::npos) << before;
    ASSERT_NE(before.find("\n100,0,2,0,0,0,Show%20A\n"), std::string::npos) << before;

    // The rows as a service technician sees them.
    EXPECT_EQ(db("SELECT id,readonly,label,use_counter FROM project"), "1|-1|UNNAMED|0\n2|0|Show%20A|0\n");
    EXPECT_EQ(db("SELECT gain,phase,comp_ratio,comp_attack,label,mute,patch,group_local,group_net FROM inputbus "
                 "WHERE id_project=2 AND bus_id=3"),
              "-4.5|1|5.0|14.0|Kick%20%E9%u20AC3|1|8|3|-1\n");
    EXPECT_EQ(db("SELECT g0,g30 FROM geq WHERE id_project=2 AND bus_id=4"), "-8.0|-3.0\n");
    EXPECT_EQ(db("SELECT freq,slope,mode,bypass FROM buseq WHERE id_project=2 AND bus_id=2 AND type=1"),
              "32.0|24|1|0\n");
    EXPECT_EQ(db("SELECT freq,q,gain,bypass FROM buseq WHERE id_project=2 AND bus_id=5 AND order_id=3 AND type=0"),
              "405.0|3.5|-5.0|1\n");
    EXPECT_EQ(db("SELECT out_id,group_lsp,id_lsp,label FROM output WHERE id_project=2 AND out_id<3"),
              "0|0|" + two_way + "|Out%20%u00FC0\n1|0|" + two_way + "|Out%20%u00FC0\n2|2|0|Out%20%u00FC2\n");
    EXPECT_EQ(db("SELECT slope,mode FROM outeq WHERE id_project=2 AND out_id=4 AND type=1"), "0|0\n");
    EXPECT_EQ(db("SELECT freq,gain,slope,bypass FROM outeq WHERE id_project=2 AND out_id=7 AND type=3"),
              "11000.0|2.5|12|1\n");

    // Everything changes (the preset too), then the project comes back.
    a.sock.send(mix_lines(a.id, 1, atoi(two_way.c_str())));
    std::string changed = settled_dump(a);
    ASSERT_NE(changed.find("\n100,0,2,0,0,1,Show%20A\n"), std::string::npos) << changed;
    // Nearly every line differs (not the device block, the bus delays, ...).
    std::string changes = difference(before, changed);
    EXPECT_GT(std::count(changes.begin(), changes.end(), '\n'), 2 * 600) << changes;
    size_t from = server_.err().size();
    a.command(99, "2");
    std::string after;
    wait_until([&] { return (after = dump(a)) == before; }, 5s);
    EXPECT_EQ(after, before) << difference(before, after);
    EXPECT_EQ(server_.err().find("out of range", from), std::string::npos) << server_.err().substr(from);
    EXPECT_EQ(db("SELECT use_counter FROM project WHERE id=2"), "1\n");
}

TEST_F(ProjectServer, LockCodesAndWriteProtection)
{
    Client &a = *a_;
    std::string c = id_of(a);
    int id = save_as(a, "Gig");
    std::string p = std::to_string(id);

    // A code set with 100 reaches the database with the next save.
    a.command(100, p + ",1235,0,0,Gig");
    EXPECT_TRUE(a.expect_line("100," + c + "," + p + ",1235,0,1,Gig"));
    a.command(101, "0");
    EXPECT_TRUE(message(a, 0, "Project saved."));
    EXPECT_TRUE(a.expect_lines({"100," + c + "," + p + ",1235,1235,0,Gig", "105,0"}));
    EXPECT_EQ(db("SELECT readonly FROM project WHERE id=" + p), "1235\n");

    // Without the code: refused, the project unchanged.
    a.command(2, "0,-7");
    a.command(101, "0");
    EXPECT_TRUE(message(a, 1, "Wrong lock code.\nProject not saved."));
    EXPECT_TRUE(server_.wait_err("system_prj_save_project: wrong unlock code\n"));
    EXPECT_EQ(db("SELECT gain FROM inputbus WHERE bus_id=0 AND id_project=" + p), "0.0\n");
    a.command(101, "1235");
    EXPECT_TRUE(message(a, 0, "Project saved."));
    EXPECT_EQ(db("SELECT gain FROM inputbus WHERE bus_id=0 AND id_project=" + p), "-7.0\n");

    // Save as onto a project with a code, by id or by name: refused.
    a.command(102, p + ",");
    EXPECT_TRUE(message(a, 1, "Cannot overwrite\na locked project."));
    a.command(102, "0,Gig");
    EXPECT_TRUE(message(a, 1, "Cannot overwrite\na locked project."));

    // Write-protected: no code opens it; setting the live lock to 0 with 100
    // (under the project's own name) does.
    a.command(100, p + ",-1,0,0,Gig");
    a.command(101, "1235");
    EXPECT_TRUE(message(a, 0, "Project saved."));
    EXPECT_EQ(db("SELECT readonly FROM project WHERE id=" + p), "-1\n");
    a.command(101, "-1");
    EXPECT_TRUE(message(a, 1, "Cannot overwrite\na locked project."));
    EXPECT_TRUE(server_.wait_err("system_prj_save_project: cannot overwrite locked project\n"));
    a.command(100, p + ",0,0,0,Gig");
    EXPECT_TRUE(a.expect_line("100," + c + "," + p + ",0,-1,1,Gig"));
    a.command(101, "0");
    EXPECT_TRUE(message(a, 0, "Project saved."));
    EXPECT_TRUE(a.expect_line("100," + c + "," + p + ",0,0,0,Gig"));
    EXPECT_EQ(db("SELECT readonly FROM project WHERE id=" + p), "0\n");

    // The template is protected the same way: saving it makes nothing.
    a.command(99, "1");
    EXPECT_TRUE(a.expect_line("100," + c + ",1,-1,-1,0,UNNAMED"));
    a.command(101, "0");
    EXPECT_TRUE(message(a, 1, "Cannot overwrite\na locked project."));
    EXPECT_EQ(db("SELECT count(*) FROM project"), "2\n");
}

TEST_F(ProjectServer, NamesDescriptionsAndNewProjects)
{
    Client &a = *a_;
    std::string c = id_of(a);
    int other = save_as(a, "Other");
    int id = save_as(a, "Mine");
    std::string p = std::to_string(id);

    // 100 may keep the project's own name, not take another's, and works
    // only on the live project.
    a.command(100, p + ",0,0,0,Mine");
    EXPECT_TRUE(a.expect_line("100," + c + "," + p + ",0,0,1,Mine"));
    a.command(100, p + ",0,0,0,Other");
    EXPECT_TRUE(message(a, 1, "Name exists."));
    a.command(100, std::to_string(other) + ",0,0,0,Elsewhere");
    EXPECT_TRUE(server_.wait_err("system_prj_stat_project: function not implemented\n"));
    a.command(100, "1,0,0,0,Template");
    EXPECT_TRUE(server_.wait_err("system_prj_stat_project: project_id out of range\n"));

    // The description: set live, reported to all, stored with a save, asked for by id.
    a.command(119, "0,Front%20of%20house%0Aleft");
    EXPECT_TRUE(a.expect_line("119," + c + "," + p + ",Front%20of%20house%0Aleft"));
    a.command(101, "0");
    EXPECT_TRUE(message(a, 0, "Project saved."));
    a.command(1038, p);
    EXPECT_TRUE(a.expect_line("119,0," + p + ",Front%20of%20house%0Aleft"));
    a.command(1038, std::to_string(other));
    EXPECT_TRUE(a.expect_line("119,0," + std::to_string(other) + ","));
    a.command(1038, "-1");
    EXPECT_TRUE(a.expect_line("119,0," + p + ",Front%20of%20house%0Aleft"));

    // The list never holds the template; 1030 starts with the project line.
    a.command(1030, "-1");
    EXPECT_EQ(a.take_between("100,0," + p + ",0,0,0,Mine", "98,0"),
              "100,0," + p + ",0,0,0,Mine\n97,0,1\n96,0," + p + ",0,Mine\n96,0," + std::to_string(other) +
                  ",0,Other\n98,0\n");

    // A new project starts from the template, under its new name, unlocked.
    a.command(104, "Mine");
    EXPECT_TRUE(message(a, 1, "Given name\nalready exists."));
    EXPECT_TRUE(server_.wait_err("system_prj_new_project: name exists\n"));
    a.command(2, "2,-33");
    EXPECT_TRUE(a.expect_line("2," + c + ",2,-33.0"));
    a.command(104, "Fresh%20start");
    EXPECT_TRUE(a.expect_line("2,0,2,-6.0"));  // the template's value, set by the server
    EXPECT_TRUE(a.expect_lines({"100," + c + ",4,0,0,0,Fresh%20start", "119," + c + ",4,"}));
    EXPECT_EQ(db("SELECT readonly,label FROM project WHERE id=4"), "0|Fresh%20start\n");
    EXPECT_EQ(db("SELECT gain FROM inputbus WHERE bus_id=2 AND id_project=4"), "-6.0\n");
}

TEST_F(ProjectServer, TheDeleteLockBelongsToOneClientAtATime)
{
    Client &a = *a_;
    std::unique_ptr<Client> b_ = connect();
    Client &b = *b_;
    int three = save_as(a, "Three"), five = save_as(a, "Five"), locked = save_as(a, "Locked");
    std::string lock = std::to_string(SYSTEM_PRJ_DELETE_LOCK);
    a.command(100, std::to_string(locked) + ",1235,0,0,Locked");
    a.command(101, "0");
    EXPECT_TRUE(message(a, 0, "Project saved."));
    int live = save_as(a, "Live");
    auto exists = [&](int id) { return db("SELECT count(*) FROM project WHERE id=" + std::to_string(id)) == "1\n"; };

    // A load by another client in between undoes A's deletion; A is told.
    a.command(106, lock);
    a.command(103, std::to_string(five));
    b.command(99, std::to_string(three));
    EXPECT_TRUE(b.expect_line("100," + id_of(b) + "," + std::to_string(three) + ",0,0,0,Three"));
    a.command(106, "0");
    EXPECT_TRUE(message(a, 1, "Deletion aborted\ndue intervention\nby another client."));
    EXPECT_TRUE(server_.wait_err("system_prj_delete_lock: deletion aborted\n"));
    EXPECT_TRUE(exists(five));

    // While A holds the lock, B's request is ignored and B cannot delete.
    a.command(106, lock);
    b.command(106, lock);
    b.command(103, std::to_string(five));
    EXPECT_TRUE(server_.wait_err("system_prj_delete_project: not unlocked\n"));
    a.command(103, std::to_string(three));  // the live one now
    EXPECT_TRUE(server_.wait_err("system_prj_delete_project: can't delete active project\n"));
    a.command(103, std::to_string(locked));
    EXPECT_TRUE(message(a, 1, "Cannot delete\na locket project."));
    a.command(103, std::to_string(five));
    EXPECT_TRUE(exists(five));  // not before the release
    // A client that has seen no list change yet: the release is its first.
    std::unique_ptr<Client> watcher = connect();
    a.command(106, "0");
    EXPECT_TRUE(watcher->expect_line("105,0"));
    EXPECT_FALSE(exists(five));
    EXPECT_EQ(db("SELECT count(*) FROM inputbus WHERE id_project=" + std::to_string(five)), "0\n");
    EXPECT_TRUE(exists(locked));

    // A client that leaves holding the lock: released, its deletion undone.
    a.command(106, lock);
    a.command(103, std::to_string(live));
    std::string gone = id_of(a);
    a_.reset();
    EXPECT_TRUE(server_.wait_err("system_prj_delete_lock: client #" + gone +
                                 " left holding the lock, its deletions rolled back\n"));
    EXPECT_TRUE(exists(live));
    EXPECT_TRUE(watcher->expect_line("105,0"));  // the list may have looked otherwise meanwhile
    b.command(106, lock);
    b.command(103, std::to_string(live));
    b.command(106, "0");
    EXPECT_TRUE(watcher->expect_line("105,0"));
    EXPECT_FALSE(exists(live));
}

}  // namespace
