// The channel screens end to end: the real mirelserver and the real
// mirelapp (headless), level values written into the FPGA window of the
// simulation root, keys written into the panel's input FIFO, other clients
// watching and changing the device, the panel read through screen.txt and
// its screenshot.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <string>
#include <thread>
#include <vector>

#include "app_test.h"
#include "support/fpga_view.h"
#include "support/panel.h"
#include "support/panel_device.h"
#include "support/process.h"
#include "support/sim_root.h"

namespace {

// The FPGA's level blocks, 64 bytes apart: buses from 0xA000, outputs from
// 0xA020; word 5 the input level, word 6 the output level (largest squared
// sample since the server last read and cleared it).
constexpr uint32_t LEVEL_BUS = 0xA000, LEVEL_OUT = 0xA020, LEVEL_STRIDE = 64;
constexpr uint32_t BAR_COLOUR = 0xCE6E15;  // RGB 206, 110, 21

// Stands in for the FPGA's level accumulators: keeps writing the values,
// since the server clears them on every cycle.
class LevelWriter {
public:
    explicit LevelWriter(const std::string &fpgabus) : fpga_(fpgabus, true)
    {
        for (auto &v : bus_)
            v = 0.0f;
        for (auto &v : out_)
            v = 0.0f;
        thread_ = std::thread([this] {
            while (!stop_) {
                for (uint32_t i = 0; i < 8; i++) {
                    fpga_.set_f32(LEVEL_BUS + LEVEL_STRIDE * i + 4 * 5, bus_[i]);
                    fpga_.set_f32(LEVEL_OUT + LEVEL_STRIDE * i + 4 * 6, out_[i]);
                }
                std::this_thread::sleep_for(2ms);
            }
        });
    }
    ~LevelWriter()
    {
        stop_ = true;
        thread_.join();
    }
    bool ok() const { return fpga_.ok(); }
    // Levels in dBFS.
    void bus(int i, float db) { bus_[i] = std::pow(10.0f, db / 10.0f); }
    void output(int i, float db) { out_[i] = std::pow(10.0f, db / 10.0f); }

private:
    FpgaView fpga_;
    std::atomic<float> bus_[8], out_[8];
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

std::vector<PanelItem> items(const PanelScreen &s, const std::string &kind)
{
    std::vector<PanelItem> v;
    for (const PanelItem &it : s.items())
        if (it.kind == kind)
            v.push_back(it);
    return v;
}

// A meter's value and bar from its text ("0.2 dBu bar=48").
float meter_value(const PanelItem &m)
{
    return m.text.rfind("-inf", 0) == 0 ? -999.0f : std::stof(m.text);
}

int meter_bar(const PanelItem &m)
{
    size_t at = m.text.find("bar=");
    return at == std::string::npos ? -1 : std::stoi(m.text.substr(at + 4));
}

class Channels : public PanelEndToEnd {
protected:
    // Waits until meter i of the screen shows value (in dBu) and returns it.
    bool meter_shows(int i, float value, PanelItem *out)
    {
        return panel.wait_screen([&](const PanelScreen &s) {
            std::vector<PanelItem> m = items(s, "meter");
            if ((int)m.size() <= i || std::fabs(meter_value(m[(size_t)i]) - value) > 0.15f)
                return false;
            *out = m[(size_t)i];
            return true;
        });
    }
    // The screenshot's bar colour runs over bar pixels of the meter and no further.
    void expect_bar_pixels(const PanelItem &m)
    {
        PanelBitmap bmp;
        ASSERT_TRUE(panel.shot(&bmp));
        int y = m.y + m.h / 2, bar = meter_bar(m);
        int run = 0;
        while (run < m.w && bmp.pixel(m.x + run, y) == BAR_COLOUR)
            run++;
        EXPECT_NEAR(run, bar, 1) << m.text;
        EXPECT_NE(bmp.pixel(m.x + bar + 1, y), BAR_COLOUR) << m.text;
    }
    // Presses key until the focused item shows text.
    bool focus_on(const std::string &kind, const std::string &text, int key, int tries = 30)
    {
        for (int i = 0; i < tries && !focused_shows(kind, text, 500ms); i++)
            panel.press(key);
        return focused_shows(kind, text);
    }
};

TEST_F(Channels, MetersFollowTheLevelsInTheFpgaWindow)
{
    LevelWriter levels(root.path("/dev/fpgabus"));
    ASSERT_TRUE(levels.ok());
    levels.bus(1, -20.0f);
    levels.output(3, -10.0f);
    ASSERT_NO_FATAL_FAILURE(start_all());
    ASSERT_NO_FATAL_FAILURE(open_entry(1, "INPUT BUSES"));
    PanelItem m;
    ASSERT_TRUE(meter_shows(1, 0.2f, &m)) << panel.screen().text();  // -20 dBFS is 0.2 dBu
    EXPECT_NEAR(meter_bar(m), m.w * 2 / 3, 1);  // 40 of the meter's 60 dB
    ASSERT_NO_FATAL_FAILURE(expect_bar_pixels(m));
    EXPECT_EQ(meter_value(items(panel.screen(), "meter")[0]), -999.0f);  // silent
    // 20 dB down: the bar follows.
    levels.bus(1, -40.0f);
    ASSERT_TRUE(meter_shows(1, -19.8f, &m)) << panel.screen().text();
    EXPECT_NEAR(meter_bar(m), m.w / 3, 1);
    ASSERT_NO_FATAL_FAILURE(expect_bar_pixels(m));
    // The output map's meters follow the outputs' levels.
    ASSERT_TRUE(panel.press(PANEL_KEY_BACK));
    ASSERT_TRUE(panel.wait_item("button", "INPUT BUSES"));
    ASSERT_TRUE(panel.press(PANEL_KEY_NEXT));
    ASSERT_NO_FATAL_FAILURE(open_entry(0, "OUTPUTS"));
    ASSERT_TRUE(meter_shows(3, 10.2f, &m)) << panel.screen().text();
    EXPECT_NEAR(meter_bar(m), m.w * 5 / 6, 1);
    ASSERT_NO_FATAL_FAILURE(expect_bar_pixels(m));
}

TEST_F(Channels, MuteFromTheMapsReachesTheServerAndEveryClient)
{
    ASSERT_NO_FATAL_FAILURE(start_all());
    RawClient other(port);
    ASSERT_TRUE(other.ok());
    ASSERT_NO_FATAL_FAILURE(open_entry(1, "INPUT BUSES"));
    ASSERT_TRUE(panel.press(PANEL_KEY_PREV));  // from bus 1's name to its mute
    ASSERT_TRUE(focused_shows("mute", "0"));
    ASSERT_TRUE(panel.turn(1));
    std::string line = "\n1," + std::to_string(panel_id) + ",0,1\n";
    EXPECT_TRUE(seen("\n1,P,0,1\n"));
    EXPECT_TRUE(other.wait(line)) << other.reports();
    EXPECT_TRUE(focused_shows("mute", "1"));
    // The server holds it: the bus block says so.
    ASSERT_TRUE(send("1024,W,0\n"));
    EXPECT_TRUE(watcher->wait("\n1,0,0,1\n")) << watcher->reports();
    // Another client's unmute shows on the panel.
    ASSERT_TRUE(send("1,W,0,0\n"));
    EXPECT_TRUE(focused_shows("mute", "0"));

    // Outputs start muted: the output's own mute, then its group's.
    ASSERT_TRUE(panel.press(PANEL_KEY_BACK));
    ASSERT_TRUE(panel.wait_item("button", "INPUT BUSES"));
    ASSERT_TRUE(panel.press(PANEL_KEY_NEXT));
    ASSERT_NO_FATAL_FAILURE(open_entry(0, "OUTPUTS"));
    ASSERT_TRUE(panel.press(PANEL_KEY_PREV));
    ASSERT_TRUE(focused_shows("mute", "1"));
    ASSERT_TRUE(panel.turn(-1));
    EXPECT_TRUE(seen("\n44,P,0,0\n"));
    EXPECT_TRUE(other.wait("\n44," + std::to_string(panel_id) + ",0,0\n")) << other.reports();
    for (int i = 0; i < 2; i++)
        ASSERT_TRUE(panel.press(PANEL_KEY_NEXT));  // the name, the group's mute
    ASSERT_TRUE(focused_shows("mute", "0"));
    ASSERT_TRUE(panel.turn(1));
    EXPECT_TRUE(seen("\n44,P,0,1\n"));  // the group's outputs, each reported
    EXPECT_TRUE(panel.wait_screen([](const PanelScreen &s) {
        std::vector<PanelItem> m = items(s, "mute");  // output 1's mute, its group's mute
        return m.size() > 2 && m[0].text == "1" && m[1].text == "1";
    })) << panel.screen().text();
}

TEST_F(Channels, PropertiesChangedOnThePanelAndByAnotherClientBothShow)
{
    ASSERT_NO_FATAL_FAILURE(start_all());
    ASSERT_NO_FATAL_FAILURE(open_entry(1, "INPUT BUSES"));
    ASSERT_TRUE(focus_on("button", "A+B Mono", PANEL_KEY_NEXT));
    ASSERT_TRUE(panel.press(PANEL_KEY_ENTER));
    ASSERT_TRUE(panel.wait_item("label", "IN 3 A+B Mono")) << panel.screen().text();
    ASSERT_TRUE(focus_on("spinner", "-6.0", PANEL_KEY_NEXT));  // GAIN
    ASSERT_TRUE(panel.turn(1));
    EXPECT_TRUE(seen("\n2,P,2,-5.0\n"));
    // Another client: polarity, label and dynamics of the same bus.
    ASSERT_TRUE(send("3,W,2,1\n4,W,2,-20.0\n9,W,2,DRUMS\n"));
    EXPECT_TRUE(panel.wait_item("label", "IN 3 DRUMS")) << panel.screen().text();
    EXPECT_TRUE(panel.wait_item("spinner", "REV")) << panel.screen().text();
    EXPECT_TRUE(focused_shows("spinner", "-5.0"));
    // The threshold, shown in dBu, further down: a detent down from 0.2 dBu
    // stops at 0 before the sign changes.
    ASSERT_TRUE(focus_on("spinner", "0.2", PANEL_KEY_NEXT, 8));
    ASSERT_TRUE(panel.turn(-1));
    EXPECT_TRUE(seen("\n4,P,2,-20.2\n"));
}

TEST_F(Channels, LoudspeakerSelectionAssignsATwoWayEntryToGroupZero)
{
    ASSERT_NO_FATAL_FAILURE(start_all());
    // A two-way entry in the library, through the library commands.
    ASSERT_TRUE(send("70,W,0,0\n"));
    std::string created = "\n70," + std::to_string(watcher_id) + ",";
    ASSERT_TRUE(watcher->wait(created)) << watcher->reports();
    std::string got = watcher->reports();
    std::string id = got.substr(got.find(created) + created.size());
    id = id.substr(0, id.find('\n'));
    ASSERT_TRUE(send("64,W," + id + ",0,1,0,0,0,Top%20Box\n67,W," + id +
                     ",0,HIGH%0AHPF%202khz%20lr24%0ALOW%0ALPF%202khz%20lr24\n"));
    ASSERT_TRUE(watcher->wait("\n67," + std::to_string(watcher_id) + "," + id + ",0,HIGH")) << watcher->reports();

    ASSERT_NO_FATAL_FAILURE(open_entry(2, "OUTPUTS"));
    ASSERT_TRUE(panel.press(PANEL_KEY_ENTER));  // output 1's group: its properties
    ASSERT_TRUE(focused_shows("button", "LABEL..."));
    ASSERT_TRUE(panel.press(PANEL_KEY_NEXT));
    ASSERT_TRUE(focused_shows("button", "LOUDSPEAKER..."));
    ASSERT_TRUE(panel.press(PANEL_KEY_ENTER));
    ASSERT_TRUE(panel.wait_item("button", "Top Box")) << panel.screen().text();
    ASSERT_TRUE(focus_on("button", "Top Box", PANEL_KEY_NEXT, 5));
    ASSERT_TRUE(panel.press(PANEL_KEY_ENTER));
    ASSERT_TRUE(panel.wait_item("label", "Output(s) will mute!")) << panel.screen().text();
    ASSERT_TRUE(focused_shows("button", "YES"));
    ASSERT_TRUE(panel.press(PANEL_KEY_ENTER));
    // The server gives the group outputs 0 and 1.
    EXPECT_TRUE(watcher->wait("\n32,0,0,0,2,3,4,5,6,7," + id + "," + id + ",")) << watcher->reports();
    EXPECT_TRUE(panel.wait_item("label", "OUT 1+2: Top Box")) << panel.screen().text();
    EXPECT_NE(panel.screen().find("label", "OUT 1+2"), nullptr);

    // The output map: one group over two rows, high and low.
    ASSERT_TRUE(panel.press(PANEL_KEY_BACK));
    ASSERT_TRUE(focused_shows("button", "LOUDSPEAKER...")) << panel.screen().text();
    EXPECT_NE(panel.screen().find("label", "OUT 1+2"), nullptr);
    ASSERT_TRUE(panel.press(PANEL_KEY_BACK));
    EXPECT_TRUE(panel.wait_screen([](const PanelScreen &s) {
        std::vector<PanelItem> names = items(s, "button");
        return names.size() > 2 && names[0].text == "HIGH" && names[1].text == "LOW" && names[2].text == "OUT" &&
               s.find("join") != nullptr && s.find("label", "Top Box") != nullptr;
    })) << panel.screen().text();
    std::vector<PanelItem> joins = items(panel.screen(), "join");
    ASSERT_EQ(joins.size(), 1u);
    EXPECT_EQ(joins[0].y, items(panel.screen(), "button")[1].y);  // on output 2's row
    // The input bus map: bus 1 feeds outputs 1 and 2 as one group.
    ASSERT_TRUE(panel.press(PANEL_KEY_BACK));
    ASSERT_TRUE(panel.wait_item("button", "INPUT BUSES"));
    ASSERT_TRUE(panel.press(PANEL_KEY_PREV));
    ASSERT_NO_FATAL_FAILURE(open_entry(0, "INPUT BUSES"));
    EXPECT_TRUE(panel.wait_item("route", "1+2 3 4 5 6 7 8")) << panel.screen().text();
}

// With level lines at 40 Hz moving every meter, a key record still becomes
// its command line at the server within 20 ms.
TEST(ChannelsLoad, MetersDoNotStarveTheEncoder)
{
    SimRoot root;
    FakeServer server;
    PanelProcess panel;
    panel.start(root, server.port());
    ASSERT_TRUE(server.accept_client(10s)) << panel.err();
    ASSERT_TRUE(server.send("1\n"));
    ASSERT_TRUE(panel.wait_item("button", "INPUT BUSES", 10s)) << panel.screen().text();
    ASSERT_TRUE(panel.press(PANEL_KEY_NEXT));
    ASSERT_TRUE(panel.press(PANEL_KEY_ENTER));
    ASSERT_TRUE(panel.wait_item("label", "INPUT BUSES")) << panel.screen().text();
    ASSERT_TRUE(panel.press(PANEL_KEY_PREV));
    ASSERT_TRUE(panel.wait_screen([](const PanelScreen &s) { return s.focused() != nullptr && s.focused()->kind == "mute"; }));

    using clock = std::chrono::steady_clock;
    int cycle = 0;
    auto next_cycle = clock::now();
    // Every 25 ms the level lines of a cycle, every meter at a new value.
    auto levels = [&] {
        if (clock::now() < next_cycle)
            return;
        std::string s;
        for (int i = 0; i < 8; i++) {
            s += "31," + std::to_string(i) + ",-" + std::to_string((cycle * 7 + i * 5) % 60) + ".0,0.0\n";
            s += "30," + std::to_string(i) + ",-" + std::to_string((cycle * 3 + i * 11) % 60) + ".5,0.0\n";
        }
        server.send(s);
        cycle++;
        next_cycle += 25ms;
    };
    std::vector<double> ms;
    size_t seen = server.received().size();
    for (int k = 0; k < 24; k++) {
        // The meters run a while, then a detent: the mute on, off, on...
        auto settle = clock::now() + 60ms;
        while (clock::now() < settle) {
            levels();
            std::this_thread::sleep_for(1ms);
        }
        std::string line = k % 2 == 0 ? "1,1,0,1\n" : "1,1,0,0\n";
        auto t0 = clock::now();
        ASSERT_TRUE(panel.turn(k % 2 == 0 ? 1 : -1));
        bool arrived = false;
        while (!arrived && clock::now() - t0 < 2s) {
            levels();
            std::string got = server.received();
            arrived = got.find(line, seen) != std::string::npos;
            if (arrived)
                seen = got.size();
            else
                std::this_thread::sleep_for(200us);
        }
        ASSERT_TRUE(arrived) << line;
        ms.push_back(std::chrono::duration<double, std::milli>(clock::now() - t0).count());
    }
    std::sort(ms.begin(), ms.end());
    double median = ms[ms.size() / 2];
    EXPECT_LT(median, 20.0) << "slowest " << ms.back() << " ms";
    EXPECT_GE(cycle, 24 * 2);  // the meters did run meanwhile
}

}  // namespace
