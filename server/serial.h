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
