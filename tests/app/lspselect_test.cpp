// The loudspeaker selection in the panel's own process: the listing it asks
// for, browsing the folders, the marks, the question before command 36 and
// the group's outputs afterwards.
#include <gtest/gtest.h>

#include <string>

#include "channel_screens.h"
#include "gui/lspselect.h"
#include "gui/outputmap_properties.h"
#include "network.h"
#include "sgui/sgui_msgbox.h"
#include "sgui/sgui_screentext.h"
#include "sgui/sgui_widget.h"

namespace {

// The library as the server lists it: entry 0, a locked sub at the top,
// a folder with a two-way top and a sub-folder.
constexpr const char *LISTING =
    "65,0,0\n"
    "64,0,0,0,1,0,1,1,Direct%20Out\n"
    "64,0,3,0,1,0,1,1,Sub%2018\n"
    "64,0,1,0,0,1,0,0,TOPS\n"
    "64,0,2,1,1,0,0,2,Top%20Box\n"
    "64,0,4,1,0,1,0,0,OLD\n"
    "66,0\n";

class LspSelect : public ChannelScreens {
protected:
    lspselect_widgets *open(int group)
    {
        lspselect_open(group);
        settle();
        return lspselect_get();
    }
    // The rows shown: mark, name, ways and lock of each, "|" between them.
    std::string rows()
    {
        std::string t;
        for (const lspselect_row &r : lspselect_get()->rows) {
            t += t.empty() ? "" : "|";
            t += std::string(sgui_get_text(r.mark)) + " " + sgui_get_text(r.name) + " " + sgui_get_text(r.ways) + " " +
                 sgui_get_text(r.lock);
        }
        return t;
    }
    void enter_row(int i)
    {
        sgui_focus_set(lspselect_get()->rows[(size_t)i].name);
        key(SGUI_KEY_ENTER);
        settle();
    }
};

constexpr const char *F = "\uF07B", *UP = "\uF148", *CUR = "\uF00C", *LOCK = "\uF023";

TEST_F(LspSelect, OpeningAsksForTheLibraryAndListsTheTopLevel)
{
    lspselect_widgets *w = open(0);
    EXPECT_EQ(network_take_output(), "1026,0,-1\n");
    EXPECT_EQ(sgui_root(), w->root);
    EXPECT_EQ(rows(), " ...  ");  // until the listing is complete
    dispatch(LISTING);
    // The group plays entry 0 (after start every output does).
    EXPECT_EQ(rows(), std::string(CUR) + " Direct Out 1-WAY " + LOCK + "| Sub 18 1-WAY " + LOCK + "|" + F + " TOPS  ");
    EXPECT_STREQ(sgui_get_text(w->path), "LIBRARY");
    EXPECT_STREQ(sgui_get_text(w->status), "OUT 1: ");
    EXPECT_EQ(sgui_focus(), w->rows[0].name);
}

TEST_F(LspSelect, FoldersOpenAndBackGoesUpThenLeaves)
{
    outputmap_properties_open(0);
    settle();
    lspselect_widgets *w = open(0);
    dispatch(LISTING);
    enter_row(2);  // TOPS
    EXPECT_STREQ(sgui_get_text(w->path), "LIBRARY / TOPS");
    EXPECT_EQ(rows(), std::string(UP) + " ..  | Top Box 2-WAY |" + F + " OLD  ");
    enter_row(2);  // OLD: empty
    EXPECT_STREQ(sgui_get_text(w->path), "LIBRARY / TOPS / OLD");
    EXPECT_EQ(rows(), std::string(UP) + " ..  ");
    enter_row(0);  // up
    EXPECT_STREQ(sgui_get_text(w->path), "LIBRARY / TOPS");
    EXPECT_EQ(sgui_focus(), w->rows[2].name);  // on the folder it came from
    key(SGUI_KEY_BACK);
    settle();
    EXPECT_STREQ(sgui_get_text(w->path), "LIBRARY");
    EXPECT_EQ(sgui_root(), w->root);
    key(SGUI_KEY_BACK);
    settle();
    EXPECT_EQ(sgui_root(), outputmap_properties_get()->s.root);
}

TEST_F(LspSelect, ChoosingAnEntryAsksAndSendsCommand36OnlyOnYes)
{
    lspselect_widgets *w = open(0);
    dispatch(LISTING);
    network_take_output();
    enter_row(2);  // TOPS
    enter_row(1);  // Top Box
    ASSERT_TRUE(sgui_message_box_open());
    EXPECT_NE(sgui_screen_text().find("Output(s) will mute!"), std::string::npos);
    key(SGUI_KEY_PAGE_NEXT);  // NO
    key(SGUI_KEY_ENTER);
    settle();
    EXPECT_FALSE(sgui_message_box_open());
    EXPECT_EQ(network_take_output(), "");
    enter_row(1);
    key(SGUI_KEY_ENTER);  // YES
    settle();
    EXPECT_EQ(network_take_output(), "36,0,0,2\n");
    EXPECT_EQ(sgui_root(), w->root);
    // The server takes outputs 0 and 1 into group 0: the screen shows them.
    dispatch("32,0,0,0,2,3,4,5,6,7,2,2,0,0,0,0,0,0\n34,0,0,Top%20Box\n35,0,0,MAIN\n");
    EXPECT_STREQ(sgui_get_text(w->header), "OUT 1+2 MAIN");
    EXPECT_STREQ(sgui_get_text(w->status), "OUT 1+2: Top Box");
    EXPECT_EQ(rows(), std::string(UP) + " ..  |" + CUR + " Top Box 2-WAY |" + F + " OLD  ");
}

TEST_F(LspSelect, AListingOfOneEntryChangesOnlyThatEntry)
{
    lspselect_widgets *w = open(0);
    dispatch(LISTING);
    dispatch("65,0,1\n64,0,3,0,2,0,0,1,Sub%2021\n66,0\n");
    EXPECT_EQ(rows(), std::string(CUR) + " Direct Out 1-WAY " + LOCK + "| Sub 21 1-WAY |" + F + " TOPS  ");
    // A folder that goes away takes the screen back to the top.
    enter_row(2);
    dispatch("65,0,0\n64,0,0,0,1,0,1,1,Direct%20Out\n66,0\n");
    EXPECT_EQ(w->folder, 0);
    EXPECT_EQ(rows(), std::string(CUR) + " Direct Out 1-WAY " + LOCK);
}

}  // namespace
