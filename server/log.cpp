#include "log.h"

#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <unistd.h>

namespace {

// Longer lines are cut; a diagnostic never needs more.
constexpr size_t LOG_LINE_MAX = 4096;

size_t format_prefix(char *buf, size_t size)
{
    time_t now = time(nullptr);
    struct tm tm;
    gmtime_r(&now, &tm);
    size_t n = strftime(buf, size, "%Y-%m-%d %H:%M:%S", &tm);
    if (n + 1 < size)
        buf[n++] = ' ';
    return n;
}

void write_all(int fd, const char *buf, size_t n)
{
    while (n > 0) {
        ssize_t w = write(fd, buf, n);
        if (w <= 0)
            return;
        buf += w;
        n -= (size_t)w;
    }
}

void vlog(int fd, bool prefix, const char *fmt, va_list ap)
{
    char buf[LOG_LINE_MAX];
    size_t n = prefix ? format_prefix(buf, sizeof buf) : 0;
    int m = vsnprintf(buf + n, sizeof buf - n, fmt, ap);
    if (m < 0)
        return;
    n += (size_t)m < sizeof buf - n ? (size_t)m : sizeof buf - n - 1;
    write_all(fd, buf, n);
}

}  // namespace

void log_prefix(FILE *stream)
{
    char buf[32];
    size_t n = format_prefix(buf, sizeof buf);
    fwrite(buf, 1, n, stream);
}

void log_error(const char *fmt, ...)
{
    va_list ap;
    va_start(ap, fmt);
    vlog(STDERR_FILENO, true, fmt, ap);
    va_end(ap);
}

void log_output(const char *fmt, ...)
{
    va_list ap;
    va_start(ap, fmt);
    vlog(STDOUT_FILENO, false, fmt, ap);
    va_end(ap);
}

void log_assert_fail(const char *expr, const char *file, const char *func)
{
    const char *base = strrchr(file, '/');
    log_error("%s: %s: assertion \"%s\" failed\n", base ? base + 1 : file, func, expr);
    abort();
}
