// The panel for integration tests: mirelapp started headless in a
// simulation root, its keys and encoder written as input records into the
// FIFO DIR/dev/input/event0, what it shows read from DIR/tmp/screen.txt
// (SIGUSR2, one line per visible widget) and from its screenshot
// DIR/tmp/screen.bmp (SIGUSR1); and a raw protocol client of the server
// that sees every report.
#pragma once
#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "support/process.h"
#include "support/sim_root.h"

// Key codes of the device's front panel (the low byte of an input record's key code).
enum panel_key_code {
    PANEL_KEY_PREV = 0x01,
    PANEL_KEY_NEXT = 0x02,
    PANEL_KEY_PAGE_PREV = 0x04,
    PANEL_KEY_PAGE_NEXT = 0x08,
    PANEL_KEY_ENTER = 0x10,
    PANEL_KEY_BACK = 0x20,
    PANEL_KEY_SCREEN = 0x40,
    PANEL_KEY_ALT = 0x80,
    PANEL_KEY_LOCK = 0x50,      // the key-lock combination
    PANEL_KEY_MUTE_ALL = 0x90,  // the mute-all combination
};

// One line of screen.txt: "KIND X Y W H MARKS TEXT".
struct PanelItem {
    std::string kind;
    int x = 0, y = 0, w = 0, h = 0;
    std::string marks, text;
    bool focused() const { return marks.find('*') != std::string::npos; }
    bool selected() const { return marks.find('s') != std::string::npos; }
};

// A parsed screen.txt.
class PanelScreen {
public:
    PanelScreen() = default;
    explicit PanelScreen(const std::string &text);
    const std::vector<PanelItem> &items() const { return items_; }
    const std::string &text() const { return text_; }
    // The first item of a kind whose text contains part (any text when empty).
    const PanelItem *find(const std::string &kind, const std::string &part = "") const;
    const PanelItem *focused() const;
    // A page or a screen is sliding in: the picture is between two screens.
    bool sliding() const { return find("slide") != nullptr; }

private:
    std::vector<PanelItem> items_;
    std::string text_;
};

// An uncompressed 24- or 32-bit BMP as SDL saves it.
class PanelBitmap {
public:
    bool load(const std::string &path);
    int width() const { return w_; }
    int height() const { return h_; }
    // 0xRRGGBB; 0 outside.
    uint32_t pixel(int x, int y) const;

private:
    int w_ = 0, h_ = 0;
    std::vector<uint32_t> px_;
};

class PanelProcess : public ChildProcess {
public:
    // Makes the input FIFO in root and starts mirelapp against port.
    void start(const SimRoot &root, int port);
    // The link thread has started trying to reach the server.
    bool wait_up(std::chrono::milliseconds timeout = 5s) const;
    // The server gave the panel its connection id.
    bool wait_connected(std::chrono::milliseconds timeout = 10s) const;

    // A key pressed and released.
    bool press(int code);
    // Encoder detents (negative: counter-clockwise), 100 ms apart in the
    // records' own time so that they are not accelerated.
    bool turn(int detents);
    // One detent at a time, each after the panel's previous command had
    // time to reach the server's next cycle (so that each is reported).
    bool turn_slowly(int detents, std::chrono::milliseconds gap = 120ms);

    // What the screen shows now.
    PanelScreen screen();
    // Waits until pred holds for the screen, with no slide running.
    bool wait_screen(const std::function<bool(const PanelScreen &)> &pred, std::chrono::milliseconds timeout = 5s);
    // Waits for an item of a kind whose text contains part.
    bool wait_item(const std::string &kind, const std::string &part, std::chrono::milliseconds timeout = 5s);
    // The screenshot.
    bool shot(PanelBitmap *bmp);

private:
    bool write_records(const void *data, size_t size);
    std::string root_;
};

// A raw client of the server ("<mode>unix</mode>"): sends command lines and
// collects every line the server sends.
class RawClient {
public:
    explicit RawClient(int port);
    ~RawClient();
    RawClient(const RawClient &) = delete;
    RawClient &operator=(const RawClient &) = delete;
    bool ok() const { return fd_ >= 0; }
    // The connection id the server gave (waits for it).
    int conn_id();
    bool send(const std::string &lines);
    // Waits until text has arrived (anywhere in what came since the start).
    bool wait(const std::string &text, std::chrono::milliseconds timeout = 5s);
    // What came so far, without the level lines (30, 31, 29).
    std::string reports();

private:
    void pump();
    int fd_ = -1;
    std::string got_;
};

// Whether a TCP server accepts on loopback at port.
bool accepts_tcp(int port);
