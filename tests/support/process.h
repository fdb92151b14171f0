// Child processes for integration tests: the real mirelserver and mirelapp
// started with their own environment, output captured to files.
#pragma once
#include <chrono>
#include <functional>
#include <string>
#include <sys/types.h>
#include <vector>

using namespace std::chrono_literals;

// Polls pred until it holds or the timeout passes.
bool wait_until(const std::function<bool()> &pred, std::chrono::milliseconds timeout = 5s);

class ChildProcess {
public:
    ChildProcess() = default;
    ~ChildProcess();
    ChildProcess(const ChildProcess &) = delete;
    ChildProcess &operator=(const ChildProcess &) = delete;

    // Starts program with the extra environment ("NAME=value"); standard
    // output and error go to out_file and err_file.
    void start(const std::string &program, const std::vector<std::string> &env, const std::string &out_file,
               const std::string &err_file);
    // The same with a whole argument vector (argv[0] is the program's path).
    void start_argv(const std::vector<std::string> &argv, const std::vector<std::string> &env,
                    const std::string &out_file, const std::string &err_file);
    bool running();
    // Sends sig and waits for the end (SIGKILL after the timeout). Returns the wait status.
    int stop(int sig = 15, std::chrono::milliseconds timeout = 3s);
    void signal(int sig);
    pid_t pid() const { return pid_; }

    std::string out() const;
    std::string err() const;
    // Waits until the captured standard error (or output) contains text.
    bool wait_err(const std::string &text, std::chrono::milliseconds timeout = 5s) const;
    bool wait_out(const std::string &text, std::chrono::milliseconds timeout = 5s) const;

private:
    pid_t pid_ = -1;
    int status_ = 0;
    std::string out_file_, err_file_;
};

// The real mirelserver in a simulation root on a port of its own.
class ServerProcess : public ChildProcess {
public:
    // Starts the server; extra_env is added to MIREL_ROOT and MIREL_PORT (and
    // a free MIREL_DNS_PORT unless extra_env names one). With netns given it
    // runs inside that network namespace (ip netns exec).
    void start(const std::string &root, int port, const std::vector<std::string> &extra_env = {},
               const std::string &netns = "");
    int port() const { return port_; }

private:
    int port_ = 0;
};

// The command that runs a program of this build: empty natively, qemu-arm
// with its library prefix in the cross build (the kernel cannot execute an
// ARM binary by itself there).
std::vector<std::string> test_emulator();

// Death tests that must not fork a threaded process re-execute the test
// binary ("threadsafe"); under the emulator that cannot work, so they fork.
const char *death_test_style_threadsafe();

// A TCP and UDP port that nothing listens on right now.
int free_port();
