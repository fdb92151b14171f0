#include "support/panel.h"

#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <netinet/in.h>
#include <sstream>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <thread>
#include <unistd.h>

namespace {

// One input record as the device's kernel writes it: seconds,
// microseconds, type, code, value (encoder in bits 24..31, key code in
// bits 16..23, a non-zero low byte).
struct input_record {
    int32_t sec, usec;
    uint16_t type, code;
    int32_t value;
};
static_assert(sizeof(input_record) == 16);

constexpr int ENCODER_CW = 1, ENCODER_CCW = 3;

input_record record(int64_t t_us, int key, int encoder)
{
    input_record r{};
    r.sec = (int32_t)(t_us / 1000000);
    r.usec = (int32_t)(t_us % 1000000);
    r.type = 1;
    r.value = (int32_t)(((uint32_t)(encoder & 0xFF) << 24) | ((uint32_t)(key & 0xFF) << 16) | 1u);
    return r;
}

int64_t now_us()
{
    timeval tv;
    gettimeofday(&tv, nullptr);
    return (int64_t)tv.tv_sec * 1000000 + tv.tv_usec;
}

uint32_t le(const std::string &d, size_t at, int bytes)
{
    uint32_t v = 0;
    for (int i = bytes - 1; i >= 0; i--)
        v = v << 8 | (unsigned char)d[at + (size_t)i];
    return v;
}

// Sends a signal and waits for the file it makes (removed first).
bool signal_for_file(ChildProcess &p, int sig, const std::string &path)
{
    unlink(path.c_str());
    p.signal(sig);
    return wait_until([&] { return file_exists(path); });
}

}  // namespace

PanelScreen::PanelScreen(const std::string &text) : text_(text)
{
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        PanelItem it;
        std::istringstream f(line);
        if (!(f >> it.kind >> it.x >> it.y >> it.w >> it.h >> it.marks))
            continue;
        if (f.peek() == ' ')
            f.get();
        std::getline(f, it.text);
        items_.push_back(it);
    }
}

const PanelItem *PanelScreen::find(const std::string &kind, const std::string &part) const
{
    for (const PanelItem &it : items_)
        if (it.kind == kind && it.text.find(part) != std::string::npos)
            return &it;
    return nullptr;
}

const PanelItem *PanelScreen::focused() const
{
    for (const PanelItem &it : items_)
        if (it.focused())
            return &it;
    return nullptr;
}

bool PanelBitmap::load(const std::string &path)
{
    std::string d = read_file(path);
    if (d.size() < 54 || d[0] != 'B' || d[1] != 'M')
        return false;
    uint32_t off = le(d, 10, 4);
    int32_t w = (int32_t)le(d, 18, 4), h = (int32_t)le(d, 22, 4);
    int bpp = (int)le(d, 28, 2) / 8;
    if (w <= 0 || h == 0 || (bpp != 3 && bpp != 4) || le(d, 30, 4) != 0)
        return false;
    bool bottom_up = h > 0;
    h = h < 0 ? -h : h;
    size_t stride = ((size_t)w * (size_t)bpp + 3) & ~(size_t)3;
    if (d.size() < off + stride * (size_t)h)
        return false;
    w_ = w;
    h_ = h;
    px_.assign((size_t)w * (size_t)h, 0);
    for (int y = 0; y < h; y++) {
        size_t row = off + stride * (size_t)(bottom_up ? h - 1 - y : y);
        for (int x = 0; x < w; x++) {
            size_t p = row + (size_t)x * (size_t)bpp;
            px_[(size_t)y * (size_t)w + (size_t)x] = le(d, p, 3);  // blue, green, red: 0xRRGGBB
        }
    }
    return true;
}

uint32_t PanelBitmap::pixel(int x, int y) const
{
    if (x < 0 || y < 0 || x >= w_ || y >= h_)
        return 0;
    return px_[(size_t)y * (size_t)w_ + (size_t)x];
}

void PanelProcess::start(const SimRoot &root, int port)
{
    root_ = root.dir();
    std::string fifo = root.path("/dev/input/event0");
    unlink(fifo.c_str());
    mkfifo(fifo.c_str(), 0600);
    // mirelapp is built beside mirelserver.
    std::string server = MIREL_SERVER_BIN;
    ChildProcess::start(server.substr(0, server.rfind('/') + 1) + "mirelapp",
                        {"MIREL_ROOT=" + root.dir(), "MIREL_PORT=" + std::to_string(port), "SDL_VIDEODRIVER=dummy"},
                        root.path("/tmp/panel.out"), root.path("/tmp/panel.err"));
}

