// What /proc tells about a process the panel benchmarks started: its CPU
// time and its resident memory.
#pragma once
#include <cstdio>
#include <cstring>
#include <sys/types.h>

// User plus system time in clock ticks; -1 when unknown.
inline long proc_cpu_ticks(pid_t pid)
{
    char path[64], buf[1024];
    snprintf(path, sizeof path, "/proc/%d/stat", (int)pid);
    FILE *f = fopen(path, "r");
    if (f == nullptr)
        return -1;
    size_t n = fread(buf, 1, sizeof buf - 1, f);
    fclose(f);
    buf[n] = 0;
    const char *p = strrchr(buf, ')');
    long utime = 0, stime = 0;
    if (p == nullptr || sscanf(p + 2, "%*c %*d %*d %*d %*d %*d %*u %*u %*u %*u %*u %ld %ld", &utime, &stime) != 2)
        return -1;
    return utime + stime;
}

// Resident memory in KiB; -1 when unknown.
inline long proc_rss_kib(pid_t pid)
{
    char path[64], line[256];
    snprintf(path, sizeof path, "/proc/%d/status", (int)pid);
    FILE *f = fopen(path, "r");
    long kib = -1;
    while (f != nullptr && fgets(line, sizeof line, f) != nullptr)
        if (sscanf(line, "VmRSS: %ld kB", &kib) == 1)
            break;
    if (f != nullptr)
        fclose(f);
    return kib;
}
