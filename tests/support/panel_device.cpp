#include "support/panel_device.h"

#include <cstdlib>

void PanelEndToEnd::start_server()
{
    server.start(root.dir(), port);
    ASSERT_TRUE(wait_until([&] { return accepts_tcp(port) || !server.running(); }, 5s)) << server.err();
    ASSERT_TRUE(server.running()) << server.err();
}

void PanelEndToEnd::start_all()
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

void PanelEndToEnd::open_entry(int rows_below_network, const char *title)
{
    for (int i = 0; i < rows_below_network; i++)
        ASSERT_TRUE(panel.press(PANEL_KEY_NEXT));
    ASSERT_TRUE(panel.press(PANEL_KEY_ENTER));
    ASSERT_TRUE(panel.wait_item("label", title)) << panel.screen().text();
}

bool PanelEndToEnd::focused_shows(const std::string &kind, const std::string &text, std::chrono::milliseconds timeout)
{
    return panel.wait_screen(
        [&](const PanelScreen &s) {
            const PanelItem *f = s.focused();
            return f != nullptr && f->kind == kind && f->text == text;
        },
        timeout);
}

bool PanelEndToEnd::seen(std::string line)
{
    line.replace(line.find(",P,"), 3, "," + std::to_string(panel_id) + ",");
    bool ok = watcher->wait(line);
    if (!ok)
        ADD_FAILURE() << line << " not in\n" << watcher->reports();
    return ok;
}

bool PanelEndToEnd::send(std::string lines)
{
    std::string id = "," + std::to_string(watcher_id) + ",";
    for (size_t at = lines.find(",W,"); at != std::string::npos; at = lines.find(",W,", at + id.size()))
        lines.replace(at, 3, id);
    return watcher->send(lines);
}
