// The EQ editor end to end: the real mirelserver and the real mirelapp
// (headless), keys written into the panel's input FIFO, another client
// watching the server's reports, the panel read through screen.txt and
// its screenshot.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <sys/stat.h>
#include <thread>

#include "support/panel.h"
#include "support/process.h"
#include "support/sim_root.h"

namespace {

class EqEndToEnd : public testing::Test {
protected:
    void SetUp() override { port = free_port(); }
    void start_server()
    {
        server.start(root.dir(), port);
        ASSERT_TRUE(wait_until([&] { return accepts_tcp(port) || !server.running(); }, 5s)) << server.err();
        ASSERT_TRUE(server.running()) << server.err();
    }
    // Server and panel up, then the watcher.
    void start_all()
    {
        start_server();
        panel.start(root, port);
        ASSERT_TRUE(panel.wait_connected()) << panel.err();
        std::string err = panel.err();
        panel_id = atoi(err.c_str() + err.find("conn id: ") + 9);
        watcher = std::make_unique<RawClient>(port);
        ASSERT_TRUE(watcher->ok());
        watcher_id = watcher->conn_id();
        ASSERT_NE(watcher_id, panel_id);
        ASSERT_TRUE(panel.wait_item("button", "INPUT BUSES", 10s)) << panel.screen().text();
    }
    // From the main menu (focus on the network line) into an entry's list.
    void open_list(int entry_below_network, const char *title)
    {
        for (int i = 0; i < entry_below_network; i++)
            ASSERT_TRUE(panel.press(PANEL_KEY_NEXT));
        ASSERT_TRUE(panel.press(PANEL_KEY_ENTER));
        ASSERT_TRUE(panel.wait_item("label", title)) << panel.screen().text();
    }
    void open_bus_eq()
    {
        open_list(1, "INPUT BUSES");
        ASSERT_TRUE(panel.press(PANEL_KEY_ENTER));
        ASSERT_TRUE(panel.wait_item("label", "INPUT BUS EQ")) << panel.screen().text();
    }
    // Up to the tab bar (a container: no line of screen.txt is focused
    // then), over to the page, and down to the page's first control.
    void page(const char *name)
    {
        for (int i = 0; i < 8 && panel.screen().focused() != nullptr; i++)
            ASSERT_TRUE(panel.press(PANEL_KEY_PREV));
        ASSERT_EQ(panel.screen().focused(), nullptr) << panel.screen().text();
        for (int i = 0; i < 4 && !panel.wait_item("eqvis", std::string("page=") + name, 300ms); i++)
            ASSERT_TRUE(panel.press(PANEL_KEY_PAGE_NEXT));
        ASSERT_TRUE(panel.wait_item("eqvis", std::string("page=") + name)) << panel.screen().text();
        ASSERT_TRUE(panel.press(PANEL_KEY_NEXT));
    }
    // The focused control shows text.
    bool focused_shows(const std::string &kind, const std::string &text)
    {
        return panel.wait_screen([&](const PanelScreen &s) {
            const PanelItem *f = s.focused();
            return f != nullptr && f->kind == kind && f->text == text;
        });
    }
    // The level of the curve in the display's 1 kHz column, from screen.txt.
    float curve_at_1k()
    {
        PanelScreen screen = panel.screen();
        const PanelItem *v = screen.find("eqvis");
        size_t at = v != nullptr ? v->text.find("1k=") : std::string::npos;
        return at == std::string::npos ? -99.0f : std::stof(v->text.substr(at + 3));
    }
    // The rows of the curve's pixels in a column of the display (screenshot).
    std::vector<int> curve_rows(int column)
    {
        PanelItem vis;
        PanelScreen screen = panel.screen();
        if (const PanelItem *v = screen.find("eqvis"))
            vis = *v;
        PanelBitmap bmp;
        std::vector<int> rows;
        if (vis.h == 0 || !panel.shot(&bmp))
            return rows;
        for (int y = 0; y < vis.h; y++) {
            uint32_t px = bmp.pixel(vis.x + column, vis.y + y);
            if (std::min({px >> 16, (px >> 8) & 0xFF, px & 0xFF}) > 100)
                rows.push_back(y);
        }
        return rows;
    }
    // A report line of a change the panel made: P stands for its connection id.
    bool seen(std::string line)
    {
        line.replace(line.find(",P,"), 3, "," + std::to_string(panel_id) + ",");
        bool ok = watcher->wait(line);
        if (!ok)
            ADD_FAILURE() << line << " not in\n" << watcher->reports();
        return ok;
    }
    SimRoot root;
    int port = 0, panel_id = 0, watcher_id = 0;
    // A command line of the watcher: W stands for its connection id.
    bool send(std::string line)
    {
        line.replace(line.find(",W,"), 3, "," + std::to_string(watcher_id) + ",");
        return watcher->send(line);
    }
    ServerProcess server;
    PanelProcess panel;
    std::unique_ptr<RawClient> watcher;
};

TEST_F(EqEndToEnd, GraphicBandSeventeenRisesAtOneKilohertz)
{
    ASSERT_NO_FATAL_FAILURE(start_all());
    ASSERT_NO_FATAL_FAILURE(open_bus_eq());
    PanelScreen first = panel.screen();
    const PanelItem *vis = first.find("eqvis");
    ASSERT_NE(vis, nullptr);
    int zero_row = vis->h / 2;
    // Column 174: the 900 Hz grid line, between the handles of bands 16 and 17.
    EXPECT_EQ(curve_rows(174), std::vector<int>{zero_row});
    // FREQ: seventeen detents to 1 kHz, then GAIN up three detents, one a cycle.
    ASSERT_TRUE(panel.press(PANEL_KEY_NEXT));
    ASSERT_TRUE(panel.turn(17));
    ASSERT_TRUE(focused_shows("spinner", "1k"));
    ASSERT_TRUE(panel.press(PANEL_KEY_PREV));
    // Each detent is one command of 1 dB, and every client sees it.
    for (const char *line : {"\n12,P,0,17,1.0\n", "\n12,P,0,17,2.0\n", "\n12,P,0,17,3.0\n"}) {
        ASSERT_TRUE(panel.turn(1));
        seen(line);
    }
    EXPECT_TRUE(focused_shows("spinner", "3.0"));
    // The server's curve comes back and is drawn: up at 1 kHz. (The pixels
    // are read on the high-pass page: its one handle is far from 1 kHz.)
    EXPECT_TRUE(wait_until([&] { return curve_at_1k() > 2.5f; })) << panel.screen().text();
    ASSERT_NO_FATAL_FAILURE(page("HPF"));
    EXPECT_GT(curve_at_1k(), 2.5f);
    std::vector<int> rows = curve_rows(178);  // the 1 kHz column
    ASSERT_FALSE(rows.empty());
    EXPECT_LE(rows.size(), 3u);  // a line, not a handle
    EXPECT_LT(rows.back(), zero_row - 6);  // 3.2 pixels per dB
    EXPECT_EQ(curve_rows(30), std::vector<int>{zero_row});  // 40 Hz stays flat
}

TEST_F(EqEndToEnd, ParametricShelfAndHighPassThroughTheirControls)
{
    ASSERT_NO_FATAL_FAILURE(start_all());
    ASSERT_NO_FATAL_FAILURE(open_bus_eq());
    ASSERT_NO_FATAL_FAILURE(page("PEQ"));
    ASSERT_TRUE(panel.turn_slowly(2));  // GAIN of band 1
    seen("\n16,P,0,0,50,1.0,2.0,0\n");
    ASSERT_TRUE(panel.press(PANEL_KEY_NEXT));  // FREQ
    ASSERT_TRUE(panel.turn(1));
    seen("\n16,P,0,0,51,1.0,2.0,0\n");
    ASSERT_TRUE(panel.press(PANEL_KEY_NEXT));  // Q: doubled steps from 1
    ASSERT_TRUE(panel.turn(1));
    seen("\n16,P,0,0,51,1.2,2.0,0\n");
    ASSERT_TRUE(panel.press(PANEL_KEY_NEXT));  // FLAT ALL
    ASSERT_TRUE(panel.press(PANEL_KEY_NEXT));  // ENABLED
    ASSERT_TRUE(focused_shows("checkbox", "1"));
    ASSERT_TRUE(panel.turn(-1));
    seen("\n16,P,0,0,51,1.2,2.0,1\n");
    // Band 4 through the curve display's keys: the controls show it.
    for (int i = 0; i < 3; i++)
        ASSERT_TRUE(panel.press(PANEL_KEY_PAGE_NEXT));
    ASSERT_TRUE(panel.wait_item("eqvis", "sel=4")) << panel.screen().text();
    EXPECT_TRUE(panel.wait_item("spinner", "2.5k"));

    ASSERT_NO_FATAL_FAILURE(page("SHELF"));
    ASSERT_TRUE(panel.turn(1));
    seen("\n17,P,0,0,100,1.0,0\n");
    ASSERT_TRUE(panel.press(PANEL_KEY_PAGE_NEXT));  // the high shelf
    ASSERT_TRUE(panel.wait_item("spinner", "10.0k"));
    ASSERT_TRUE(panel.turn(-1));
    seen("\n17,P,0,1,10000,-1.0,0\n");

    ASSERT_NO_FATAL_FAILURE(page("HPF"));
    ASSERT_TRUE(panel.turn_slowly(2));  // FREQ from 80 Hz
    seen("\n18,P,0,82,0,0\n");
    ASSERT_TRUE(panel.press(PANEL_KEY_NEXT));  // TYPE through every kind
    for (int t = 1; t <= 4; t++) {
        ASSERT_TRUE(panel.turn(1));
        seen("\n18,P,0,82," + std::to_string(t) + ",0\n");
    }
    EXPECT_TRUE(focused_shows("spinner", "LR12"));
    // The page bypass: the flags word with the high-pass bit.
    ASSERT_TRUE(panel.press(PANEL_KEY_NEXT));
    ASSERT_TRUE(panel.turn(1));
    seen("\n14,P,0,2048\n");
}

TEST_F(EqEndToEnd, AnotherClientsChangeRedrawsOnlyTheChannelShown)
{
    ASSERT_NO_FATAL_FAILURE(start_all());
    ASSERT_NO_FATAL_FAILURE(open_bus_eq());  // bus 0
    ASSERT_TRUE(panel.wait_item("eqvis", "curves="));
    std::string before = panel.screen().find("eqvis")->text;
    // Bus 2 (linked with no other) changes; then bus 0's label, which the
    // header shows: by then the panel has had bus 2's curve too (reports
    // come in order).
    ASSERT_TRUE(send("12,W,2,17,6.0\n"));
    ASSERT_TRUE(watcher->wait("\n13,0,2,"));
    ASSERT_TRUE(send("9,W,0,MARK\n"));
    ASSERT_TRUE(panel.wait_item("label", "IN 1 MARK")) << panel.screen().text();
    EXPECT_EQ(panel.screen().find("eqvis")->text, before);
    // Bus 0's band 1 (selected on the graphic page): curve and control follow.
    ASSERT_TRUE(send("12,W,0,0,-6.0\n"));
    EXPECT_TRUE(focused_shows("spinner", "-6.0"));
    EXPECT_TRUE(wait_until([&] { return panel.screen().find("eqvis")->text != before; }));
}

// A state file in which outputs 0 and 1 form output group 0.
void make_two_output_group(const SimRoot &root, int port, ServerProcess &server)
{
    // Let the server write its file once (three seconds after a change).
    server.start(root.dir(), port);
    std::string file = root.path("/mnt/userdata/sys_file.current");
    ASSERT_TRUE(wait_until([&] { return accepts_tcp(port); }));
    {
        RawClient c(port);
        ASSERT_TRUE(c.send("35,0,0,MAIN\n"));
        // Written in place: complete once it has all its bytes.
        ASSERT_TRUE(wait_until([&] { return read_file(file).size() == 23104; }, 10s));
    }
    server.stop();
    // The record starts behind the 8-byte header; output records of 1688
    // bytes from record offset 9024, group_lsp at 352; CRC-32 at 23100.
    std::string d = read_file(file);
    ASSERT_EQ(d.size(), 23104u);
    int32_t group = 0;
    memcpy(&d[8 + 9024 + 1688 + 352], &group, 4);
    uint32_t crc = 0xFFFFFFFFu;
    for (size_t i = 0; i < 23100; i++) {
        crc ^= (unsigned char)d[i];
        for (int k = 0; k < 8; k++)
            crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1)));
    }
    crc = ~crc;
    memcpy(&d[23100], &crc, 4);
    write_file(file, d);
}

