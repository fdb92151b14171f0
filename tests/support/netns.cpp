#include "support/netns.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <mutex>
#include <sched.h>
#include <sstream>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace {

std::string quote(const std::string &s)
{
    std::string q = "'";
    for (char c : s)
        q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}

// Runs a shell command line on the host; returns the exit status.
int shell(const std::string &cmd, std::string *out = nullptr)
{
    FILE *p = popen((cmd + (out != nullptr ? " 2>/dev/null" : " >/dev/null 2>&1")).c_str(), "r");
    if (p == nullptr)
        return -1;
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, p)) > 0)
        if (out != nullptr)
            out->append(buf, n);
    int st = pclose(p);
    return WIFEXITED(st) ? WEXITSTATUS(st) : -1;
}

std::string ip()
{
    return netns_ip_tool();
}

void remove_namespace(const std::string &name)
{
    std::string pids;
    shell(ip() + " netns pids " + name, &pids);
    std::istringstream in(pids);
    for (long pid; in >> pid;)
        if (pid > 1)
            kill((pid_t)pid, SIGKILL);
    shell(ip() + " netns del " + name);
}

}  // namespace

const std::string &netns_ip_tool()
{
    static const std::string tool = [] {
        for (const char *p : {"/usr/sbin/ip", "/sbin/ip", "/usr/bin/ip", "/bin/ip"})
            if (access(p, X_OK) == 0)
                return std::string(p);
        return std::string("ip");
    }();
    return tool;
}

std::string netns_unavailable()
{
    static std::once_flag once;
    static std::string why;
    std::call_once(once, [] {
        if (geteuid() != 0) {
            why = "not running as root";
            return;
        }
        if (access(netns_ip_tool().c_str(), X_OK) != 0) {
            why = "ip(8) not found";
            return;
        }
        std::string probe = std::string(NETNS_PREFIX) + std::to_string(getpid()) + "-probe";
        if (shell(ip() + " netns add " + probe) != 0)
            why = "'ip netns add' failed (no permission to make network namespaces?)";
        else
            shell(ip() + " netns del " + probe);
    });
    return why;
}

void netns_sweep_stale()
{
    std::string list;
    shell(ip() + " netns list", &list);
    std::istringstream in(list);
    const std::string prefix = NETNS_PREFIX;
    for (std::string line; std::getline(in, line);) {
        std::string name = line.substr(0, line.find(' '));
        if (name.compare(0, prefix.size(), prefix) != 0)
            continue;
        long pid = atol(name.c_str() + prefix.size());
        if (pid <= 0 || (kill((pid_t)pid, 0) != 0 && errno == ESRCH))
            remove_namespace(name);
    }
}

Netns::Netns(const std::string &tag) : name_(std::string(NETNS_PREFIX) + std::to_string(getpid()) + "-" + tag)
{
    ok_ = shell(ip() + " netns add " + name_) == 0 && shell(ip() + " -n " + name_ + " link set lo up") == 0;
}

Netns::~Netns()
{
    remove_namespace(name_);
}

int Netns::run(const std::string &cmd, std::string *out) const
{
    return shell(ip() + " netns exec " + name_ + " sh -c " + quote(cmd), out);
}

void Netns::enter(const std::function<void()> &fn) const
{
    std::thread t([&] {
        int fd = open(("/run/netns/" + name_).c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0 || setns(fd, CLONE_NEWNET) != 0) {
            if (fd >= 0)
                close(fd);
            fprintf(stderr, "cannot enter network namespace %s\n", name_.c_str());
            abort();
        }
        close(fd);
        fn();
    });
    t.join();
}

bool Netns::add_bridge(const std::string &cidr) const
{
    std::string n = ip() + " -n " + name_;
    return shell(n + " link add br0 type bridge") == 0 && shell(n + " addr add " + cidr + " dev br0") == 0 &&
           shell(n + " link set br0 up") == 0;
}

std::vector<std::string> Netns::processes() const
{
    std::string pids;
    shell(ip() + " netns pids " + name_, &pids);
    std::istringstream in(pids);
    std::vector<std::string> out;
    for (long pid; in >> pid;) {
        FILE *f = fopen(("/proc/" + std::to_string(pid) + "/cmdline").c_str(), "r");
        if (f == nullptr)
            continue;
        std::string cmd;
        for (int c; (c = fgetc(f)) != EOF;)
            cmd += c == 0 ? ' ' : (char)c;
        fclose(f);
        if (!cmd.empty())
            out.push_back(cmd.substr(0, cmd.size() - 1));
    }
    return out;
}

bool netns_join_br0(const Netns &a, const std::string &cidr_a, const Netns &b, const std::string &cidr_b)
{
    std::string na = ip() + " -n " + a.name(), nb = ip() + " -n " + b.name();
    return shell(na + " link add br0 type veth peer name br0 netns " + b.name()) == 0 &&
           shell(na + " addr add " + cidr_a + " dev br0") == 0 && shell(nb + " addr add " + cidr_b + " dev br0") == 0 &&
           shell(na + " link set br0 up") == 0 && shell(nb + " link set br0 up") == 0;
}
