// The serial control link: a receive-only port on which a controller sends
// command lines behind a CRC-8 checksum ("193:1,0,0,1\n"). Good messages run
// through the command handler after the end of a real-time cycle.
#pragma once
#include <cstddef>

constexpr size_t SERIAL_BUF_SIZE = 65536;   // receive buffer
constexpr size_t SERIAL_DATA_MAX = SERIAL_BUF_SIZE - 2;
constexpr int SERIAL_READ_PERIOD_US = 10000;
constexpr unsigned SERIAL_STALL_SECONDS = 1000;

// Starts the serial thread on the port "/dev/ttyS1"; returns pthread_create's result.
int serial_start();

// The message reader, apart from the port so that it can be fed directly.
struct serial_reader {
    char *buf;      // SERIAL_BUF_SIZE bytes
    size_t length;  // collected so far
};

// Counts the n bytes that one read put at buf + length. A read that ends in
// a line end completes a message: returns its length (the text is then
// NUL-terminated and the reader empty again); 0 while collecting. A full
// buffer without a line end is discarded.
size_t serial_collected(serial_reader *r, size_t n);

// Checks one message ("checksum:payload", NUL-terminated, length bytes).
// Returns the payload and its length, or nullptr after the diagnostic line.
char *serial_check(char *text, size_t length, size_t *payload_length);

// Hands each line of a payload, without its line end, to run; a last piece
// without a line end ends the payload.
void serial_each_line(char *payload, size_t length, void (*run)(const char *line));
