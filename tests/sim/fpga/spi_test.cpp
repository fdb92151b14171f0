// The control port: messages in pieces, bytes that begin none, and the
// simulation root's port file followed as the server appends to it.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include "fpga_spi.h"
#include "support/sim_root.h"

namespace {

const uint8_t PATCH[18] = {0x00, 0x02, 1, 0, 2, 0, 3, 0, 4, 0, 8, 0, 12, 0, 16, 0, 32, 0};
const uint8_t CONTROL[4] = {0x00, 0x01, 0x00, 0x88};

void append(const std::string &path, const uint8_t *bytes, size_t n)
{
    int fd = open(path.c_str(), O_WRONLY | O_APPEND);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(write(fd, bytes, n), (ssize_t)n);
    close(fd);
}

}  // namespace

TEST(FpgaSpi, MessagesInPiecesAndStrayBytes)
{
    fpga_spi s;
    EXPECT_FALSE(fpga_spi_audio_enabled(&s));  // off until enabled, as at power-on
    for (size_t i = 0; i < sizeof PATCH; i++)
        fpga_spi_feed(&s, PATCH + i, 1);
    EXPECT_EQ(s.patch[0], 1);
    EXPECT_EQ(s.patch[5], 12);
    EXPECT_EQ(s.patch[7], 32);

    // A stray byte, then a zero that begins nothing, then a control word.
    const uint8_t junk[] = {0x7F, 0x00, 0x00, 0x01, 0x00, 0x88};
    fpga_spi_feed(&s, junk, sizeof junk);
    EXPECT_EQ(s.control, 0x8800);
    EXPECT_TRUE(fpga_spi_audio_enabled(&s));
    EXPECT_EQ(s.skipped, 2u);
    EXPECT_EQ(s.messages, 2u);
    EXPECT_EQ(s.patch[7], 32);  // a control word leaves the patches alone
}

TEST(FpgaSpi, FollowsThePortFileBehindTheStatusWord)
{
    SimRoot root;
    std::string port = root.path("/dev/spi0");
    fpga_spi s;
    ASSERT_TRUE(fpga_spi_open(&s, port));
    EXPECT_FALSE(fpga_spi_poll(&s));

    append(port, PATCH, 10);  // half a message: nothing yet
    EXPECT_FALSE(fpga_spi_poll(&s));
    append(port, PATCH + 10, 8);
    EXPECT_TRUE(fpga_spi_poll(&s));
    EXPECT_EQ(s.patch[4], 8);
    append(port, CONTROL, 4);
    EXPECT_TRUE(fpga_spi_poll(&s));
    EXPECT_TRUE(fpga_spi_audio_enabled(&s));
    EXPECT_FALSE(fpga_spi_poll(&s));
    // The status word stays where the server reads it.
    EXPECT_EQ(read_file(port).substr(0, 4), std::string(4, '\0'));

    // Cut back to the status word: a new run of the server, read from the start.
    ASSERT_EQ(truncate(port.c_str(), 4), 0);
    const uint8_t zero_patch[18] = {0x00, 0x02};
    append(port, zero_patch, sizeof zero_patch);
    EXPECT_TRUE(fpga_spi_poll(&s));
    EXPECT_EQ(s.patch[4], 0);
    EXPECT_FALSE(fpga_spi_audio_enabled(&s));

    // Made anew (a root made again): the new file is followed.
    ASSERT_EQ(unlink(port.c_str()), 0);
    write_file(port, std::string(4, '\0') + std::string((const char *)PATCH, sizeof PATCH));
    EXPECT_TRUE(fpga_spi_poll(&s));
    EXPECT_EQ(s.patch[1], 2);
}
