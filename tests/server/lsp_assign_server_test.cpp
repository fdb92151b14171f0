// Loudspeaker presets assigned to output groups through the real
// mirelserver: command lines over TCP from one client, the group map and
// group blocks as every client receives them.
#include <gtest/gtest.h>

#include <memory>

#include "server_client.h"
#include "support/process.h"
#include "support/sim_root.h"

namespace {

class LspAssignServer : public ::testing::Test {
protected:
    void SetUp() override
    {
        server_.start(root_.dir(), port_);
        for (auto *c : {&a_, &b_}) {
            *c = std::make_unique<Client>(port_);
            ASSERT_GT((*c)->id, 0);
            ASSERT_TRUE((*c)->expect_line("98,0"));  // the end of the full dump
        }
    }

    // A new library entry holding text; its id once the text is stored.
    std::string entry(const std::string &text) { return lsp_entry(*a_, text); }

    // What a client receives after an assignment: the group map, then the
    // group blocks up to the last group's way map.
    std::string blocks(Client &c, const std::string &map, const std::string &last_way_map)
    {
        return c.take_between(map, last_way_map);
    }

    SimRoot root_;
    int port_ = free_port();
    ServerProcess server_;
    std::unique_ptr<Client> a_, b_;
};

bool has(const std::string &text, const std::string &line)
{
    return text.find("\n" + line + "\n") != std::string::npos || text.rfind(line + "\n", 0) == 0;
}

TEST_F(LspAssignServer, TwoWayEntryOnGroupZeroAndEntryZeroBack)
{
    std::string e = entry("LOW\nLPF 2khz lr24\nHIGH\nHPF 2khz lr24\n");
    a_->command(37, "1,0");  // group 1 unmuted: freeing it later mutes it again
    ASSERT_TRUE(b_->expect_line("44," + std::to_string(a_->id) + ",1,0"));

    a_->command(36, "0," + e);
    const std::string map = "32,0,0,0,2,3,4,5,6,7," + e + "," + e + ",0,0,0,0,0,0";
    for (Client *c : {a_.get(), b_.get()}) {
        std::string got = blocks(*c, map, "33,0,7,-1,-1,-1,-1,-1,-1,-1,0");
        ASSERT_NE(got, "") << c->id;
        // The high way goes to output 0, the low way to output 1; group 1 is gone.
        EXPECT_TRUE(has(got, "34,0,0,%28New%29")) << got;
        EXPECT_TRUE(has(got, "33,0,0,1,3,-1,-1,-1,-1,-1,-1")) << got;
        EXPECT_EQ(got.find("\n34,0,1,"), std::string::npos) << got;
        EXPECT_TRUE(has(got, "33,0,2,-1,-1,0,-1,-1,-1,-1,-1")) << got;
        EXPECT_TRUE(c->expect_lines({"44," + std::to_string(a_->id) + ",1,1"}));  // taken, so muted
    }

    // The entry is in use now.
    a_->command(71, e);
    EXPECT_TRUE(a_->expect_line("25," + std::to_string(a_->id) + ",1,Item%20is%20in%20use%21"));

    a_->command(36, "0,0");
    for (Client *c : {a_.get(), b_.get()}) {
        std::string got = blocks(*c, "32,0,0,1,2,3,4,5,6,7,0,0,0,0,0,0,0,0", "33,0,7,-1,-1,-1,-1,-1,-1,-1,0");
        ASSERT_NE(got, "") << c->id;
        EXPECT_TRUE(has(got, "34,0,0,Direct%20Out")) << got;
        EXPECT_TRUE(has(got, "33,0,0,0,-1,-1,-1,-1,-1,-1,-1")) << got;
        EXPECT_TRUE(has(got, "34,0,1,Direct%20Out")) << got;
        EXPECT_TRUE(has(got, "35,0,1,")) << got;  // a freed output has no label
        EXPECT_TRUE(has(got, "33,0,1,-1,0,-1,-1,-1,-1,-1,-1")) << got;
    }
}

TEST_F(LspAssignServer, ThreeWayEntryOnGroupSevenTakesTheOutputsBeforeIt)
{
    std::string e = entry("LOW\nMID\nHIGH\n");
    a_->command(35, "7,Fill");
    ASSERT_TRUE(b_->expect_line("35," + std::to_string(a_->id) + ",7,Fill"));

    a_->command(36, "7," + e);
    const std::string map = "32,0,0,1,2,3,4,7,7,7,0,0,0,0,0," + e + "," + e + "," + e;
    for (Client *c : {a_.get(), b_.get()}) {
        std::string got = blocks(*c, map, "33,0,7,-1,-1,-1,-1,-1,1,2,3");
        ASSERT_NE(got, "") << c->id;
        EXPECT_EQ(got.find("\n34,0,5,"), std::string::npos) << got;
        EXPECT_EQ(got.find("\n34,0,6,"), std::string::npos) << got;
        EXPECT_TRUE(has(got, "35,0,7,Fill")) << got;  // the group keeps its label
    }

    // Refused lines change nothing and say why in the log.
    a_->command(36, "8," + e);
    EXPECT_TRUE(server_.wait_err("system_out_group_lsp_set: group_lsp out of range\n"));
    a_->command(36, "0,4242");
    EXPECT_TRUE(server_.wait_err("system_out_group_lsp_set: lspconfig_parse_from_id() returned NULL\n"));
    a_->command(36, "5," + e);
    EXPECT_TRUE(server_.wait_err("system_out_group_lsp_set: group_lsp invalid (currently not set)\n"));
    a_->command(36, "0");
    EXPECT_TRUE(server_.wait_err("system_out_group_lsp_set: id_lsp out of range\n"));
    a_->command(1027, "7");
    EXPECT_TRUE(a_->expect_line("33,0,7,-1,-1,-1,-1,-1,1,2,3"));
}

TEST_F(LspAssignServer, FourWayEntryOnGroupSixTakesSevenThenFiveAndFour)
{
    std::string e = entry("SUB\nLOW\nMID\nHIGH\n");
    a_->command(36, "6," + e);
    const std::string map = "32,0,0,1,2,3,6,6,6,6,0,0,0,0," + e + "," + e + "," + e + "," + e;
    for (Client *c : {a_.get(), b_.get()}) {
        std::string got = blocks(*c, map, "33,0,6,-1,-1,-1,-1,1,2,3,4");
        ASSERT_NE(got, "") << c->id;
        for (const char *gone : {"\n34,0,4,", "\n34,0,5,", "\n34,0,7,"})
            EXPECT_EQ(got.find(gone), std::string::npos) << gone << got;
    }
    // The whole dump agrees: group 6 starts at output 4.
    a_->command(1037, "");
    EXPECT_TRUE(a_->expect_line(map));
    EXPECT_TRUE(a_->expect_line("33,0,6,-1,-1,-1,-1,1,2,3,4"));
}

}  // namespace
