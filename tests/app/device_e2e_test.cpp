// The device, network and update screens end to end: the real mirelserver
// and the real mirelapp (headless) in a fresh simulation root, keys through
// the panel's input FIFO, a raw client watching every report.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "common/hw_rev.h"
#include "support/panel.h"
#include "support/panel_device.h"
#include "support/process.h"

namespace {

namespace fs = std::filesystem;

class DeviceScreens : public PanelEndToEnd {
protected:
    void SetUp() override
    {
        PanelEndToEnd::SetUp();
        setenv("MIREL_USB_RETRY_MS", "0", 1);  // a missing stick fails at once
    }
    void open_settings()
    {
        ASSERT_NO_FATAL_FAILURE(open_entry(3, "PROJECT / DEVICE"));
        ASSERT_TRUE(focused_shows("button", "MANAGE PROJECT..."));
        panel.press(PANEL_KEY_NEXT);
        ASSERT_TRUE(focused_shows("button", "DEVICE SETTINGS..."));
        panel.press(PANEL_KEY_ENTER);
        ASSERT_TRUE(panel.wait_item("label", "DEVICE SETTINGS")) << panel.screen().text();
    }
    // Moves the focus n items on and waits until it shows kind.
    void step(int n, const std::string &kind)
    {
        for (int i = 0; i < n; i++)
            panel.press(PANEL_KEY_NEXT);
        ASSERT_TRUE(panel.wait_screen([&](const PanelScreen &s) { return s.focused() && s.focused()->kind == kind; }))
            << panel.screen().text();
    }
    // Moves the focus on (wrapping to the top when needed) to the control
    // in the row of caption.
    void focus_row(const std::string &caption)
    {
        for (int i = 0; i < 12; i++) {
            PanelScreen s = panel.screen();
            const PanelItem *c = s.find("label", caption), *f = s.focused();
            if (c != nullptr && f != nullptr && f->y == c->y && f->kind != "label")
                return;
            panel.press(PANEL_KEY_NEXT);
            panel.wait_screen([](const PanelScreen &) { return true; }, 300ms);
        }
        FAIL() << caption << " not focused on\n" << panel.screen().text();
    }
    size_t count(const std::string &text)
    {
        std::string r = watcher->reports();
        size_t n = 0;
        for (size_t at = r.find(text); at != std::string::npos; at = r.find(text, at + 1))
            n++;
        return n;
    }
    std::string p(const std::string &rest) { return std::to_string(panel_id) + "," + rest; }
};

TEST_F(DeviceScreens, DeviceNameReachesEveryClientAndTheMainMenu)
{
    start_all();
    ASSERT_NO_FATAL_FAILURE(open_settings());
    ASSERT_TRUE(panel.wait_screen([](const PanelScreen &s) {
        return s.focused() && s.focused()->kind == "textedit" && s.focused()->text.rfind("KARU8-", 0) == 0;
    })) << panel.screen().text();
    std::string name = panel.screen().focused()->text + "B";
    panel.turn(2);  // a "B" behind the name
    ASSERT_TRUE(panel.wait_item("textedit", name)) << panel.screen().text();
    panel.press(PANEL_KEY_ENTER);
    ASSERT_TRUE(watcher->wait("22," + p(name) + "\n")) << watcher->reports();
    RawClient late(port);
    ASSERT_TRUE(late.wait("," + name + "\n")) << late.reports();
    ASSERT_NO_FATAL_FAILURE(step(1, "spinner"));
    for (const char *title : {"PROJECT / DEVICE", "INPUT BUSES"}) {
        panel.press(PANEL_KEY_BACK);
        ASSERT_TRUE(panel.wait_item(title == std::string("INPUT BUSES") ? "button" : "label", title))
            << panel.screen().text();
    }
    ASSERT_TRUE(panel.wait_item("label", name)) << panel.screen().text();
}

TEST_F(DeviceScreens, StaticAddressAndNameServiceGoOutAsOneCommand)
{
    start_all();
    ASSERT_TRUE(send("21,W,0,3,10,0,0,5,24,0,0,0,0\n"));
    ASSERT_TRUE(watcher->wait(",3,10,0,0,5,24,0,0,0,0\n"));
    ASSERT_NO_FATAL_FAILURE(open_entry(0, "NETWORK & DIGITAL"));
    ASSERT_TRUE(focused_shows("spinner", "STATIC")) << panel.screen().text();
    ASSERT_NO_FATAL_FAILURE(step(4, "spinner"));  // the last octet of the address
    panel.turn_slowly(2);
    ASSERT_TRUE(focused_shows("spinner", "7"));
    ASSERT_NO_FATAL_FAILURE(step(6, "checkbox"));  // past the gateway and the bits: DNS Server
    panel.press(PANEL_KEY_ENTER);                  // off
    ASSERT_NO_FATAL_FAILURE(step(1, "button"));
    ASSERT_TRUE(focused_shows("button", "Press ENTER to set"));
    panel.press(PANEL_KEY_ENTER);
    // Mode 3 with bit 4 (no name service), 10.0.0.7/24 without gateway.
    ASSERT_TRUE(watcher->wait(",19,10,0,0,7,24,0,0,0,0\n")) << watcher->reports();
    std::string r = watcher->reports();
    size_t at = r.rfind("\n21,", r.find(",19,10,0,0,7,24,0,0,0,0\n"));
    EXPECT_EQ(r.substr(at + 1, 3 + std::to_string(panel_id).size() + 1), "21," + std::to_string(panel_id) + ",");
    ASSERT_TRUE(panel.wait_item("label", "IP Address changed.")) << panel.screen().text();
    panel.press(PANEL_KEY_ENTER);
    // Another client switches the name service on again: the box follows.
    ASSERT_TRUE(send("21,W,0,3,10,0,0,7,24,0,0,0,0\n"));
    ASSERT_TRUE(panel.wait_screen([](const PanelScreen &s) {
        const PanelItem *c = s.find("checkbox");
        return c != nullptr && c->text == "1";
    })) << panel.screen().text();
}

TEST_F(DeviceScreens, ServiceModeWarnsFirstOnRevisionOne)
{
    start_all();
    ASSERT_NO_FATAL_FAILURE(open_settings());
    if (!hw::has_service_page) {
        EXPECT_EQ(panel.screen().find("label", "SERVICE MODE"), nullptr);
        EXPECT_NE(panel.screen().find("label", "PROJECT LOAD = MUTE"), nullptr);
        return;
    }
    ASSERT_NE(panel.screen().find("label", "MUTE ON PROJ.-LOAD"), nullptr);
    ASSERT_NO_FATAL_FAILURE(step(4, "checkbox"));
    ASSERT_TRUE(panel.wait_item("label", "SERVICE MODE"));
    panel.turn(1);
    ASSERT_TRUE(panel.wait_item("label", "PLOP VERY LOUD!")) << panel.screen().text();
    panel.press(PANEL_KEY_ENTER);  // OK
    ASSERT_TRUE(watcher->wait("20," + p("1\n"))) << watcher->reports();
    ASSERT_NO_FATAL_FAILURE(focus_row("SERVICE MODE"));
    ASSERT_TRUE(focused_shows("checkbox", "1"));
    panel.turn(-1);  // off at once
    ASSERT_TRUE(watcher->wait("20," + p("0\n")));
    panel.turn(1);
    ASSERT_TRUE(panel.wait_item("label", "PLOP VERY LOUD!"));
    panel.press(PANEL_KEY_BACK);  // CANCEL
    ASSERT_NO_FATAL_FAILURE(focus_row("SERVICE MODE"));
    ASSERT_TRUE(focused_shows("checkbox", "0")) << panel.screen().text();
    EXPECT_EQ(count("20," + p("1\n")), 1u);  // the server stays out of service mode
}

TEST_F(DeviceScreens, FirmwareUpdateFailsWithoutStickThenStartsTheUpdater)
{
    start_all();
    // The updater of this revision: a shim that says how it was started.
    fs::path updater = root.path(hw::updater_path);
    fs::create_directories(updater.parent_path());
    std::string ran = root.path("/tmp/updater.ran");
    std::ofstream(updater) << "#!/bin/sh\necho \"$0\" > '" << ran << "'\n";
    fs::permissions(updater, fs::perms::owner_all);

    ASSERT_NO_FATAL_FAILURE(open_settings());
    ASSERT_NO_FATAL_FAILURE(step(hw::has_service_page ? 7 : 6, "button"));
    ASSERT_TRUE(focused_shows("button", "UPDATE..."));
    panel.press(PANEL_KEY_ENTER);
    ASSERT_TRUE(panel.wait_item("label", "FIRMWARE UPDATE")) << panel.screen().text();
    panel.press(PANEL_KEY_ENTER);  // YES
    ASSERT_TRUE(watcher->wait("26," + p("0\n"), 10s)) << watcher->reports();
    ASSERT_TRUE(panel.wait_item("label", "preparation failed.")) << panel.screen().text();
    panel.press(PANEL_KEY_ENTER);
    ASSERT_TRUE(panel.wait_screen([](const PanelScreen &s) { return !s.find("label", "preparation failed."); }));

    // A report 26 for another client's request changes nothing here.
    ASSERT_TRUE(send("26,W,517204968\n"));
    ASSERT_TRUE(watcher->wait("26," + std::to_string(watcher_id) + ",0\n"));

    ASSERT_TRUE(panel.wait_item("label", "DEVICE SETTINGS"));
    EXPECT_FALSE(fs::exists(ran));

    fs::create_directories(root.path("/dev/sda1/firmware"));
    for (int i = 0; i < 10 && !focused_shows("button", "UPDATE...", 300ms); i++)
        panel.press(PANEL_KEY_NEXT);
    ASSERT_TRUE(focused_shows("button", "UPDATE...")) << panel.screen().text();
    panel.press(PANEL_KEY_ENTER);
    ASSERT_TRUE(panel.wait_item("label", "FIRMWARE UPDATE"));
    panel.press(PANEL_KEY_ENTER);
    ASSERT_TRUE(watcher->wait("26," + p("517204968\n"), 20s)) << watcher->reports();
    // The shell makes the file before echo writes into it: wait for the line.
    std::string line;
    ASSERT_TRUE(wait_until(
        [&] {
            std::ifstream in(ran);
            return std::getline(in, line) && !line.empty();
        },
        10s))
        << panel.err();
    EXPECT_EQ(line, updater.string());
    EXPECT_TRUE(panel.running());  // it stays, asleep, until the updater replaces it
}

}  // namespace
