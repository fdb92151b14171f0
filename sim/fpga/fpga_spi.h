// The control port as the audio hardware sees it: the input-patch messages
// and control words the server writes to "/dev/spi0". In a simulation root
// the port is a plain file: its first four bytes are the status word the
// server reads, and every message the server writes is appended behind them.
// The model follows that file from byte 4 on, so what the server writes and
// reads stays exactly as it is.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

constexpr int FPGA_SPI_STATUS_BYTES = 4;
constexpr uint8_t SPI_MSG_CONTROL = 0x01;  // 0x00, 0x01, flag word (16-bit LE)
constexpr uint8_t SPI_MSG_PATCH = 0x02;    // 0x00, 0x02, eight bus patches (16-bit LE)
constexpr size_t SPI_CONTROL_BYTES = 4;
constexpr size_t SPI_PATCH_BYTES = 18;
constexpr uint16_t SPI_AUDIO_ENABLE = 0x8000;

struct fpga_spi {
    std::string path;
    int fd = -1;
    uint64_t offset = FPGA_SPI_STATUS_BYTES;  // next byte of the file to read
    uint8_t partial[SPI_PATCH_BYTES] = {};    // a message not yet complete
    size_t partial_len = 0;
    // What the hardware holds: the bus patches (bit i: input i summed into
    // the bus) and the last control word. Audio stays off until a control
    // word enables it, as after power-on.
    uint16_t patch[8] = {};
    uint16_t control = 0;
    uint64_t messages = 0;  // complete messages taken
    uint64_t skipped = 0;   // bytes that began no known message

    fpga_spi() = default;
    fpga_spi(const fpga_spi &) = delete;
    fpga_spi &operator=(const fpga_spi &) = delete;
    ~fpga_spi();
};

// Back to the power-on state; the file position returns to the first message.
void fpga_spi_reset(fpga_spi *s);
// Takes the next bytes of the message stream; messages may arrive in pieces.
void fpga_spi_feed(fpga_spi *s, const uint8_t *bytes, size_t n);
// Opens the port file for reading; false (with errno set) when it cannot.
bool fpga_spi_open(fpga_spi *s, const std::string &path);
// Reads what was appended since the last call. A file that became shorter
// than what was read, or was made anew (a new simulation root), is followed
// from its start again. True when a message changed the patches or the
// control word.
bool fpga_spi_poll(fpga_spi *s);
inline bool fpga_spi_audio_enabled(const fpga_spi *s) { return (s->control & SPI_AUDIO_ENABLE) != 0; }
