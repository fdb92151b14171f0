#include "fpga_spi.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

uint16_t le16(const uint8_t *p)
{
    return (uint16_t)(p[0] | p[1] << 8);
}

// Length of the message that begins with these bytes, 0 when none does.
size_t message_length(const uint8_t *p)
{
    if (p[0] != 0x00)
        return 0;
    if (p[1] == SPI_MSG_CONTROL)
        return SPI_CONTROL_BYTES;
    if (p[1] == SPI_MSG_PATCH)
        return SPI_PATCH_BYTES;
    return 0;
}

void take_message(fpga_spi *s, const uint8_t *m)
{
    if (m[1] == SPI_MSG_CONTROL) {
        s->control = le16(m + 2);
    } else {
        for (int b = 0; b < 8; b++)
            s->patch[b] = le16(m + 2 + 2 * b);
    }
    s->messages++;
}

}  // namespace

fpga_spi::~fpga_spi()
{
    if (fd >= 0)
        close(fd);
}

void fpga_spi_reset(fpga_spi *s)
{
    s->offset = FPGA_SPI_STATUS_BYTES;
    s->partial_len = 0;
    memset(s->patch, 0, sizeof s->patch);
    s->control = 0;
    s->messages = 0;
    s->skipped = 0;
}

void fpga_spi_feed(fpga_spi *s, const uint8_t *bytes, size_t n)
{
    for (size_t i = 0; i < n; i++) {
        s->partial[s->partial_len++] = bytes[i];
        if (s->partial_len < 2)
            continue;
        size_t len = message_length(s->partial);
        if (len == 0) {
            // Not a message start: drop one byte and look again from the next.
            s->skipped++;
            s->partial[0] = s->partial[1];
            s->partial_len = 1;
            continue;
        }
        if (s->partial_len == len) {
            take_message(s, s->partial);
            s->partial_len = 0;
        }
    }
}

bool fpga_spi_open(fpga_spi *s, const std::string &path)
{
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    if (s->fd >= 0)
        close(s->fd);
    s->fd = fd;
    s->path = path;
    fpga_spi_reset(s);
    return true;
}

bool fpga_spi_poll(fpga_spi *s)
{
    uint16_t patch[8];
    memcpy(patch, s->patch, sizeof patch);
    uint16_t control = s->control;
    struct stat st, named;
    if (s->fd < 0 || fstat(s->fd, &st) != 0)
        return false;
    if (stat(s->path.c_str(), &named) == 0 && (named.st_ino != st.st_ino || named.st_dev != st.st_dev)) {
        std::string path = s->path;
        if (!fpga_spi_open(s, path) || fstat(s->fd, &st) != 0)
            return false;
    }
    uint64_t size = (uint64_t)st.st_size;
    if (size < s->offset)
        fpga_spi_reset(s);
    uint8_t buf[4096];
    while (s->offset < size) {
        ssize_t r = pread(s->fd, buf, sizeof buf, (off_t)s->offset);
        if (r < 0 && errno == EINTR)
            continue;
        if (r <= 0)
            break;
        fpga_spi_feed(s, buf, (size_t)r);
        s->offset += (uint64_t)r;
    }
    return control != s->control || memcmp(patch, s->patch, sizeof patch) != 0;
}