float out_peq_gain(const std::string &state, int output, int band)
{
    float g;
    memcpy(&g, &state[8 + 9024 + 1688 * (size_t)output + 20 + 16 * (size_t)band + 8], 4);
    return g;
}

TEST_F(EqEndToEnd, OutputGroupEditorEditsTheWholeGroup)
{
    make_two_output_group(root, port, server);
    if (HasFatalFailure())
        return;
    std::string file = root.path("/mnt/userdata/sys_file.current");
    struct stat st0;
    ASSERT_EQ(stat(file.c_str(), &st0), 0);
    ASSERT_NO_FATAL_FAILURE(start_all());
    ASSERT_NO_FATAL_FAILURE(open_list(2, "OUTPUTS"));
    // One row for the group of outputs 1 and 2.
    PanelScreen list = panel.screen();
    ASSERT_NE(list.find("button", "OUT 1+2 MAIN"), nullptr) << list.text();
    EXPECT_EQ(list.find("button", "OUT 2"), nullptr) << list.text();
    ASSERT_TRUE(panel.press(PANEL_KEY_ENTER));
    ASSERT_TRUE(panel.wait_item("label", "OUTPUT EQ"));
    EXPECT_NE(panel.screen().find("label", "OUT 1+2 MAIN"), nullptr);
    EXPECT_NE(panel.screen().find("eqvis", "page=PEQ"), nullptr);
    ASSERT_TRUE(panel.turn_slowly(2));
    seen("\n45,P,0,0,50,1.0,2.0,0\n");
    // The next save of the state shows both outputs of the group changed.
    EXPECT_TRUE(wait_until(
        [&] {
            std::string d = read_file(file);
            return d.size() == 23104 && out_peq_gain(d, 0, 0) == 2.0f && out_peq_gain(d, 1, 0) == 2.0f;
        },
        10s));
    EXPECT_EQ(out_peq_gain(read_file(file), 2, 0), 0.0f);
}

}  // namespace
