#include "netconf_daemon.h"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <ctime>
#include <sys/wait.h>

#include "log.h"
#include "platform.h"

namespace {

constexpr int64_t POLL_NS = 5000000;  // between looks at a stopping daemon

void sleep_ns(int64_t ns)
{
    timespec t = {(time_t)(ns / 1000000000), (long)(ns % 1000000000)};
    while (nanosleep(&t, &t) != 0 && errno == EINTR) {
    }
}

// waitpid without blocking: the pid when it has ended (status filled in),
// 0 while it runs. A pid that is not our child any more counts as ended.
pid_t collect(pid_t pid, int *status)
{
    for (;;) {
        pid_t r = waitpid(pid, status, WNOHANG);
        if (r >= 0)
            return r;
        if (errno == EINTR)
            continue;
        *status = 0;
        return pid;
    }
}

void describe(int status, char *out, size_t size)
{
    if (WIFSIGNALED(status))
        snprintf(out, size, "signal %d", WTERMSIG(status));
    else
        snprintf(out, size, "status %d", WIFEXITED(status) ? WEXITSTATUS(status) : -1);
}

}  // namespace

int64_t netconf_now_ns()
{
    timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return (int64_t)t.tv_sec * 1000000000 + t.tv_nsec;
}

bool netconf_daemon_due(const netconf_daemon *d, int64_t now)
{
    return d->pid == 0 && now >= d->retry_ns;
}

bool netconf_daemon_start(netconf_daemon *d, const char *const argv[], int64_t now)
{
    pid_t pid = platform_spawn(argv);
    if (pid < 0) {
        log_error("failed to fork for %s\n", d->fork_tag);
        d->pid = 0;
        return false;
    }
    d->pid = pid;
    d->started_ns = now;
    return true;
}

void netconf_daemon_stop(netconf_daemon *d)
{
    if (d->pid != 0) {
        pid_t pid = d->pid;
        kill(pid, SIGTERM);
        int status;
        int64_t deadline = netconf_now_ns() + NETCONF_STOP_WAIT_NS;
        while (collect(pid, &status) == 0) {
            if (netconf_now_ns() >= deadline) {
                log_error("netconf_daemon_stop: %s did not end on SIGTERM, killed\n", d->tool);
                kill(pid, SIGKILL);
                while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
                }
                break;
            }
            sleep_ns(POLL_NS);
        }
    }
    d->pid = 0;
    d->retry_ns = 0;
    d->pause_ns = NETCONF_RESTART_PAUSE_MIN_NS;
}

bool netconf_daemon_reap(netconf_daemon *d, int64_t now)
{
    if (d->pid == 0)
        return false;
    int status;
    if (collect(d->pid, &status) == 0)
        return false;
    if (now - d->started_ns >= NETCONF_RUN_STABLE_NS)
        d->pause_ns = NETCONF_RESTART_PAUSE_MIN_NS;
    char how[32];
    describe(status, how, sizeof how);
    log_error("netconf_daemon_reap: %s ended (%s), started again in %lld s at the earliest\n", d->tool, how,
              (long long)(d->pause_ns / 1000000000));
    d->pid = 0;
    d->retry_ns = now + d->pause_ns;
    d->pause_ns = d->pause_ns * 2 > NETCONF_RESTART_PAUSE_MAX_NS ? NETCONF_RESTART_PAUSE_MAX_NS : d->pause_ns * 2;
    return true;
}
