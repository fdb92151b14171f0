// Command lines: "id,connection,arguments..." (ASCII, no blanks, no line
// end). command_work looks the id up in command_dispatch; each entry parses
// its own arguments and calls its operation. Callers hold the command lock.
#pragma once
#include <array>

constexpr int COMMAND_COUNT = 126;

// The connection id that internal lines (from linked devices) are run with.
constexpr int COMMAND_CONN_INTERNAL = -127;

// An entry receives the connection id and the whole line.
using command_fn = void (*)(int conn, const char *line);

// Indexed by command id; nullptr where no operation exists.
extern const std::array<command_fn, COMMAND_COUNT> command_dispatch;

// sscanf for command lines, whose conversions are separated by commas as
// the fields of the line are. A field that a "%d" or "%u" conversion would
// read but that does not fit 32 bits counts as missing: the conversions stop
// before it. (glibc reads it through long, which keeps the low bits on a
// 64-bit host and saturates on the 32-bit device: one line would set
// different values on each.)
int command_scan(const char *line, const char *fmt, ...) __attribute__((format(scanf, 2, 3)));

// Runs one command line. internal: on behalf of the device itself, so the
// operation gets COMMAND_CONN_INTERNAL instead of the line's connection id.
void command_work(const char *line, int internal);
