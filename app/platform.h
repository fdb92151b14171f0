// The panel's only place that builds device paths and starts system tools.
//
// On the device paths and tools are used as they are. Off the device
// MIREL_ROOT=DIR puts every absolute device path under DIR and takes the
// tools from DIR/bin first; MIREL_PORT selects the server's port.
#pragma once
#include <string>
#include <string_view>

constexpr int PLATFORM_DEFAULT_PORT = 24871;

// Reads the environment. Called by main before any thread starts, and by
// tests after changing it.
void platform_init();

// The simulation root, empty on the device.
const std::string &platform_root();

// Where a device path ("/dev/input/event0") is reached.
std::string platform_path(std::string_view device_path);

// The server's TCP port.
int platform_port();

// Runs a command line through the shell; returns its exit status or -1.
int platform_run(const char *fmt, ...) __attribute__((format(printf, 1, 2)));

// Runs a command line and reads the first size - 1 bytes it prints into out
// (NUL-terminated). Returns the number of bytes read or -1.
int platform_read(char *out, size_t size, const char *fmt, ...) __attribute__((format(printf, 3, 4)));

// A panel diagnostic: the text on standard error followed by an extra line end.
void platform_log(const char *fmt, ...) __attribute__((format(printf, 1, 2)));
