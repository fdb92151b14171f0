#include "platform.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <sys/wait.h>

namespace {

std::string g_root;
int g_port = PLATFORM_DEFAULT_PORT;
bool g_ready;

void ensure_init()
{
    if (!g_ready)
        platform_init();
}

// The command line for the shell; off the device the simulated tools come
// first. A command line of ours never needs more room; a cut one is not run.
bool format_line(char *buf, size_t size, const char *fmt, va_list ap)
{
    int pre = 0;
    if (!g_root.empty() && g_root.find('\'') == std::string::npos)
        pre = snprintf(buf, size, "PATH='%s/bin':\"$PATH\"; export PATH; ", g_root.c_str());
    if (pre < 0 || (size_t)pre >= size)
        return false;
    int n = vsnprintf(buf + pre, size - (size_t)pre, fmt, ap);
    return n >= 0 && (size_t)n < size - (size_t)pre;
}

}  // namespace

void platform_init()
{
    const char *root = getenv("MIREL_ROOT");
    std::string r = root != nullptr ? root : "";
    while (r.size() > 1 && r.back() == '/')
        r.pop_back();
    g_root = r;
    g_port = PLATFORM_DEFAULT_PORT;
    if (const char *v = getenv("MIREL_PORT"); v != nullptr && *v != 0) {
        char *end;
        long n = strtol(v, &end, 10);
        if (*end == 0 && n >= 1 && n <= 65535)
            g_port = (int)n;
    }
    g_ready = true;
}

const std::string &platform_root()
{
    ensure_init();
    return g_root;
}

std::string platform_path(std::string_view device_path)
{
    ensure_init();
    if (g_root.empty() || device_path.empty() || device_path[0] != '/')
        return std::string(device_path);
    return g_root + std::string(device_path);
}

int platform_port()
{
    ensure_init();
    return g_port;
}

namespace {

// Runs the command line through the shell; with out, reads what it prints.
int run_command(char *out, size_t size, const char *fmt, va_list ap)
{
    ensure_init();
    char cmd[2048];
    if (!format_line(cmd, sizeof cmd, fmt, ap))
        return -1;
    if (out == nullptr) {
        int st = system(cmd);
        return st != -1 && WIFEXITED(st) ? WEXITSTATUS(st) : -1;
    }
    FILE *f = popen(cmd, "r");
    if (f == nullptr)
        return -1;
    size_t n = fread(out, 1, size - 1, f);
    out[n] = 0;
    pclose(f);
    return (int)n;
}

}  // namespace

int platform_run(const char *fmt, ...)
{
    va_list ap;
    va_start(ap, fmt);
    int r = run_command(nullptr, 0, fmt, ap);
    va_end(ap);
    return r;
}

int platform_read(char *out, size_t size, const char *fmt, ...)
{
    if (size == 0)
        return -1;
    out[0] = 0;
    va_list ap;
    va_start(ap, fmt);
    int r = run_command(out, size, fmt, ap);
    va_end(ap);
    return r;
}

void platform_log(const char *fmt, ...)
{
    va_list ap;
    va_start(ap, fmt);
    vfprintf(stderr, fmt, ap);
    va_end(ap);
    fputc('\n', stderr);
}