bool PanelProcess::wait_up(std::chrono::milliseconds timeout) const
{
    return wait_err("network_handle: try localhost\n", timeout);
}

bool PanelProcess::wait_connected(std::chrono::milliseconds timeout) const
{
    return wait_err("conn id: ", timeout);
}

bool PanelProcess::write_records(const void *data, size_t size)
{
    int fd = -1;
    // The panel opens its end at start-up; until then there is no reader.
    wait_until([&] { return (fd = open((root_ + "/dev/input/event0").c_str(), O_WRONLY | O_NONBLOCK)) >= 0; });
    if (fd < 0)
        return false;
    bool ok = write(fd, data, size) == (ssize_t)size;
    close(fd);
    return ok;
}

bool PanelProcess::press(int code)
{
    int64_t t = now_us();
    input_record r[2] = {record(t, code, 0), record(t + 50000, 0, 0)};
    return write_records(r, sizeof r);
}

bool PanelProcess::turn(int detents)
{
    std::vector<input_record> r;
    int64_t t = now_us();
    for (int i = 0; i < std::abs(detents); i++)
        r.push_back(record(t + i * 100000, 0, detents > 0 ? ENCODER_CW : ENCODER_CCW));
    return r.empty() || write_records(r.data(), r.size() * sizeof r[0]);
}

bool PanelProcess::turn_slowly(int detents, std::chrono::milliseconds gap)
{
    for (int i = 0; i < std::abs(detents); i++) {
        if (i > 0)
            std::this_thread::sleep_for(gap);
        if (!turn(detents > 0 ? 1 : -1))
            return false;
    }
    return true;
}

PanelScreen PanelProcess::screen()
{
    std::string path = root_ + "/tmp/screen.txt";
    if (!signal_for_file(*this, SIGUSR2, path))
        return PanelScreen();
    return PanelScreen(read_file(path));
}

bool PanelProcess::wait_screen(const std::function<bool(const PanelScreen &)> &pred, std::chrono::milliseconds timeout)
{
    return wait_until(
        [&] {
            PanelScreen s = screen();
            return !s.sliding() && pred(s);
        },
        timeout);
}

bool PanelProcess::wait_item(const std::string &kind, const std::string &part, std::chrono::milliseconds timeout)
{
    return wait_screen([&](const PanelScreen &s) { return s.find(kind, part) != nullptr; }, timeout);
}

bool PanelProcess::shot(PanelBitmap *bmp)
{
    std::string path = root_ + "/tmp/screen.bmp";
    return signal_for_file(*this, SIGUSR1, path) && bmp->load(path);
}

RawClient::RawClient(int port)
{
    fd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons((uint16_t)port);
    if (connect(fd_, (sockaddr *)&a, sizeof a) != 0 || ::send(fd_, "<mode>unix</mode>\n", 18, MSG_NOSIGNAL) != 18) {
        close(fd_);
        fd_ = -1;
        return;
    }
    fcntl(fd_, F_SETFL, O_NONBLOCK);
}

RawClient::~RawClient()
{
    if (fd_ >= 0)
        close(fd_);
}

void RawClient::pump()
{
    char buf[65536];
    ssize_t n;
    while (fd_ >= 0 && (n = read(fd_, buf, sizeof buf)) > 0)
        got_.append(buf, (size_t)n);
}

int RawClient::conn_id()
{
    wait_until([&] {
        pump();
        return got_.find('\n') != std::string::npos;
    });
    return atoi(got_.c_str());
}

bool RawClient::send(const std::string &lines)
{
    return fd_ >= 0 && ::send(fd_, lines.data(), lines.size(), MSG_NOSIGNAL) == (ssize_t)lines.size();
}

bool RawClient::wait(const std::string &text, std::chrono::milliseconds timeout)
{
    return wait_until(
        [&] {
            pump();
            return got_.find(text) != std::string::npos;
        },
        timeout);
}

std::string RawClient::reports()
{
    pump();
    std::string out;
    std::istringstream in(got_);
    for (std::string l; std::getline(in, l);)
        if (l.rfind("30,", 0) != 0 && l.rfind("31,", 0) != 0 && l.rfind("29,", 0) != 0)
            out += l + "\n";
    return out;
}

bool accepts_tcp(int port)
{
    int s = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons((uint16_t)port);
    bool ok = connect(s, (sockaddr *)&a, sizeof a) == 0;
    close(s);
    return ok;
}
