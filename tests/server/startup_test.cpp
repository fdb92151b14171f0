#include <gtest/gtest.h>

#include <csignal>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include "support/capture.h"
#include "support/process.h"
#include "support/sim_root.h"

TEST(ServerStartup, FreshRootPrintsLoadLinesAndKeepsRunning)
{
    SimRoot root;
    ServerProcess server;
    server.start(root.dir(), free_port());
    ASSERT_TRUE(server.wait_err("could not open file\n"));
    std::string lines = strip_log_prefixes(server.err());
    EXPECT_NE(lines.find("system_load_state: could not open current file, try to open backup\n"
                         "system_load_state: could not open file\n"),
              std::string::npos)
        << lines;
    EXPECT_EQ(lines.find("<no prefix>"), std::string::npos) << lines;
    // A daemon: still there a little later, ended only by a signal.
    EXPECT_FALSE(wait_until([&] { return !server.running(); }, 300ms));
    int st = server.stop(SIGTERM);
    EXPECT_TRUE(WIFSIGNALED(st) && WTERMSIG(st) == SIGTERM);
}

TEST(ServerStartup, WithoutFpgaTheServerRunsOnOrdinaryMemory)
{
    SimRoot root;
    ASSERT_EQ(unlink(root.path("/dev/fpgabus").c_str()), 0);
    ServerProcess server;
    server.start(root.dir(), free_port());
    ASSERT_TRUE(server.wait_err("dsp_lowlevel_init: error opening fpgabus\n"));
    // Clients are served as usual: the greeting, and the echo of a change.
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons((uint16_t)server.port());
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_TRUE(wait_until([&] { return connect(fd, (sockaddr *)&a, sizeof a) == 0; }));
    std::string hello = "<mode>unix</mode>\n3,1,2,1\n";
    ASSERT_EQ(write(fd, hello.data(), hello.size()), (ssize_t)hello.size());
    std::string in;
    EXPECT_TRUE(wait_until([&] {
        char buf[4096];
        ssize_t n = recv(fd, buf, sizeof buf, MSG_DONTWAIT);
        if (n > 0)
            in.append(buf, (size_t)n);
        return in.find("\n3,1,2,1\n") != std::string::npos;
    }));
    EXPECT_EQ(in.substr(0, 2), "1\n");
    close(fd);
    EXPECT_TRUE(server.running());
}
