#include <vector>

#include "command_info.h"
#include "server_state.h"
#include "wlan.h"

namespace {

using CommandInfo = ServerState;

struct answer {
    std::string reply;
    std::string errors;
};

answer ask(const std::string &line)
{
    answer a;
    a.errors = errors_of([&] { a.reply = reply_of([&](report_writer *w) { command_info_work(line.c_str(), w); }); });
    return a;
}

TEST_F(CommandInfo, OutOfRangeArgumentsGetNoReply)
{
    const std::pair<const char *, const char *> cases[] = {
        {"1024,5,8", "command_info_work: busid out of range\n"},
        {"1024,5", "command_info_work: busid out of range\n"},
        {"1025,0,-1", "command_info_work: eq busid out of range\n"},
        {"1026,0,-2", "command_info_work: lspid out of range\n"},
        {"1027,0,8", "command_info_work: lspid out of range\n"},
        {"1031,0,-1", "command_info_work: lspid out of range\n"},
        {"1032,0,9", "command_info_work: group_lsp out of range\n"},
        {"1028,0", "command_info_work: unknown command\n"},
        {"1039,0", "command_info_work: unknown command\n"},
        {"2,0,0,1", "command_info_work: unknown command\n"},
        {"x1024,0,0", "command_info_work: unknown command\n"},
        {"", "command_info_work: unknown command\n"},
    };
    for (auto [line, message] : cases) {
        answer a = ask(line);
        EXPECT_EQ(a.reply, "") << line;
        EXPECT_EQ(a.errors, message) << line;
    }
}

TEST_F(CommandInfo, BusAndGroupBlocks)
{
    answer bus = ask("1024,3,2");
    EXPECT_EQ(bus.errors, "");
    std::vector<std::string> l = lines_of(bus.reply);
    ASSERT_EQ(l.size(), 17u);
    EXPECT_EQ(l.front(), "9,0,2,A+B%20Mono");  // answers carry connection 0
    EXPECT_EQ(l[2], "2,0,2,-6.0");
    EXPECT_EQ(l.back(), "61,0,2,0.00");

    l = lines_of(ask("1025,3,7").reply);
    ASSERT_EQ(l.size(), 1u + 31 + 5 + 2 + 1 + 1);
    EXPECT_EQ(l.front(), "14,0,7,0");
    EXPECT_EQ(l.back().substr(0, 11), "13,0,7,0.0,");

    // The group lines followed by the group's EQ block, once.
    l = lines_of(ask("1027,0,5").reply);
    ASSERT_EQ(l.size(), 10u + 9);
    EXPECT_EQ(l.front(), "34,0,5,Direct%20Out");
    EXPECT_EQ(l[10], "49,0,5,0");
    l = lines_of(ask("1032,0,5").reply);
    ASSERT_EQ(l.size(), 9u);
    EXPECT_EQ(l.front(), "49,0,5,0");

    // A group number that no output carries: nothing to say, and no error.
    my_sys->out[5].group_lsp = 4;
    EXPECT_EQ(ask("1027,0,5").reply, "");
    EXPECT_EQ(ask("1027,0,5").errors, "");
}

TEST_F(CommandInfo, DeviceVersionAndDump)
{
    std::vector<std::string> l = lines_of(ask("1029,0").reply);
    ASSERT_EQ(l.size(), 8u + 8 + 2);
    // No bridge address yet: the interface address is 0, the configured one follows.
    EXPECT_EQ(l[0], "21,0,0,0,192,168,0,70,24,0,0,0,0");
    EXPECT_EQ(l[1], "112,0," + read_file(root_.path(WLAN_PASSPHRASE_FILE)));
    EXPECT_EQ(l[16], "1036,0,2,2,0,0,3560,200,1234,Linux%204.9.88-sim");
    EXPECT_EQ(l[17], "122,0,2,2,0,0,3560,200,1234,Linux%204.9.88-sim");

    EXPECT_EQ(ask("1036,4").reply,
              "1036,0,2,2,0,0,3560,200,1234,Linux%204.9.88-sim\n122,0,2,2,0,0,3560,200,1234,Linux%204.9.88-sim\n");
    EXPECT_EQ(ask("1037,4").reply, reply_of([](report_writer *w) { report_format_full_dump(w); }));
    answer nothing = ask("1033,4");
    EXPECT_EQ(nothing.reply, "");
    EXPECT_EQ(nothing.errors, "");
}

TEST_F(CommandInfo, ProjectRequests)
{
    my_sys->project_id = 3;
    snprintf(my_sys->project_description, sizeof my_sys->project_description, "Main%%20hall");
    EXPECT_EQ(ask("1038,0,-1").reply, "119,0,3,Main%20hall\n");
    EXPECT_EQ(ask("1038,0").reply, "119,0,3,Main%20hall\n");
    EXPECT_EQ(ask("1030,0,-1").reply, "100,0,3,-1,0,0,UNNAMED\n97,0,1\n98,0\n");
    EXPECT_EQ(ask("1030,0,7").reply, "100,0,3,-1,0,0,UNNAMED\n97,0,0\n98,0\n");

    // Without a database no stored project exists.
    answer stored = ask("1038,0,7");
    EXPECT_EQ(stored.reply, "");
    EXPECT_EQ(stored.errors,
              "dbase_info_prj_desc: no database\ndbase_info_prj_desc: project_id (7) not found in database\n");
}

// No database is open here: the listings are empty but complete, so a
// client waiting for their end line is not left waiting.
TEST_F(CommandInfo, LibraryRequestsWithoutADatabase)
{
    answer all = ask("1026,0,-1");
    EXPECT_EQ(all.reply, "65,0,0\n66,0\n");
    EXPECT_EQ(all.errors, "dbase_list_lsp: no database\n");
    EXPECT_EQ(ask("1026,0,4").reply, "65,0,1\n66,0\n");
    answer block = ask("1031,0,4,0");
    EXPECT_EQ(block.reply, "65,0,1\n66,0\n67,0,4,0,\n");
    EXPECT_EQ(block.errors, "dbase_list_lsp: no database\n");
}

TEST_F(CommandInfo, UsbTransferResults)
{
    answer a = ask("1034,0,0");
    EXPECT_EQ(a.reply, "107,0,-1\n");
    EXPECT_EQ(a.errors, "command_local_prj_usb_export: project_id out of range\n");
    a = ask("1034,0,5");
    EXPECT_EQ(a.reply, "107,0,-5\n");
    EXPECT_EQ(a.errors,
              "dbase_usb_export_project: no database\ncommand_local_prj_usb_export: dbase_usb_export_project() error\n");
    a = ask("1035,0,-1");
    EXPECT_EQ(a.reply, "108,0,-1\n");
    EXPECT_EQ(a.errors, "command_local_prj_usb_import: file_id out of range\n");
    a = ask("1035,0,2");
    EXPECT_EQ(a.reply, "108,0,-1\n");
    EXPECT_EQ(a.errors,
              "dbase_usb_import_project: no database\ncommand_local_prj_usb_import: dbase_usb_import_project() error\n");
}

}  // namespace
