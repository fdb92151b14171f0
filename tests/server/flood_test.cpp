// A hostile client floods the real server with full-dump requests, as raw
// lines and over WebSocket. The well-behaved client (the panel, say) must
// keep getting every broadcast, the flooder must be cut off at once, and
// the server must not grow.
#include <gtest/gtest.h>

#include <atomic>
#include <fstream>
#include <mutex>
#include <poll.h>
#include <sys/socket.h>
#include <thread>

#include "stream_harness.h"
#include "support/process.h"
#include "support/sim_root.h"

namespace {

using clock_type = std::chrono::steady_clock;

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
    clock_type::duration longest_gap(clock_type::time_point from, clock_type::time_point to)
    {
        std::lock_guard<std::mutex> g(m_);
        clock_type::duration longest{};
        for (size_t i = 1; i < arrivals_.size(); i++)
            if (arrivals_[i] >= from && arrivals_[i - 1] <= to)
                longest = std::max(longest, arrivals_[i] - arrivals_[i - 1]);
        return longest;
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
            ssize_t n = recv(sock_.fd, buf, sizeof buf, 0);
            if (n <= 0) {
                closed_ = true;
                return;
            }
            auto now = clock_type::now();
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
    std::vector<clock_type::time_point> arrivals_;
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
    void expect_flood_harmless(const std::function<void(TestSocket &)> &open,
                               const std::function<std::string()> &flood)
    {
        Listener panel(server_.port());
        ASSERT_TRUE(wait_until([&] { return panel.broadcasts() >= 10; }));
        long rss_before = rss_kib(server_.pid());
        for (int round = 0; round < 5; round++) {
            SCOPED_TRACE("round " + std::to_string(round));
            size_t killed_before = count(server_.err(), "exceeded maximum send queue size\n");
            TestSocket flooder(server_.port());
            ASSERT_NO_FATAL_FAILURE(open(flooder));
            auto start = clock_type::now();
            flooder.send(flood());
            EXPECT_TRUE(flooder.wait_closed(5s));
            EXPECT_TRUE(wait_until([&] {
                return count(server_.err(), "exceeded maximum send queue size\n") == killed_before + 1;
            }));
            // Broadcasts go on through and after the flood.
            size_t seen = panel.broadcasts();
            ASSERT_TRUE(wait_until([&] { return panel.broadcasts() >= seen + 8; }));
            auto end = clock_type::now();
            EXPECT_LT(panel.longest_gap(start, end), 100ms);
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
        });
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
        });
}
