#include "platform.h"

#include <algorithm>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char **environ;

namespace {

std::string g_root;
std::string g_path_env;  // "PATH=..." handed to every child
int g_port = PLATFORM_DEFAULT_PORT;
int g_dns_port = PLATFORM_DEFAULT_DNS_PORT;
std::once_flag g_once;

int env_port(const char *name, int fallback)
{
    const char *v = getenv(name);
    if (v == nullptr || *v == 0)
        return fallback;
    char *end;
    long n = strtol(v, &end, 10);
    if (*end != 0 || n < 1 || n > 65535)
        return fallback;
    return (int)n;
}

void ensure_init()
{
    std::call_once(g_once, [] {
        if (g_path_env.empty())
            platform_init();
    });
}

// The child's environment: ours with PATH replaced.
std::vector<char *> child_environment()
{
    std::vector<char *> env;
    for (char **e = environ; *e != nullptr; e++)
        if (strncmp(*e, "PATH=", 5) != 0)
            env.push_back(*e);
    env.push_back(const_cast<char *>(g_path_env.c_str()));
    env.push_back(nullptr);
    return env;
}

std::string format_command(const char *fmt, va_list ap)
{
    char buf[2048];
    int n = vsnprintf(buf, sizeof buf, fmt, ap);
    if (n < 0)
        return {};
    if ((size_t)n < sizeof buf)
        return std::string(buf, (size_t)n);
    return {};  // no command of ours is this long: run nothing rather than a cut one
}

// The tool's path: argv[0] as it is when it names a folder, else the first
// executable of that name in our PATH; empty when there is none.
std::string resolve_tool(const std::string &name)
{
    if (name.find('/') != std::string::npos)
        return name;
    std::string dirs = g_path_env.substr(5);
    size_t start = 0;
    while (start <= dirs.size()) {
        size_t end = dirs.find(':', start);
        if (end == std::string::npos)
            end = dirs.size();
        std::string cand = dirs.substr(start, end - start) + "/" + name;
        if (access(cand.c_str(), X_OK) == 0)
            return cand;
        start = end + 1;
    }
    return {};
}

// Runs the program at path with argv and waits for it; when out is given,
// collects up to max bytes of its standard output (the rest is read and
// dropped, so the child never blocks on a full pipe).
int run_child(const std::string &path, const std::vector<const char *> &argv, std::string *out, size_t max)
{
    int fds[2] = {-1, -1};
    if (out != nullptr && pipe2(fds, O_CLOEXEC) != 0)
        return -1;
    // Everything the child needs is built before the fork: no allocation after it.
    std::vector<char *> env = child_environment();
    pid_t pid = fork();
    if (pid < 0) {
        if (out != nullptr) {
            close(fds[0]);
            close(fds[1]);
        }
        return -1;
    }
    if (pid == 0) {
        if (out != nullptr)
            dup2(fds[1], STDOUT_FILENO);
        sigset_t none;
        sigemptyset(&none);
        pthread_sigmask(SIG_SETMASK, &none, nullptr);
        execve(path.c_str(), const_cast<char *const *>(argv.data()), env.data());
        _exit(127);
    }
    if (out != nullptr) {
        close(fds[1]);
        out->clear();
        while (true) {
            char tmp[512];
            ssize_t r = read(fds[0], tmp, sizeof tmp);
            if (r < 0 && errno == EINTR)
                continue;
            if (r <= 0)
                break;
            out->append(tmp, std::min((size_t)r, max - std::min(max, out->size())));
        }
        close(fds[0]);
    }
    int status;
    while (waitpid(pid, &status, 0) < 0)
        if (errno != EINTR)
            return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Runs "/bin/sh -c cmd"; when out is given, collects the standard output.
int run_shell(const std::string &cmd, char *out, size_t size)
{
    ensure_init();
    if (cmd.empty())
        return -1;
    std::string text;
    int status = run_child("/bin/sh", {"/bin/sh", "-c", cmd.c_str(), nullptr}, out != nullptr ? &text : nullptr,
                           size > 0 ? size - 1 : 0);
    if (out != nullptr && size > 0) {
        memcpy(out, text.data(), text.size());
        out[text.size()] = 0;
    }
    return status;
}

}  // namespace

void platform_init()
{
    const char *root = getenv("MIREL_ROOT");
    g_root = root != nullptr ? root : "";
    while (g_root.size() > 1 && g_root.back() == '/')
        g_root.pop_back();
    const char *path = getenv("PATH");
    std::string p = path != nullptr && *path ? path : "/usr/sbin:/usr/bin:/sbin:/bin";
    g_path_env = "PATH=" + (g_root.empty() ? p : g_root + "/bin:" + p);
    g_port = env_port("MIREL_PORT", PLATFORM_DEFAULT_PORT);
    g_dns_port = env_port("MIREL_DNS_PORT", PLATFORM_DEFAULT_DNS_PORT);
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
    std::string p = g_root;
    p.append(device_path);
    return p;
}

int platform_port()
{
    ensure_init();
    return g_port;
}

int platform_dns_port()
{
    ensure_init();
    return g_dns_port;
}

int platform_run(const char *fmt, ...)
{
    va_list ap;
    va_start(ap, fmt);
    std::string cmd = format_command(fmt, ap);
    va_end(ap);
    return run_shell(cmd, nullptr, 0);
}

int platform_read(char *out, size_t size, const char *fmt, ...)
{
    va_list ap;
    va_start(ap, fmt);
    std::string cmd = format_command(fmt, ap);
    va_end(ap);
    if (size > 0)
        out[0] = 0;
    return run_shell(cmd, out, size);
}

int platform_exec(const std::vector<std::string> &argv, std::string *out, size_t max)
{
    ensure_init();
    if (out != nullptr)
        out->clear();
    if (argv.empty())
        return -1;
    std::string tool = resolve_tool(argv[0]);
    if (tool.empty())
        return -1;
    std::vector<const char *> args;
    for (const std::string &a : argv)
        args.push_back(a.c_str());
    args.push_back(nullptr);
    return run_child(tool, args, out, max);
}

pid_t platform_spawn(const char *const argv[])
{
    ensure_init();
    std::vector<char *> env = child_environment();
    // Resolve the tool through our PATH before forking (no allocation after fork).
    std::string tool = resolve_tool(argv[0]);
    if (tool.empty())
        tool = argv[0];
    pid_t pid = fork();
    if (pid == 0) {
        sigset_t none;
        sigemptyset(&none);
        pthread_sigmask(SIG_SETMASK, &none, nullptr);
        execve(tool.c_str(), const_cast<char *const *>(argv), env.data());
        _exit(127);
    }
    return pid;
}

size_t platform_read_fd(int fd, void *buf, size_t size)
{
    size_t got = 0;
    while (got < size) {
        ssize_t r = read(fd, (char *)buf + got, size - got);
        if (r < 0 && errno == EINTR)
            continue;
        if (r <= 0)
            break;
        got += (size_t)r;
    }
    return got;
}

size_t platform_write_fd(int fd, const void *buf, size_t size)
{
    size_t done = 0;
    while (done < size) {
        ssize_t w = write(fd, (const char *)buf + done, size - done);
        if (w < 0 && errno == EINTR)
            continue;
        if (w <= 0)
            break;
        done += (size_t)w;
    }
    return done;
}
