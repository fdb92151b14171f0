// The daemons the network manager runs (DHCP server, DHCP client, access
// point): started by fork and exec with the tool folder first in the path,
// stopped with SIGTERM, and always waited for, so none is left a zombie and
// no signal ever goes to a process id that is no longer ours.
//
// A daemon that ends by itself is logged and may be started again, but only
// after a pause that doubles with each quick end (2 s up to 64 s): a daemon
// that cannot run (no adapter driver, a port taken) is not restarted every
// round for the life of the device.
#pragma once
#include <cstdint>
#include <sys/types.h>

struct netconf_daemon {
    const char *tool;      // "udhcpd", "udhcpc", "hostapd"
    const char *fork_tag;  // as in "failed to fork for dhcpd"
    pid_t pid;             // 0 when not running
    int64_t started_ns;    // monotonic time of the last start
    int64_t retry_ns;      // not started again before this
    int64_t pause_ns;      // the pause after the next quick end
};

constexpr int64_t NETCONF_RESTART_PAUSE_MIN_NS = 2000000000;
constexpr int64_t NETCONF_RESTART_PAUSE_MAX_NS = 64000000000;
// A daemon that ran this long before it ended gets the shortest pause again.
constexpr int64_t NETCONF_RUN_STABLE_NS = 60000000000;
// How long a daemon may take to end on SIGTERM before it is killed.
constexpr int64_t NETCONF_STOP_WAIT_NS = 2000000000;

constexpr netconf_daemon netconf_daemon_make(const char *tool, const char *fork_tag)
{
    return netconf_daemon{tool, fork_tag, 0, 0, 0, NETCONF_RESTART_PAUSE_MIN_NS};
}

// Whether it may be started now: not running and no pause pending.
bool netconf_daemon_due(const netconf_daemon *d, int64_t now);

// Starts the tool with its arguments (argv[0] is the tool's name, the list
// ends with nullptr). Returns true when it runs; a failed fork logs
// "failed to fork for <tag>" and leaves the pid 0, so the next round tries
// again. A tool that cannot be executed ends at once with status 127 and is
// found by netconf_daemon_reap.
bool netconf_daemon_start(netconf_daemon *d, const char *const argv[], int64_t now);

// SIGTERM, then waits for the end (SIGKILL after NETCONF_STOP_WAIT_NS);
// the pid becomes 0 and a later start is not delayed. Nothing happens
// when it does not run.
void netconf_daemon_stop(netconf_daemon *d);

// Collects a daemon that has ended by itself: logs its status, sets the pid
// to 0 and the pause before its next start. Returns true when it had ended.
bool netconf_daemon_reap(netconf_daemon *d, int64_t now);

// Monotonic clock in nanoseconds.
int64_t netconf_now_ns();
