#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <vector>
#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include "crc.h"
#include "platform.h"
#include "serial.h"
#include "stream_harness.h"
#include "support/process.h"
#include "support/sim_root.h"

namespace {

// The serial thread runs for the rest of the process on a pseudo-terminal
// linked at ROOT/dev/ttyS1; the test writes to its master side.
struct SerialPort {
    SimRoot root;
    int master = -1;

    SerialPort()
    {
        master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0 ||
            symlink(ptsname(master), root.path("/dev/ttyS1").c_str()) != 0)
            throw std::runtime_error("cannot make the pseudo-terminal");
        root.activate();
        harness::start();
        platform_init();
        if (serial_start() != 0)
            throw std::runtime_error("serial_start failed");
        // Data written before the port is raw would meet the line discipline.
        if (!wait_until([this] { return !(settings().c_lflag & ICANON); }))
            throw std::runtime_error("the serial thread did not set the port up");
    }

    // The master side reports the terminal's settings.
    termios settings() const
    {
        termios t{};
        tcgetattr(master, &t);
        return t;
    }

    void write_all(const std::string &data) const
    {
        for (size_t at = 0; at < data.size();) {
            ssize_t n = ::write(master, data.data() + at, data.size() - at);
            if (n <= 0)
                throw std::runtime_error("write to the pseudo-terminal failed");
            at += (size_t)n;
        }
    }
};

SerialPort &serial_port()
{
    static SerialPort port;
    return port;
}

std::string with_checksum(const std::string &payload)
{
    return std::to_string(crc8(payload.data(), payload.size())) + ":" + payload;
}

class SerialLink : public ::testing::Test {
protected:
    void SetUp() override
    {
        serial_port();
        harness::reset();
    }
    bool wait_commands(size_t n)
    {
        return wait_until([n] { return harness::commands().size() >= n; });
    }
    bool wait_text(const std::string &text)
    {
        return wait_until([&] { return cap.text().find(text) != std::string::npos; });
    }
    FdCapture cap;
};

}  // namespace

TEST_F(SerialLink, PortIsRawAt9600Baud8N1)
{
    termios t = serial_port().settings();
    EXPECT_EQ(cfgetospeed(&t), (speed_t)B9600);
    EXPECT_EQ(t.c_cflag & CSIZE, (tcflag_t)CS8);
    EXPECT_FALSE(t.c_cflag & (PARENB | CSTOPB));
    EXPECT_TRUE(t.c_cflag & CLOCAL);
    EXPECT_FALSE(t.c_lflag & (ECHO | ICANON));
    EXPECT_FALSE(t.c_oflag & OPOST);
    EXPECT_FALSE(t.c_iflag & ICRNL);
    EXPECT_EQ(t.c_cc[VMIN], 1);
    EXPECT_EQ(t.c_cc[VTIME], 0);
}

TEST_F(SerialLink, ChecksummedMessagesRunEveryLineInOrder)
{
    EXPECT_EQ(crc8("1,0,0,1\n", 8), 193);
    serial_port().write_all("193:1,0,0,1\n");
    ASSERT_TRUE(wait_commands(1));
    EXPECT_EQ(harness::commands(), std::vector<std::string>{"1,0,0,1"});

    serial_port().write_all(with_checksum("1,0,0,0\n2,0,3,-3.5\n"));
    ASSERT_TRUE(wait_commands(3));
    // The checksum text is read as atoi reads it.
    serial_port().write_all(" +" + with_checksum("1,0,5,1\n"));
    ASSERT_TRUE(wait_commands(4));
    EXPECT_EQ(harness::commands(), (std::vector<std::string>{"1,0,0,1", "1,0,0,0", "2,0,3,-3.5", "1,0,5,1"}));
}

