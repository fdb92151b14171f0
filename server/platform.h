// The only place that builds device paths and starts system tools.
//
// On the device the paths and tools are used as they are. Off the device
// MIREL_ROOT=DIR puts every absolute device path under DIR and takes every
// tool from DIR/bin first; MIREL_PORT and MIREL_DNS_PORT move the ports.
#pragma once
#include <string>
#include <string_view>
#include <sys/types.h>
#include <vector>

constexpr int PLATFORM_DEFAULT_PORT = 24871;
constexpr int PLATFORM_DEFAULT_DNS_PORT = 53;

// Reads the environment; called at start-up (and by tests after changing it).
void platform_init();

// The simulation root, empty on the device.
const std::string &platform_root();

// The path under which a device path ("/dev/fpgabus", "/mnt/userdata/...") is reached.
std::string platform_path(std::string_view device_path);

int platform_port();
int platform_dns_port();

// Runs a shell command line (printf format) through /bin/sh with the tool
// folder first in PATH; returns the exit status, or -1 if it could not run.
// Only for fixed command lines (a pipeline): anything that carries a path or
// a value goes through platform_exec, so no shell ever reads it.
int platform_run(const char *fmt, ...) __attribute__((format(printf, 1, 2)));

// As platform_run, and collects up to size - 1 bytes of the command's
// standard output into out (NUL-terminated). Returns the exit status or -1.
int platform_read(char *out, size_t size, const char *fmt, ...) __attribute__((format(printf, 3, 4)));

// Runs a tool with an argument list and no shell (argv[0] is the tool's
// name, looked up in PATH with the tool folder first), so a path with
// quotes, blanks or semicolons reaches the tool as one argument. Returns the
// exit status, or -1 when the tool is not found or could not be started.
// With out given, up to max bytes of its standard output land there.
int platform_exec(const std::vector<std::string> &argv, std::string *out = nullptr, size_t max = 65536);

// Starts a tool in the background without a shell (argv[0] is the tool's
// name, looked up in PATH with the tool folder first); returns its pid or -1.
pid_t platform_spawn(const char *const argv[]);

// Reads until size bytes, the end of the file or an error (EINTR retried);
// returns the bytes read.
size_t platform_read_fd(int fd, void *buf, size_t size);
// Writes all size bytes unless an error stops it (EINTR retried); returns
// the bytes written.
size_t platform_write_fd(int fd, const void *buf, size_t size);
