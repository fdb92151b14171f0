#include <gtest/gtest.h>

#include <csignal>
#include <sys/wait.h>

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
