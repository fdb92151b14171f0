// mirelapp as a program: headless, with its screen saved on SIGUSR1 and
// its keys written into the input FIFO; against a fake server and the real
// mirelserver.
#include <gtest/gtest.h>

#include <csignal>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <unistd.h>

#include "app_test.h"
#include "support/panel.h"
#include "support/process.h"
#include "support/sim_root.h"

namespace {

constexpr uint32_t OVERLAY = 0x00D5FF;

// The panel program with the status overlay read from its screenshot.
class Panel : public PanelProcess {
public:
    explicit Panel(const SimRoot &root) : root_(root) {}
    void start(int port) { PanelProcess::start(root_, port); }
    // The colour of a point inside the overlay's box, off its glyphs.
    bool centre_pixel(uint32_t *px)
    {
        PanelBitmap bmp;
        if (!shot(&bmp))
            return false;
        int x, y;
        app_test_overlay_point("CONNECTING...", &x, &y);
        *px = bmp.pixel(x, y);
        return true;
    }
    bool overlay_shown()
    {
        uint32_t px = 0;
        return centre_pixel(&px) && px == OVERLAY;
    }
    bool overlay_gone()
    {
        uint32_t px = OVERLAY;
        return centre_pixel(&px) && px != OVERLAY;
    }
    PanelProcess &proc() { return *this; }

private:
    const SimRoot &root_;
};

TEST(PanelProgram, ConnectingUntilTheServerAnswersThenKeysReachIt)
{
    SimRoot root;
    FakeServer server;
    Panel panel(root);
    panel.start(server.port());
    ASSERT_TRUE(panel.wait_up()) << panel.proc().err();
    EXPECT_TRUE(panel.overlay_shown());

    ASSERT_TRUE(server.accept_client());
    ASSERT_TRUE(server.send("1\n22,0,STAGE%20LEFT\n100,0,3,0,0,0,SHOW\n21,0,3232235786,1,192,168,0,10,24,0,0,0,0\n"));
    ASSERT_TRUE(panel.proc().wait_err("conn id: 1\n"));
    EXPECT_TRUE(wait_until([&] { return panel.overlay_gone(); }));

    // The key-lock combination: the panel locks and tells the server.
    ASSERT_TRUE(panel.press(0x50));
    EXPECT_TRUE(wait_until(
        [&] {
            server.send("29,0,0\n");  // output goes out after each received batch
            return server.received().find("27,1,1\n") != std::string::npos;
        },
        std::chrono::milliseconds(5000)))
        << server.received();
    // While locked the mute combination does nothing; unlocked it mutes all outputs.
    ASSERT_TRUE(panel.press(0x50));
    EXPECT_TRUE(wait_until(
        [&] {
            server.send("29,0,0\n");
            return server.received().find("27,1,0\n") != std::string::npos;
        },
        std::chrono::milliseconds(5000)));
    ASSERT_TRUE(panel.press(0x90));
    std::string mute;
    for (int out = 0; out < 8; out++)
        mute += "44,1," + std::to_string(out) + ",1\n";
    EXPECT_TRUE(wait_until(
        [&] {
            server.send("29,0,0\n");
            return server.received().find(mute) != std::string::npos;
        },
        std::chrono::milliseconds(5000)))
        << server.received();

    // The server goes away: the overlay comes back.
    server.drop_client();
    EXPECT_TRUE(wait_until([&] { return panel.overlay_shown(); }));
    int st = panel.proc().stop(SIGTERM);
    EXPECT_TRUE(WIFEXITED(st) && WEXITSTATUS(st) == 0) << st;
}

TEST(PanelWithServer, ConnectsWhenTheServerStartsAndReportsTheKeyLock)
{
    SimRoot root;
    int port = free_port();
    Panel panel(root);
    panel.start(port);
    ASSERT_TRUE(panel.wait_up()) << panel.proc().err();
    EXPECT_TRUE(panel.overlay_shown());

    ServerProcess server;
    server.start(root.dir(), port);
    // Started when its state is loaded; the client port follows at once if it has one.
    ASSERT_TRUE(server.wait_err("could not open file\n")) << server.err();
    bool up = wait_until([&] { return accepts_tcp(port) || !server.running(); }, std::chrono::milliseconds(1500));
    if (!up || !server.running())
        GTEST_SKIP() << "mirelserver does not accept TCP clients yet (its stream server is not built)";

    ASSERT_TRUE(panel.proc().wait_err("conn id: ", std::chrono::milliseconds(10000))) << panel.proc().err();
    EXPECT_TRUE(wait_until([&] { return panel.overlay_gone(); }, std::chrono::milliseconds(10000)));
    RawClient observer(port);
    ASSERT_TRUE(panel.press(0x50));
    // The key lock is reported with the panel's own connection id, which
    // the probe above may have taken the first number from.
    std::string err = panel.proc().err();
    int id = atoi(err.c_str() + err.rfind("conn id: ") + 9);
    EXPECT_TRUE(observer.wait("\n27," + std::to_string(id) + ",1\n")) << server.err();
    panel.proc().stop(SIGTERM);
}

}  // namespace
