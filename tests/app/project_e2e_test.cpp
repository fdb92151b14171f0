// The project screens end to end: the real mirelserver and the real
// mirelapp (headless) in a fresh simulation root, the USB stick as the
// folder DIR/dev/sda1, keys written into the panel's input FIFO, a raw
// client watching and changing the device, the database looked into with
// Debian's sqlite3 shell.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "support/panel.h"
#include "support/panel_device.h"
#include "support/process.h"
#include "support/sim_root.h"
#include "support/sqlite_shell.h"

namespace {

class ProjectScreens : public PanelEndToEnd {
protected:
    void SetUp() override
    {
        PanelEndToEnd::SetUp();
        setenv("MIREL_USB_RETRY_MS", "0", 1);  // a missing stick fails at once
    }
    std::string sql(const std::string &query) { return sqlite_shell(root.path("/mnt/userdata/db_current.db"), query); }
    int project_id(const std::string &label)
    {
        return atoi(sql("SELECT id FROM project WHERE label='" + label + "';").c_str());
    }
    // Saves the live state under a name from the watcher; it becomes live.
    void seed(const std::string &label)
    {
        ASSERT_TRUE(send("102,W,0," + label + "\n"));
        ASSERT_TRUE(wait_until([&] { return project_id(label) > 0; })) << label;
    }
    // Moves the focus to the button (or row) that shows text and presses Enter.
    void choose(const std::string &text)
    {
        ASSERT_TRUE(panel.wait_item("button", text)) << text << " not on\n" << panel.screen().text();
        for (int tries = 0; tries < 3 && !focused_shows("button", text, 300ms); tries++) {
            PanelScreen s = panel.screen();
            int at = -1, target = -1, i = 0;
            for (const PanelItem &it : s.items()) {
                if (it.kind != "button" && it.kind != "textedit")
                    continue;
                if (it.focused())
                    at = i;
                if (it.kind == "button" && it.text == text && target < 0)
                    target = i;
                i++;
            }
            ASSERT_GE(at, 0) << s.text();
            for (int k = at; k < target; k++)
                panel.press(PANEL_KEY_NEXT);
            for (int k = at; k > target; k--)
                panel.press(PANEL_KEY_PREV);
        }
        ASSERT_TRUE(focused_shows("button", text)) << panel.screen().text();
        ASSERT_TRUE(panel.press(PANEL_KEY_ENTER));
    }
    // A message box shows a line; Enter answers it with its first button.
    void answer_box(const std::string &line)
    {
        ASSERT_TRUE(panel.wait_item("label", line)) << line << " not on\n" << panel.screen().text();
        ASSERT_TRUE(panel.press(PANEL_KEY_ENTER));
        ASSERT_TRUE(panel.wait_screen([&](const PanelScreen &s) { return s.find("label", line) == nullptr; }))
            << panel.screen().text();
    }
    void open_menu()
    {
        open_entry(3, "PROJECT / DEVICE");
        ASSERT_TRUE(focused_shows("button", "MANAGE PROJECT..."));
        panel.press(PANEL_KEY_ENTER);
        ASSERT_TRUE(panel.wait_item("label", "MANAGE PROJECT")) << panel.screen().text();
    }
    // Types a four-digit code into a focused code entry and enters it.
    void enter_code(const char *code)
    {
        for (int i = 0; i < 3; i++)
            panel.press(PANEL_KEY_PAGE_PREV);
        for (int i = 0; i < 4; i++) {
            if (i > 0)
                panel.press(PANEL_KEY_PAGE_NEXT);
            if (code[i] != '0')
                panel.turn(code[i] - '0');
        }
        ASSERT_TRUE(panel.wait_item("textedit", code)) << panel.screen().text();
        panel.press(PANEL_KEY_ENTER);
    }
    std::string stick() { return root.path("/dev/sda1"); }
};

TEST_F(ProjectScreens, NewSaveLoadAnotherAndBack)
{
    start_all();
    seed("Alpha");
    open_menu();
    choose("NEW...");
    ASSERT_TRUE(panel.wait_item("label", "NAME NEW EMPTY PROJECT"));
    // An empty name is refused.
    panel.press(PANEL_KEY_ENTER);
    answer_box("Name is empty.");
    panel.turn(2);  // "B"
    ASSERT_TRUE(panel.wait_item("textedit", "B"));
    panel.press(PANEL_KEY_ENTER);
    answer_box("empty project?");
    ASSERT_TRUE(wait_until([&] { return project_id("B") > 0; })) << sql("SELECT id,label FROM project;");
    int b = project_id("B"), alpha = project_id("Alpha");
    ASSERT_TRUE(panel.wait_item("label", "MANAGE PROJECT"));
    ASSERT_TRUE(panel.wait_item("label", "B"));

    // A change from another client, saved on the panel.
    ASSERT_TRUE(send("2,W,0,-6.5\n"));
    ASSERT_TRUE(watcher->wait("2," + std::to_string(watcher_id) + ",0,-6.5"));
    choose("SAVE");
    answer_box("Project saved.");
    EXPECT_EQ(sql("SELECT gain FROM inputbus WHERE id_project=" + std::to_string(b) + " AND bus_id=0;"), "-6.5\n");

    // Load Alpha, then B again: the saved gain comes back.
    choose("LOAD...");
    ASSERT_TRUE(panel.wait_item("label", "LOAD PROJECT"));
    choose("Alpha");
    answer_box("to load the project?");
    ASSERT_TRUE(seen("100,P," + std::to_string(alpha) + ",0,0,0,Alpha"));
    ASSERT_TRUE(panel.wait_item("label", "Alpha"));
    choose("LOAD...");
    choose("B");
    answer_box("to load the project?");
    ASSERT_TRUE(watcher->wait("2,0,0,-6.5")) << watcher->reports();
    ASSERT_TRUE(panel.wait_screen([](const PanelScreen &s) {
        const PanelItem *t = s.find("label", "MANAGE PROJECT");
        return t != nullptr && s.find("label", "B") != nullptr && s.find("label", "Alpha") == nullptr;
    })) << panel.screen().text();
}

TEST_F(ProjectScreens, ALockCodeGuardsSavingAndTheSecurityPage)
{
    start_all();
    seed("Gig");
    int gig = project_id("Gig");
    open_menu();
    choose("SECURITY...");
    ASSERT_TRUE(panel.wait_item("label", "PROJECT SECURITY"));
    panel.press(PANEL_KEY_ENTER);  // READ ONLY
    ASSERT_TRUE(seen("100,P," + std::to_string(gig) + ",-1,"));
    panel.press(PANEL_KEY_NEXT);
    panel.press(PANEL_KEY_NEXT);  // the code
    enter_code("1234");
    ASSERT_TRUE(seen("100,P," + std::to_string(gig) + ",1235,"));
    ASSERT_TRUE(panel.wait_screen([](const PanelScreen &s) {
        int ticked = 0;
        for (const PanelItem &it : s.items())
            ticked += it.kind == "checkbox" && it.text == "1";
        return ticked == 2;
    })) << panel.screen().text();
    panel.press(PANEL_KEY_BACK);
    choose("SAVE");  // stored without a code yet: no question
    answer_box("Project saved.");
    EXPECT_EQ(sql("SELECT readonly FROM project WHERE id=" + std::to_string(gig) + ";"), "1235\n");

    // Now the code is stored: without it the save is refused.
    choose("SAVE");
    ASSERT_TRUE(panel.wait_item("label", "to overwrite:"));
    panel.press(PANEL_KEY_ENTER);  // 0000
    ASSERT_TRUE(panel.wait_item("label", "Wrong lock code.")) << panel.screen().text();
    ASSERT_TRUE(panel.wait_item("label", "Project not saved."));
    answer_box("Wrong lock code.");
    choose("SAVE");
    ASSERT_TRUE(panel.wait_item("label", "to overwrite:"));
    enter_code("1234");
    answer_box("Project saved.");

    // The page of a locked project needs its code.
    choose("SECURITY...");
    ASSERT_TRUE(panel.wait_item("label", "Enter lock code:"));
    enter_code("1111");
    answer_box("Wrong lock code!");
    choose("SECURITY...");
    enter_code("1234");
    ASSERT_TRUE(panel.wait_item("label", "PROJECT SECURITY"));
    ASSERT_TRUE(panel.wait_item("textedit", "1234"));
}

TEST_F(ProjectScreens, DeleteUnderTheDeleteLock)
{
    start_all();
    seed("One");
    seed("Two");
    seed("Three");  // live: not offered
    open_menu();
    choose("DELETE...");
    ASSERT_TRUE(panel.wait_item("button", "Two"));
    EXPECT_EQ(panel.screen().find("button", "Three"), nullptr);
    choose("One");
    choose("DELETE");
    answer_box("selected projects?");
    ASSERT_TRUE(wait_until([&] { return project_id("One") == 0; })) << sql("SELECT id,label FROM project;");
    EXPECT_GT(project_id("Two"), 0);
    ASSERT_TRUE(panel.wait_item("label", "MANAGE PROJECT"));
}

TEST_F(ProjectScreens, AnotherClientsLoadAbortsTheDeletion)
{
    start_all();
    seed("Keep");
    seed("Live");
    open_menu();
    choose("DELETE...");
    // The list came after the lock was taken: the lock is the panel's now.
    ASSERT_TRUE(panel.wait_item("button", "Keep"));
    ASSERT_TRUE(send("99,W," + std::to_string(project_id("Live")) + "\n"));
    ASSERT_TRUE(watcher->wait("100," + std::to_string(watcher_id) + ",")) << watcher->reports();
    choose("Keep");
    choose("DELETE");
    answer_box("selected projects?");
    ASSERT_TRUE(panel.wait_item("label", "Deletion aborted")) << panel.screen().text();
    ASSERT_TRUE(panel.wait_item("label", "by another client."));
    EXPECT_GT(project_id("Keep"), 0);
}

TEST_F(ProjectScreens, ExportRemoveImportAndAPulledStick)
{
    std::filesystem::create_directories(stick());
    start_all();
    seed("Gig%3A%20A%2FB");  // "Gig: A/B", stored encoded
    seed("Other");
    open_menu();
    choose("EXPORT...");
    ASSERT_TRUE(panel.wait_item("label", "EXPORT PROJECTS TO USB"));
    choose("Gig: A/B");
    choose("EXPORT");
    answer_box("Ready for export");
    answer_box("Export finished.");
    ASSERT_TRUE(file_exists(stick() + "/Gig AB.karu8"));

    // Gone from the device ...
    int gig = project_id("Gig%3A%20A%2FB");
    ASSERT_TRUE(send("106,W,41862539\n103,W," + std::to_string(gig) + "\n106,W,0\n"));
    ASSERT_TRUE(wait_until([&] { return project_id("Gig%3A%20A%2FB") == 0; }));
    // ... and back from the stick, named after the file.
    panel.press(PANEL_KEY_BACK);
    choose("IMPORT...");
    answer_box("USB device inserted?");
    ASSERT_TRUE(panel.wait_item("label", "IMPORT PROJECTS FROM USB")) << panel.screen().text();
    choose("Gig AB");
    choose("IMPORT");
    answer_box("Ready for import");
    answer_box("Import finished.");
    EXPECT_GT(project_id("Gig%20AB"), 0) << sql("SELECT id,label FROM project;");

    // The stick pulled: the user is told.
    std::filesystem::remove_all(stick());
    panel.press(PANEL_KEY_BACK);
    choose("EXPORT...");
    choose("Other");
    choose("EXPORT");
    answer_box("Ready for export");
    ASSERT_TRUE(panel.wait_item("label", "Could not mount")) << panel.screen().text();
    answer_box("USB device.");
    panel.press(PANEL_KEY_BACK);
    choose("IMPORT...");
    answer_box("USB device inserted?");
    answer_box("Could not mount");
}

}  // namespace
