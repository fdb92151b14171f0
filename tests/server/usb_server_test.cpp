// A project carried from one real mirelserver to another on the simulated
// stick: device A exports it with request 1034, device B (its own
// simulation root, the same stick folder) lists and imports it with 1035,
// loads it, and then shows exactly the state A had.
#include <gtest/gtest.h>

#include <filesystem>
#include <memory>

#include "dbase.h"
#include "project_client.h"
#include "support/process.h"
#include "support/sim_root.h"
#include "support/sqlite_shell.h"

namespace fs = std::filesystem;

namespace {

// A mount round that fails goes on at once: no test waits nine seconds.
const std::vector<std::string> NO_PAUSE = {"MIREL_USB_RETRY_MS=0"};

std::unique_ptr<Client> connect(int port)
{
    auto c = std::make_unique<Client>(port);
    EXPECT_TRUE(c->expect_line("98,0"));  // the end of the full dump
    return c;
}

// A dump without the WLAN passphrase, which each device makes up itself.
std::string mix_of(const std::string &dump)
{
    size_t at = dump.find("\n112,0,");
    return at == std::string::npos ? dump : dump.substr(0, at + 1) + dump.substr(dump.find('\n', at + 1) + 1);
}

// The id in a report line "ID,c,VALUE".
std::string last_field(const std::string &line)
{
    return line.substr(line.rfind(',') + 1);
}

class UsbServer : public ::testing::Test {
protected:
    void SetUp() override
    {
        fs::create_directory(a_root_.path("/dev/sda1"));
        fs::create_directory_symlink(a_root_.path("/dev/sda1"), b_root_.path("/dev/sda1"));
        a_server_.start(a_root_.dir(), a_port_, NO_PAUSE);
        b_server_.start(b_root_.dir(), b_port_, NO_PAUSE);
    }

    SimRoot a_root_, b_root_;
    int a_port_ = free_port(), b_port_ = free_port();
    ServerProcess a_server_, b_server_;
};

TEST_F(UsbServer, AProjectMovesToAnotherDeviceWithItsLoudspeaker)
{
    std::unique_ptr<Client> a_client = connect(a_port_);
    Client &a = *a_client;
    std::string c = std::to_string(a.id);

    // The loudspeaker two folders deep, locked; every value of the mix set.
    std::string top = lsp_entry(a, TWO_WAY);
    ASSERT_EQ(top, "1");
    a.command(70, "1,0");
    ASSERT_EQ(last_field(a.take_line("70," + c + ",")), "2");
    a.command(70, "1,2");
    ASSERT_EQ(last_field(a.take_line("70," + c + ",")), "3");
    a.command(64, "2,0,0,0,0,0,Brand");
    a.command(64, "3,2,0,0,0,0,Series%202");
    a.command(64, "1,3,7,0,4711,0,Top%20Box");
    a.command(62, "1");  // outputs keep their stored mutes
    a.sock.send(mix_lines(a.id, 0, 1));
    settled_dump(a);
    a.command(102, "0,Show%20A");
    std::string saved = a.take_line("100," + c + ",");
    ASSERT_EQ(saved.substr(0, saved.find(',', 4)), "100," + c);
    size_t from = saved.find(',', 4) + 1;
    std::string id = saved.substr(from, saved.find(',', from) - from);
    std::string before = mix_of(settled_dump(a));

    a.command(1034, id);
    ASSERT_TRUE(a.expect_line("107,0," + id));
    std::string file = a_root_.path("/dev/sda1/Show A.karu8");
    EXPECT_EQ(sqlite_shell(file, "SELECT id,id_parent,label,locked FROM lsp ORDER BY id;"),
              "0|0|Direct%20Out|2914336075\n1|3|Top%20Box|4711\n2|0|Brand|0\n3|2|Series%202|0\n");
    EXPECT_FALSE(fs::is_symlink(a_root_.path("/mnt/usb")));

    // Device B: the list, the import, the list of projects changed.
    std::unique_ptr<Client> b_client = connect(b_port_);
    Client &b = *b_client;
    std::unique_ptr<Client> watcher = connect(b_port_);
    b.command(1035, "0");
    EXPECT_EQ(b.take_between("110,0,0", "111,0"), "110,0,0\n109,0,1,0,Show%20A\n111,0\n");
    b.command(1035, "1");
    EXPECT_TRUE(b.expect_line("108,0,1"));
    EXPECT_TRUE(watcher->expect_line("105,0"));
    b.command(1030, "-1");
    EXPECT_EQ(b.take_between("97,0,1", "98,0"), "97,0,1\n96,0,2,0,Show%20A\n98,0\n");
    EXPECT_EQ(sqlite_shell(b_root_.path(DBASE_FILE),
                           "SELECT id,id_parent,is_folder,label,locked FROM lsp ORDER BY id;"),
              "0|0|0|Direct%20Out|2914336075\n1|3|0|Top%20Box|4711\n2|0|1|Brand|0\n3|2|1|Series%202|0\n");

    // Loaded, B shows every value A had.
    b.command(62, "1");
    b.command(99, "2");
    EXPECT_TRUE(b.expect_line("100," + std::to_string(b.id) + ",2,0,0,0,Show%20A"));
    std::string after = mix_of(settled_dump(b));
    EXPECT_TRUE(after == before) << difference(before, after);

    // A number past the list: nothing imported, and the panel is told so.
    b.command(1035, "2");
    EXPECT_TRUE(b.expect_line("108,0,-1"));
    EXPECT_TRUE(b_server_.wait_err("dbase_usb_import_project: no file 2 on the stick (1 files)\n"));
    EXPECT_TRUE(b_server_.wait_err("command_local_prj_usb_import: dbase_usb_import_project() error\n"));
    EXPECT_EQ(sqlite_shell(b_root_.path(DBASE_FILE), "SELECT count(*) FROM project;"), "2\n");
}

TEST_F(UsbServer, WithoutAStickBothDirectionsFail)
{
    fs::remove(b_root_.path("/dev/sda1"));
    std::unique_ptr<Client> b_client = connect(b_port_);
    Client &b = *b_client;
    b.command(1034, "1");
    EXPECT_TRUE(b.expect_line("107,0,-1"));
    EXPECT_TRUE(b_server_.wait_err("command_local_prj_usb_export: dbase_usb_export_project() error\n"));
    b.command(1034, "0");
    EXPECT_TRUE(b.expect_line("107,0,-1"));
    EXPECT_TRUE(b_server_.wait_err("command_local_prj_usb_export: project_id out of range\n"));
    b.command(1034, "77");
    EXPECT_TRUE(b.expect_line("107,0,-5"));
    b.command(1035, "0");
    EXPECT_TRUE(b.expect_line("108,0,-1"));
    b.command(1035, "-3");
    EXPECT_TRUE(b.expect_line("108,0,-1"));
    EXPECT_TRUE(b_server_.wait_err("command_local_prj_usb_import: file_id out of range\n"));
    std::string log = read_file(b_root_.path("/tmp/shim.log"));
    size_t rounds = 0;
    for (size_t at = log.find("mount " + b_root_.path("/dev/sda1") + "\n"); at != std::string::npos;
         at = log.find("mount " + b_root_.path("/dev/sda1") + "\n", at + 1))
        rounds += at == 0 || log[at - 1] == '\n';
    EXPECT_EQ(rounds, 18u) << log;  // nine rounds for each of the two transfers
}

}  // namespace