TEST_F(SerialLink, BadMessagesAreDroppedWithTheirLine)
{
    serial_port().write_all("194:1,0,0,1\n");
    EXPECT_TRUE(wait_text("rt_serial_thread: checksum error (193 != '194'; fs='1,0,0,1\n'; len=7)\n"));
    serial_port().write_all("1,0,0,1\n");
    EXPECT_TRUE(wait_text("rt_serial_thread: checksum not found\n"));
    serial_port().write_all(std::string(SERIAL_DATA_MAX, '7'));
    EXPECT_TRUE(wait_text("rt_serial_thread: message longer than 65534 bytes discarded\n"));
    // The next message starts with an empty buffer.
    serial_port().write_all("193:1,0,0,1\n");
    ASSERT_TRUE(wait_commands(1));
    EXPECT_EQ(harness::commands(), std::vector<std::string>{"1,0,0,1"});
}

TEST(SerialPortMissing, ServerStallsTheThreadAndServesNetworkClients)
{
    SimRoot root;
    ServerProcess server;
    server.start(root.dir(), free_port());
    ASSERT_TRUE(server.wait_err("rt_serial_thread: cannot open serial port, thread stalling\n"));
    EXPECT_NE(strip_log_prefixes(server.err())
                  .find("init_serial: failed to open: -1, <" + root.path("/dev/ttyS1") +
                        ">, No such file or directory\n"
                        "rt_serial_thread: cannot open serial port, thread stalling\n"),
              std::string::npos)
        << server.err();

    TestSocket s(server.port());
    s.send("<mode>unix</mode>\n");
    EXPECT_TRUE(s.expect_front("1\n"));
    // Network commands go on: the mute comes back as a report with our id.
    s.send("1,1,0,1\n");
    EXPECT_TRUE(s.expect("\n1,1,0,1\n"));
    EXPECT_TRUE(server.running());
}

TEST(SerialPortServer, MessageMutesBusZeroWithConnectionZero)
{
    SimRoot root;
    int master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    ASSERT_GE(master, 0);
    ASSERT_EQ(grantpt(master), 0);
    ASSERT_EQ(unlockpt(master), 0);
    ASSERT_EQ(symlink(ptsname(master), root.path("/dev/ttyS1").c_str()), 0);
    ServerProcess server;
    server.start(root.dir(), free_port());
    TestSocket s(server.port());
    ASSERT_TRUE(wait_until([&] {
        termios t{};
        tcgetattr(master, &t);
        return !(t.c_lflag & ICANON);
    }));
    s.send("<mode>unix</mode>\n");
    ASSERT_TRUE(s.expect_front("1\n"));
    ASSERT_TRUE(s.expect("\n1,0,0,0\n"));  // bus 0 unmuted in the dump
    std::string msg = "193:1,0,0,1\n";
    ASSERT_EQ(write(master, msg.data(), msg.size()), (ssize_t)msg.size());
    EXPECT_TRUE(s.expect("\n1,0,0,1\n"));
    close(master);
}

TEST(SerialReader, MessagesEndWithTheReadThatEndsInALineEnd)
{
    std::string buf(SERIAL_BUF_SIZE, '\0');
    serial_reader r{buf.data(), 0};
    auto read_in = [&](const std::string &bytes) {
        memcpy(r.buf + r.length, bytes.data(), bytes.size());
        return serial_collected(&r, bytes.size());
    };
    std::string msg = with_checksum("1,0,0,1\n2,0,0,-3.0\n");
    EXPECT_EQ(read_in(msg.substr(0, 7)), 0u);  // still collecting
    ASSERT_EQ(read_in(msg.substr(7)), msg.size());
    EXPECT_EQ(std::string(r.buf), msg);
    EXPECT_EQ(r.length, 0u);

    size_t n;
    char *payload = serial_check(r.buf, msg.size(), &n);
    ASSERT_NE(payload, nullptr);
    static std::vector<std::string> lines;
    lines.clear();
    serial_each_line(payload, n, [](const char *line) { lines.emplace_back(line); });
    EXPECT_EQ(lines, (std::vector<std::string>{"1,0,0,1", "2,0,0,-3.0"}));

    // A buffer filled without a line end is dropped whole.
    FdCapture cap;
    std::string junk(SERIAL_DATA_MAX, '7');
    EXPECT_EQ(read_in(junk), 0u);
    EXPECT_EQ(r.length, 0u);
    EXPECT_TRUE(harness::has_line(cap, "rt_serial_thread: message longer than 65534 bytes discarded\n"));
}
