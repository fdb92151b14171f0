// Shared by the panel's tests: one SDL (dummy video) and sgui per test
// program, a simulation root, a fake server and input-record helpers.
#pragma once
#include <chrono>
#include <string>
#include <vector>

#include "sgui/sgui.h"
#include "sgui/sgui_event.h"

// The simulation root of this test program (MIREL_ROOT points at it).
const std::string &app_test_root();

// Frees every screen the previous test left and forgets input state.
void app_test_reset();

// A root strip with n pages (flag 2, full screen), each holding rows
// labels of 25 pixels (flag 1). Returns the root.
sgui_widget *app_test_pages(int pages, int rows, bool focusable_rows);

// An input record at time t (microseconds).
sgui_input_event app_test_record(int64_t t, int key_code, int encoder, int type = 1);

// The colour of a pixel of an SDL surface as 0xRRGGBB.
uint32_t app_test_pixel(SDL_Surface *s, int x, int y);

// A point inside the status overlay's box (showing text) but off its glyphs.
void app_test_overlay_point(const char *text, int *x, int *y);

// A TCP server on loopback for the link thread: one connection at a time.
class FakeServer {
public:
    FakeServer();
    ~FakeServer();
    int port() const { return port_; }
    // Waits for the panel to connect; reads the mode header.
    bool accept_client(std::chrono::milliseconds timeout = std::chrono::milliseconds(5000));
    bool send(const std::string &data);
    // Reads until text appears in what the client sent since accept (or timeout).
    bool wait_received(const std::string &text, std::chrono::milliseconds timeout = std::chrono::milliseconds(5000));
    std::string received();
    void drop_client();
    bool client_closed(std::chrono::milliseconds timeout);

private:
    void pump(int ms);
    int listen_fd_ = -1, client_ = -1, port_ = 0;
    std::string got_;
};
