#include <gtest/gtest.h>

#include <csignal>
#include <dirent.h>
#include <map>
#include <sched.h>
#include <sstream>
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
    // The id line left in a packet of its own, as old clients expect.
    EXPECT_EQ(server.err().find("can't send conn_id"), std::string::npos) << server.err();
    close(fd);
    EXPECT_TRUE(server.running());
}

namespace {

// Scheduling policy (field 41 of /proc/PID/task/TID/stat) of each named
// thread of a process.
std::map<std::string, int> thread_policies(pid_t pid)
{
    std::map<std::string, int> policies;
    std::string task = "/proc/" + std::to_string(pid) + "/task";
    DIR *d = opendir(task.c_str());
    while (dirent *e = d ? readdir(d) : nullptr) {
        if (e->d_name[0] == '.')
            continue;
        std::string dir = task + "/" + e->d_name;
        std::string name = read_file(dir + "/comm"), stat = read_file(dir + "/stat");
        if (name.empty() || stat.rfind(')') == std::string::npos)
            continue;
        name.pop_back();
        // Fields after the name: state is field 3, the policy field 41.
        std::istringstream rest(stat.substr(stat.rfind(')') + 2));
        std::string field;
        for (int i = 3; i <= 41 && rest >> field; i++) {
        }
        policies[name] = atoi(field.c_str());
    }
    if (d)
        closedir(d);
    return policies;
}

}  // namespace

// The real-time thread runs before the machine's ordinary work (so a busy
// machine does not delay its cycles); the saver and the client links are
// ordinary threads. Needs the right to raise priorities (root).
TEST(ServerStartup, OnlyTheRealTimeThreadRunsAtRealTimePriority)
{
    if (geteuid() != 0)
        GTEST_SKIP() << "needs root";
    SimRoot root;
    ServerProcess server;
    server.start(root.dir(), free_port());
    std::map<std::string, int> p;
    ASSERT_TRUE(wait_until([&] {
        p = thread_policies(server.pid());
        return p.count("rt_thread") && p.count("saver") && p.count("stream") && p.count("serial");
    }));
    EXPECT_TRUE(wait_until([&] { return thread_policies(server.pid())["rt_thread"] == SCHED_FIFO; }));
    p = thread_policies(server.pid());
    EXPECT_EQ(p["saver"], SCHED_OTHER);
    EXPECT_EQ(p["stream"], SCHED_OTHER);
    EXPECT_EQ(p["serial"], SCHED_OTHER);
    EXPECT_EQ(strip_log_prefixes(server.err()).find("rt_thread: no real-time priority"), std::string::npos);
}
