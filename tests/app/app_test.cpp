#include "app_test.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include "platform.h"
#include "sgui/sgui_widget.h"
#include "support/process.h"
#include "support/sim_root.h"

namespace {

std::unique_ptr<SimRoot> g_root;

class PanelEnvironment : public testing::Environment {
public:
    void SetUp() override
    {
        g_root = std::make_unique<SimRoot>();
        g_root->activate();
        setenv("SDL_VIDEODRIVER", "dummy", 1);
        platform_init();
        ASSERT_EQ(sgui_init(), 0);
    }
    void TearDown() override
    {
        SDL_Quit();
        g_root.reset();
    }
};

const auto *env = testing::AddGlobalTestEnvironment(new PanelEnvironment);

}  // namespace

const std::string &app_test_root()
{
    return g_root->dir();
}

void app_test_reset()
{
    sgui_lock();
    while (sgui_background() != nullptr)
        sgui_widget_free(sgui_background());
    while (sgui_root() != nullptr)
        sgui_widget_free(sgui_root());
    sgui_input_reset();
    sgui_set_keylock(0);
    sgui_set_keyhook(nullptr);
    sgui_unlock();
}

sgui_widget *app_test_pages(int pages, int rows, bool focusable_rows)
{
    sgui_widget *root = sgui_widget_container(nullptr, 0, SGUI_UNITS, SGUI_UNITS);
    sgui_set_root(root);
    for (int p = 0; p < pages; p++) {
        sgui_widget *page = sgui_widget_container(root, SGUI_HORIZONTAL, SGUI_UNITS, SGUI_UNITS);
        for (int r = 0; r < rows; r++) {
            std::string t = "P" + std::to_string(p) + " R" + std::to_string(r);
            if (focusable_rows)
                sgui_widget_button(page, SGUI_VERTICAL, -1, -1, t.c_str());
            else
                sgui_widget_label(page, SGUI_VERTICAL, -1, -1, t.c_str(), 0);
        }
    }
    return root;
}

sgui_input_event app_test_record(int64_t t, int key_code, int encoder, int type)
{
    sgui_input_event e{};
    e.sec = (int32_t)(t / 1000000);
    e.usec = (int32_t)(t % 1000000);
    e.type = (uint16_t)type;
    e.code = 0;
    e.value = sgui_input_value(key_code, encoder);
    return e;
}

uint32_t app_test_pixel(SDL_Surface *s, int x, int y)
{
    Uint8 r, g, b;
    Uint32 px = 0;
    SDL_LockSurface(s);
    memcpy(&px, (Uint8 *)s->pixels + y * s->pitch + x * s->format->BytesPerPixel, s->format->BytesPerPixel);
    SDL_UnlockSurface(s);
    SDL_GetRGB(px, s->format, &r, &g, &b);
    return (uint32_t)r << 16 | (uint32_t)g << 8 | b;
}

void app_test_overlay_point(const char *text, int *x, int *y)
{
    int w = font_width(0, text) + 2 * font_width(0, " ");
    int h = font_height(0, text);
    *x = (SGUI_SCREEN_W - w) / 2 + 2;
    *y = (SGUI_SCREEN_H - h) / 2 + h / 2;
}

FakeServer::FakeServer()
{
    listen_fd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    int one = 1;
    setsockopt(listen_fd_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    if (bind(listen_fd_, (sockaddr *)&a, sizeof a) != 0 || listen(listen_fd_, 4) != 0 ||
        getsockname(listen_fd_, (sockaddr *)&a, &len) != 0)
        throw std::runtime_error("fake server: no socket");
    port_ = ntohs(a.sin_port);
}

FakeServer::~FakeServer()
{
    drop_client();
    close(listen_fd_);
}

bool FakeServer::accept_client(std::chrono::milliseconds timeout)
{
    drop_client();
    pollfd p = {listen_fd_, POLLIN, 0};
    if (poll(&p, 1, (int)timeout.count()) != 1)
        return false;
    client_ = accept4(listen_fd_, nullptr, nullptr, SOCK_CLOEXEC);
    got_.clear();
    // The panel sends its mode header with the terminating NUL.
    return client_ >= 0 && wait_received(std::string("<mode>unix</mode>\n") + '\0', timeout);
}

bool FakeServer::send(const std::string &data)
{
    return client_ >= 0 && ::send(client_, data.data(), data.size(), MSG_NOSIGNAL) == (ssize_t)data.size();
}

void FakeServer::pump(int ms)
{
    if (client_ < 0)
        return;
    pollfd p = {client_, POLLIN, 0};
    if (poll(&p, 1, ms) == 1) {
        char buf[4096];
        ssize_t n = recv(client_, buf, sizeof buf, 0);
        if (n > 0)
            got_.append(buf, (size_t)n);
    }
}

bool FakeServer::wait_received(const std::string &text, std::chrono::milliseconds timeout)
{
    return wait_until(
        [&] {
            pump(5);
            return got_.find(text) != std::string::npos;
        },
        timeout);
}

std::string FakeServer::received()
{
    pump(0);
    return got_;
}

void FakeServer::drop_client()
{
    if (client_ >= 0)
        close(client_);
    client_ = -1;
}

bool FakeServer::client_closed(std::chrono::milliseconds timeout)
{
    return wait_until(
        [&] {
            if (client_ < 0)
                return true;
            pollfd p = {client_, POLLIN, 0};
            if (poll(&p, 1, 5) != 1)
                return false;
            char buf[4096];
            ssize_t n = recv(client_, buf, sizeof buf, 0);
            if (n > 0) {
                got_.append(buf, (size_t)n);
                return false;
            }
            return true;
        },
        timeout);
}
