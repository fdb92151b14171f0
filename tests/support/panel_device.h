// A test fixture for the panel end to end: the real mirelserver and the
// real mirelapp (headless) in a fresh simulation root on a port of their
// own, and a raw client that watches every report.
#pragma once
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "support/panel.h"
#include "support/process.h"
#include "support/sim_root.h"

class PanelEndToEnd : public testing::Test {
protected:
    void SetUp() override { port = free_port(); }
    void start_server();
    // Server and panel up, then the watcher; the panel shows the main menu.
    void start_all();
    // From the main menu (focus on the network line) into the entry that
    // many rows below it, whose screen shows a label with title.
    void open_entry(int rows_below_network, const char *title);
    // The focused item is of a kind and shows text.
    bool focused_shows(const std::string &kind, const std::string &text, std::chrono::milliseconds timeout = 5s);
    // A report line of a change the panel made (P stands for its connection
    // id), seen by the watcher.
    bool seen(std::string line);
    // Command lines of the watcher: W stands for its connection id.
    bool send(std::string lines);

    SimRoot root;
    int port = 0, panel_id = 0, watcher_id = 0;
    ServerProcess server;
    PanelProcess panel;
    std::unique_ptr<RawClient> watcher;
};
