// The real-time thread: every 25 ms it reads the meters, applies pending
// changes (when the command lock is free) and publishes two text buffers,
// the levels stream and the command stream, to the client-link threads.
#pragma once
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <pthread.h>

constexpr size_t COMMAND_STREAM_BUF_SIZE = 65536;
constexpr size_t LEVELS_STREAM_BUF_SIZE = 1024;
constexpr int RT_CYCLE_US = 25000;
constexpr int64_t RT_CYCLE_NS = RT_CYCLE_US * 1000LL;

struct level_record {
    float l0;  // input level, dB
    float l1;  // output level, dB
    float gr;  // gain reduction, dB
};

struct rt_info_t {
    level_record levels[16];  // 0-7 buses, 8-15 outputs
    char *command_stream;     // report lines, terminated text
    uint32_t command_stream_size;  // 0 = the clients have taken it
    char *levels_stream;
    uint32_t levels_stream_size;
};

extern rt_info_t *rt_info;

// Held around every command execution, by consumers while they send and
// empty the command stream, and by rt_thread while it applies changes.
extern pthread_mutex_t command_lock;
// The end-of-cycle signal. Consumers lock levels_lock, wait on levels_cond,
// and then (holding it) may take command_lock. Order: levels, then command.
extern pthread_mutex_t levels_lock;
extern pthread_cond_t levels_cond;

// Ends a cycle for its consumers: wakes the waiters of levels_cond and makes
// rt_cycle_fd readable (the network thread polls it beside its sockets, so it
// serves client lines at once and still broadcasts after every cycle).
// Called with levels_lock held.
void rt_signal_cycle_end();
// An eventfd that counts cycle ends; consumers read it to clear it.
int rt_cycle_fd();

// Process-wide cycle counter: the time base of the output alarm. Written by
// rt_thread only, read by command handlers on other threads.
extern std::atomic<uint32_t> rt_cycle_counter;

// Starts rt_thread; a failure ends the process with status 1.
void start_rt_thread();
pthread_t rt_thread_id();

// Cycles start on a fixed grid of the monotonic clock, one every 25 ms
// whatever the work took. Given the deadline of the cycle that just ran and
// the time now, returns the next cycle's deadline: the next grid point; when
// that has passed already the cycle starts at once, and when whole cycles
// were missed they are dropped, so a late cycle never makes the next ones
// early (a burst) or late (a shifted grid).
int64_t rt_next_deadline(int64_t deadline_ns, int64_t now_ns);
int64_t rt_monotonic_ns();

// Called by rt_thread at the start of every cycle with its deadline and the
// time it actually started (benchmarks measure the jitter with it).
using rt_cycle_observer = void (*)(int64_t deadline_ns, int64_t start_ns);
void rt_set_cycle_observer(rt_cycle_observer observer);

// One cycle's state, kept by the thread (tests drive cycles directly).
struct rt_cycle_state {
    int status_countdown;    // status line every 10th cycle
    int autosave_countdown;  // save 121 cycles after the first change
    int changed;
    int startup_countdown;   // audio enabled on the 100th cycle
    uint32_t status;         // last status word read
    int enable_audio;        // set at the end of the start-up countdown
};
void rt_cycle_init(rt_cycle_state *st);
// Meters, pending work (when the command lock is free), the autosave (the
// record copied under the command lock and handed to the saver thread),
// level lines, start-up countdown, cycle counter. Waiting for the next
// deadline is the caller's.
void rt_cycle(rt_cycle_state *st);
void rt_read_meters();

// Integer and one-decimal (value x 10 rounded, ties to even) formatters of
// the level lines; return the end of what they wrote.
char *rt_format_int(char *p, int v);
char *rt_format_tenths(char *p, float v);
// The input field of the status line.
int rt_status_input(uint32_t status);
