// What the panel benchmarks that run mirelapp (and mirelserver) as programs
// share: starting them in a simulation root, reading the panel's screen.txt,
// and key records into its input FIFO.
#pragma once
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <netinet/in.h>
#include <string>
#include <sys/socket.h>
#include <sys/time.h>
#include <thread>
#include <unistd.h>
#include <vector>

// A loopback port nothing listens on now (type SOCK_STREAM or SOCK_DGRAM).
inline int bench_free_port(int type = SOCK_STREAM)
{
    int s = socket(AF_INET, type | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    bind(s, (sockaddr *)&a, sizeof a);
    getsockname(s, (sockaddr *)&a, &len);
    close(s);
    return ntohs(a.sin_port);
}

// Starts a program of the device (headless, quiet) in the root on port;
// the server's DNS responder gets a free port of its own.
inline pid_t bench_spawn(const std::string &program, const std::string &root, int port)
{
    int dns = bench_free_port(SOCK_DGRAM);
    pid_t pid = fork();
    if (pid == 0) {
        setenv("MIREL_ROOT", root.c_str(), 1);
        setenv("MIREL_PORT", std::to_string(port).c_str(), 1);
        setenv("MIREL_DNS_PORT", std::to_string(dns).c_str(), 1);
        setenv("SDL_VIDEODRIVER", "dummy", 1);
        int null = open("/dev/null", O_WRONLY);
        dup2(null, 1);
        dup2(null, 2);
        execl(program.c_str(), program.c_str(), (char *)nullptr);
        _exit(127);
    }
    return pid;
}

// What the panel shows, as its screen.txt says ("" when it does not answer).
inline std::string bench_screen_text(pid_t pid, const std::string &root)
{
    std::string path = root + "/tmp/screen.txt";
    unlink(path.c_str());
    kill(pid, SIGUSR2);
    for (int i = 0; i < 200; i++) {
        if (FILE *f = fopen(path.c_str(), "r")) {
            std::string s;
            char buf[4096];
            size_t n;
            while ((n = fread(buf, 1, sizeof buf, f)) > 0)
                s.append(buf, n);
            fclose(f);
            return s;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return "";
}

// Waits until screen.txt shows a line (no slide running); false after 5 s.
inline bool bench_wait_screen(pid_t pid, const std::string &root, const char *line)
{
    for (int i = 0; i < 100; i++) {
        std::string s = bench_screen_text(pid, root);
        if (s.find(line) != std::string::npos && s.find("\nslide ") == std::string::npos)
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return false;
}

// Key presses (device key codes) into the panel's input FIFO, each with its release.
inline void bench_press(int fifo, const std::vector<int> &codes)
{
    for (int code : codes) {
        timeval tv;
        gettimeofday(&tv, nullptr);
        struct {
            int32_t sec, usec;
            uint16_t type, code;
            int32_t value;
        } rec[2] = {{(int32_t)tv.tv_sec, (int32_t)tv.tv_usec, 1, 0, (code & 0xFF) << 16 | 1},
                    {(int32_t)tv.tv_sec, (int32_t)tv.tv_usec, 1, 0, 1}};
        (void)!write(fifo, rec, sizeof rec);
    }
}
