// A hostile client floods the real server with full-dump requests, as raw
// lines and over WebSocket. The well-behaved client (the panel, say) must
// keep getting every broadcast, the flooder must be cut off at once, and
// the server must not grow.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <ctime>
#include <fstream>
#include <mutex>
#include <poll.h>
#include <sys/socket.h>
#include <thread>

#include "stream_harness.h"
#include "support/process.h"
#include "support/sim_root.h"

namespace {

// Arrival times are the kernel's receive stamps (SO_TIMESTAMPNS), on the
// realtime clock: what the server sent when, whenever this test's thread
// gets to read it.
int64_t realtime_ns()
{
    timespec ts;
    clock_gettime(CLOCK_REALTIME, &ts);
    return (int64_t)ts.tv_sec * 1000000000 + ts.tv_nsec;
}

const std::string UNIX_HEADER = "<mode>unix</mode>\n";

// Resident memory of a process in KiB.
long rss_kib(pid_t pid)
{
    std::ifstream in("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(in, line);)
        if (line.rfind("VmRSS:", 0) == 0)
            return std::stol(line.substr(6));
    return -1;
}

// A raw client that reads on its own thread and notes when each broadcast
// (it begins with the level line of bus 0) arrives.
class Listener {
public:
    explicit Listener(int port) : sock_(port)
    {
        int on = 1;
        setsockopt(sock_.fd, SOL_SOCKET, SO_TIMESTAMPNS, &on, sizeof on);
        sock_.send(UNIX_HEADER);
        thread_ = std::thread([this] { run(); });
    }
    ~Listener()
    {
        stop_ = true;
        thread_.join();
    }
    size_t broadcasts()
    {
        std::lock_guard<std::mutex> g(m_);
        return arrivals_.size();
    }
    // Longest time between two broadcasts that arrived within [from, to].
    std::chrono::nanoseconds longest_gap(int64_t from, int64_t to)
    {
        std::lock_guard<std::mutex> g(m_);
        int64_t longest = 0;
        for (size_t i = 1; i < arrivals_.size(); i++)
            if (arrivals_[i] >= from && arrivals_[i - 1] <= to)
                longest = std::max(longest, arrivals_[i] - arrivals_[i - 1]);
        return std::chrono::nanoseconds(longest);
    }
    bool closed() const { return closed_; }

private:
    void run()
    {
        std::string tail;
        while (!stop_) {
            pollfd p{sock_.fd, POLLIN, 0};
            if (poll(&p, 1, 20) <= 0)
                continue;
            char buf[65536];
            char control[CMSG_SPACE(sizeof(timespec))];
            iovec iov{buf, sizeof buf};
            msghdr msg{};
            msg.msg_iov = &iov;
            msg.msg_iovlen = 1;
            msg.msg_control = control;
            msg.msg_controllen = sizeof control;
            ssize_t n = recvmsg(sock_.fd, &msg, 0);
            if (n <= 0) {
                closed_ = true;
                return;
            }
            int64_t now = realtime_ns();
            for (cmsghdr *c = CMSG_FIRSTHDR(&msg); c != nullptr; c = CMSG_NXTHDR(&msg, c)) {
                if (c->cmsg_level == SOL_SOCKET && c->cmsg_type == SCM_TIMESTAMPNS) {
                    timespec ts;
                    memcpy(&ts, CMSG_DATA(c), sizeof ts);
                    now = (int64_t)ts.tv_sec * 1000000000 + ts.tv_nsec;
                }
            }
            tail.append(buf, (size_t)n);
            size_t count = 0, at;
            while ((at = tail.find("\n31,0,")) != std::string::npos) {
                count++;
                tail.erase(0, at + 1);
            }
            std::lock_guard<std::mutex> g(m_);
            for (size_t i = 0; i < count; i++)
                arrivals_.push_back(now);
        }
    }

    TestSocket sock_;
    std::thread thread_;
    std::atomic<bool> stop_{false}, closed_{false};
    std::mutex m_;
    std::vector<int64_t> arrivals_;
};

class Flood : public ::testing::Test {
protected:
    void SetUp() override
    {
        server_.start(root_.dir(), free_port());
        ASSERT_TRUE(server_.wait_err("could not open file\n"));
    }

    // Floods from a new connection with messages made by flood(), then checks
    // what the listener and the server saw. Several floods in a row: memory
    // must not add up.
    // until_killed: the line that cuts the flooder off (empty: it is served,
    // and closes its side once it has sent everything).
    void expect_flood_harmless(const std::function<void(TestSocket &)> &open,
                               const std::function<std::string()> &flood, const std::string &until_killed,
                               int rounds = 5)
    {
        Listener panel(server_.port());
        ASSERT_TRUE(wait_until([&] { return panel.broadcasts() >= 10; }));
        long rss_before = rss_kib(server_.pid());
        for (int round = 0; round < rounds; round++) {
            SCOPED_TRACE("round " + std::to_string(round));
            size_t killed_before = until_killed.empty() ? 0 : count(server_.err(), until_killed);
            // A machine this busy may hold up any process for a moment: a
            // round with a long gap is tried again, up to three times. The
            // fault this guards against stops every round for seconds.
            std::chrono::nanoseconds gap{};
            for (int attempt = 0; attempt < 3; attempt++) {
                TestSocket flooder(server_.port());
                ASSERT_NO_FATAL_FAILURE(open(flooder));
                int64_t start = realtime_ns();
                flooder.send(flood());
                if (until_killed.empty())
                    shutdown(flooder.fd, SHUT_WR);
                EXPECT_TRUE(flooder.wait_closed(20s));
                if (!until_killed.empty()) {
                    EXPECT_TRUE(wait_until([&] {
                        return count(server_.err(), until_killed) == killed_before + (size_t)attempt + 1;
                    }));
                }
                // Broadcasts go on through and after the flood.
                size_t seen = panel.broadcasts();
                ASSERT_TRUE(wait_until([&] { return panel.broadcasts() >= seen + 8; }));
                gap = panel.longest_gap(start, realtime_ns());
                if (gap < 100ms)
                    break;
            }
            EXPECT_LT(gap, 100ms);
        }
        EXPECT_FALSE(panel.closed());
        long rss = rss_kib(server_.pid());
        RecordProperty("rss_kib", (int)rss);
#if defined(__SANITIZE_ADDRESS__)
        // The sanitizer's own memory dwarfs the server's: only growth counts.
        EXPECT_LT(rss - rss_before, 8 * 1024) << rss_before << " KiB before, " << rss << " KiB after";
#else
        (void)rss_before;
        EXPECT_LT(rss, 16 * 1024) << rss << " KiB resident";
#endif
    }

    static size_t count(const std::string &text, const std::string &what)
    {
        size_t n = 0;
        for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
            n++;
        return n;
    }

    SimRoot root_;
    ServerProcess server_;
};

}  // namespace

TEST_F(Flood, FullDumpRequestsAsRawLines)
{
    // One 4 KB message of 819 requests for the 17.6 kB full dump.
    expect_flood_harmless(
        [](TestSocket &s) {
            s.send(UNIX_HEADER);
            ASSERT_TRUE(s.expect("\n44,0,7,"));  // well into its own dump
        },
        [] {
            std::string m;
            for (int i = 0; i < 819; i++)
                m += "1037\n";
            return m;
        },
        "exceeded maximum send queue size\n");
}

TEST_F(Flood, FullDumpRequestsOverWebSocket)
{
    // 1 KiB frames of 204 requests each.
    expect_flood_harmless(
        [](TestSocket &s) { ASSERT_NE(ws_handshake(s), ""); },
        [] {
            std::string payload;
            for (int i = 0; i < 204; i++)
                payload += "1037\n";
            std::string frames;
            for (int i = 0; i < 16; i++)
                frames += ws_frame(0x81, payload);
            return frames;
        },
        "exceeded maximum send queue size\n");
}

TEST_F(Flood, CommandsThatTakeTimeAreSharedOut)
{
    // Each change of the WLAN passphrase syncs a file: one message of a
    // hundred of them is a second of work, done between the broadcasts.
    expect_flood_harmless(
        [](TestSocket &s) {
            s.send(UNIX_HEADER);
            ASSERT_TRUE(s.expect("\n44,0,7,"));
        },
        [] {
            std::string m;
            for (int i = 0; i < 100; i++)
                m += "112,2,passphrase" + std::to_string(1000 + i) + "\n";
            return m;
        },
        "", 2);
    EXPECT_EQ(read_file(root_.path("/mnt/userdata/sys_wlan.current")), "passphrase1099");
}
