#include "support/process.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <netinet/in.h>
#include <stdexcept>
#include <sys/socket.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

#include "support/netns.h"
#include "support/sim_root.h"

extern char **environ;

bool wait_until(const std::function<bool()> &pred, std::chrono::milliseconds timeout)
{
    auto deadline = std::chrono::steady_clock::now() + timeout;
    while (true) {
        if (pred())
            return true;
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
        std::this_thread::sleep_for(5ms);
    }
}

ChildProcess::~ChildProcess()
{
    if (pid_ > 0)
        stop(SIGKILL);
}

void ChildProcess::start(const std::string &program, const std::vector<std::string> &env,
                         const std::string &out_file, const std::string &err_file)
{
    std::vector<std::string> args = test_emulator();
    args.push_back(program);
    start_argv(args, env, out_file, err_file);
}

void ChildProcess::start_argv(const std::vector<std::string> &args, const std::vector<std::string> &env,
                              const std::string &out_file, const std::string &err_file)
{
    out_file_ = out_file;
    err_file_ = err_file;
    std::vector<std::string> envs;
    for (char **e = environ; *e; e++) {
        std::string s = *e;
        bool replaced = false;
        for (const auto &x : env)
            if (s.substr(0, s.find('=') + 1) == x.substr(0, x.find('=') + 1))
                replaced = true;
        if (!replaced)
            envs.push_back(s);
    }
    envs.insert(envs.end(), env.begin(), env.end());
    std::vector<char *> envp;
    for (auto &s : envs)
        envp.push_back(s.data());
    envp.push_back(nullptr);
    std::vector<std::string> arg_copy = args;
    std::vector<char *> argv;
    for (auto &a : arg_copy)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    pid_ = fork();
    if (pid_ < 0)
        throw std::runtime_error("fork failed");
    if (pid_ == 0) {
        int o = open(out_file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        int e = open(err_file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (o >= 0)
            dup2(o, 1);
        if (e >= 0)
            dup2(e, 2);
        int devnull = open("/dev/null", O_RDONLY);
        if (devnull >= 0)
            dup2(devnull, 0);
        execve(argv[0], argv.data(), envp.data());
        _exit(127);
    }
}

bool ChildProcess::running()
{
    if (pid_ <= 0)
        return false;
    int st;
    pid_t r = waitpid(pid_, &st, WNOHANG);
    if (r == pid_) {
        status_ = st;
        pid_ = -1;
        return false;
    }
    return true;
}

void ChildProcess::signal(int sig)
{
    if (pid_ > 0)
        kill(pid_, sig);
}

int ChildProcess::stop(int sig, std::chrono::milliseconds timeout)
{
    if (pid_ <= 0)
        return status_;
    kill(pid_, sig);
    if (!wait_until([this] { return !running(); }, timeout)) {
        kill(pid_, SIGKILL);
        int st;
        waitpid(pid_, &st, 0);
        status_ = st;
        pid_ = -1;
    }
    return status_;
}

std::string ChildProcess::out() const
{
    return read_file(out_file_);
}

std::string ChildProcess::err() const
{
    return read_file(err_file_);
}

bool ChildProcess::wait_err(const std::string &text, std::chrono::milliseconds timeout) const
{
    return wait_until([&] { return err().find(text) != std::string::npos; }, timeout);
}

bool ChildProcess::wait_out(const std::string &text, std::chrono::milliseconds timeout) const
{
    return wait_until([&] { return out().find(text) != std::string::npos; }, timeout);
}

void ServerProcess::start(const std::string &root, int port, const std::vector<std::string> &extra_env,
                          const std::string &netns)
{
    port_ = port;
    std::vector<std::string> env = {"MIREL_ROOT=" + root, "MIREL_PORT=" + std::to_string(port)};
    // The DNS responder gets a free port of its own unless the caller chose one.
    bool dns_chosen = false;
    for (const std::string &e : extra_env)
        dns_chosen |= e.rfind("MIREL_DNS_PORT=", 0) == 0;
    if (!dns_chosen)
        env.push_back("MIREL_DNS_PORT=" + std::to_string(free_port()));
    env.insert(env.end(), extra_env.begin(), extra_env.end());
    // ip execs the server (or its emulator): same pid.
    std::vector<std::string> argv;
    if (!netns.empty())
        argv = {netns_ip_tool(), "netns", "exec", netns};
    for (const std::string &a : test_emulator())
        argv.push_back(a);
    argv.push_back(MIREL_SERVER_BIN);
    ChildProcess::start_argv(argv, env, root + "/tmp/server.out", root + "/tmp/server.err");
}

std::vector<std::string> test_emulator()
{
    // The emulator and its arguments, "|"-separated.
    std::vector<std::string> args;
    std::string list = MIREL_TEST_EMULATOR;
    for (size_t start = 0; !list.empty() && start <= list.size();) {
        size_t end = list.find('|', start);
        if (end == std::string::npos)
            end = list.size();
        args.push_back(list.substr(start, end - start));
        start = end + 1;
    }
    return args;
}

const char *death_test_style_threadsafe()
{
    return test_emulator().empty() ? "threadsafe" : "fast";
}

int free_port()
{
    // Ask the kernel for a free TCP port, and check UDP on the same number.
    for (int attempt = 0; attempt < 50; attempt++) {
        int s = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        a.sin_port = 0;
        socklen_t len = sizeof a;
        if (bind(s, (sockaddr *)&a, sizeof a) != 0 || getsockname(s, (sockaddr *)&a, &len) != 0) {
            close(s);
            continue;
        }
        int port = ntohs(a.sin_port);
        close(s);
        int u = socket(AF_INET, SOCK_DGRAM, 0);
        a.sin_addr.s_addr = htonl(INADDR_ANY);
        bool ok = bind(u, (sockaddr *)&a, sizeof a) == 0;
        close(u);
        if (ok)
            return port;
    }
    throw std::runtime_error("no free port");
}
