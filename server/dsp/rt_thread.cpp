#include "dsp/rt_thread.h"

#include <bit>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <sched.h>
#include <sys/eventfd.h>
#include <time.h>
#include <unistd.h>

#include "dsp/curves.h"
#include "dsp/dsp_lowlevel.h"
#include "dsp/dsp_update.h"
#include "log.h"
#include "system.h"
#include "system_saver.h"

rt_info_t *rt_info = nullptr;
pthread_mutex_t command_lock;  // both set up before main (init_shared_locks)
pthread_mutex_t levels_lock;
pthread_cond_t levels_cond = PTHREAD_COND_INITIALIZER;
std::atomic<uint32_t> rt_cycle_counter{0};

namespace {

pthread_t rt_tid;

// The real-time thread runs before every ordinary thread. The two locks it
// shares with them inherit its priority: a holder that the scheduler had
// put aside runs at once until it lets go, so a cycle never waits behind
// the machine's other work.
constexpr int RT_PRIORITY = 10;

__attribute__((constructor)) void init_shared_locks()
{
    pthread_mutexattr_t a;
    pthread_mutexattr_init(&a);
    pthread_mutexattr_setprotocol(&a, PTHREAD_PRIO_INHERIT);
    pthread_mutex_init(&command_lock, &a);
    pthread_mutex_init(&levels_lock, &a);
    pthread_mutexattr_destroy(&a);
}
std::atomic<rt_cycle_observer> cycle_observer{nullptr};

void *rt_thread(void *)
{
    // Programs it starts (the firmware update's) run as ordinary ones.
    sched_param sp{};
    sp.sched_priority = RT_PRIORITY;
    if (sched_setscheduler(0, SCHED_FIFO | SCHED_RESET_ON_FORK, &sp) != 0)
        log_error("rt_thread: no real-time priority: %s\n", strerror(errno));
    rt_cycle_state st;
    rt_cycle_init(&st);
    int64_t deadline = rt_monotonic_ns();
    for (;;) {
        if (rt_cycle_observer observe = cycle_observer.load(std::memory_order_relaxed))
            observe(deadline, rt_monotonic_ns());
        rt_cycle(&st);
        deadline = rt_next_deadline(deadline, rt_monotonic_ns());
        timespec ts = {(time_t)(deadline / 1000000000), (long)(deadline % 1000000000)};
        while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &ts, nullptr) == EINTR) {
        }
    }
    return nullptr;
}

// Small integer formatter for the level lines (no printf on the hot path).
char *put_int(char *p, int v)
{
    char tmp[12];
    int n = 0;
    unsigned u = v < 0 ? 0u - (unsigned)v : (unsigned)v;
    do {
        tmp[n++] = (char)('0' + u % 10);
        u /= 10;
    } while (u);
    if (v < 0)
        *p++ = '-';
    while (n)
        *p++ = tmp[--n];
    return p;
}

char *put_text(char *p, const char *s)
{
    while (*s)
        *p++ = *s++;
    return p;
}

// One level line: id, index, two values.
char *put_level_line(char *p, int id, int index, float a, float b)
{
    p = put_int(p, id);
    *p++ = ',';
    p = put_int(p, index);
    *p++ = ',';
    p = rt_format_tenths(p, a);
    *p++ = ',';
    p = rt_format_tenths(p, b);
    *p++ = '\n';
    return p;
}

float window_word(uint32_t block, int word)
{
    return dsp_window_float(block + 4 * (uint32_t)word);
}

// A meter of a silent or steady signal reads the same word cycle after
// cycle. fast_log10 depends only on the exponent and the top 12 fraction
// bits, so the decibels are kept with those and the logarithm (six
// floating-point library calls on the device) is taken only when they change.
struct meter_db {
    uint32_t key = ~0u;  // no value yet
    float db = 0.0f;
};

float meter_to_db(meter_db &m, float scale, float x)
{
    uint32_t key = (std::bit_cast<uint32_t>(x) >> 11) & 0xFFFFF;
    if (key != m.key) {
        m.key = key;
        m.db = scale * fast_log10(x);
    }
    return m.db;
}

meter_db meter_memo[16][3];

}  // namespace

char *rt_format_int(char *p, int v)
{
    return put_int(p, v);
}

char *rt_format_tenths(char *p, float v)
{
    int t = round_nearest(v * 10.0f);
    if (t < 0) {
        *p++ = '-';
        t = -t;
    }
    p = put_int(p, t / 10);
    *p++ = '.';
    *p++ = (char)('0' + t % 10);
    return p;
}

int rt_status_input(uint32_t s)
{
    if (((s >> 4) & 3) == 0)
        return 0;
    int v = (s & (1u << 5)) ? 2 : 1;
    uint32_t t = s >> 24;
    if (t <= 0x44)
        v += 0x100;
    else if (t <= 0x59)
        v += 0x80;
    else if (t <= 0x84)
        v += 0x40;
    else if (t <= 0xA1)
        v += 0x20;
    else
        v += 0x10;
    if (s & (1u << 2))
        v += 4;
    if (s & (1u << 3))
        v += 8;
    return v;
}

void rt_cycle_init(rt_cycle_state *st)
{
    st->status_countdown = 10;
    st->autosave_countdown = 120;
    st->changed = 0;
    st->startup_countdown = 100;
    st->status = 0;
    st->enable_audio = 0;
}

void rt_read_meters()
{
    for (int i = 0; i < 16; i++) {
        uint32_t block = i < 8 ? FPGA_LEVEL_BUS + FPGA_LEVEL_STRIDE * (uint32_t)i
                               : FPGA_LEVEL_OUT + FPGA_LEVEL_STRIDE * (uint32_t)(i - 8);
        level_record &lr = rt_info->levels[i];
        meter_db *memo = meter_memo[i];
        lr.l0 = meter_to_db(memo[0], 10.0f, window_word(block, 5));
        dsp_window_set_float(block + 4 * 5, 0.0f);
        lr.l1 = meter_to_db(memo[1], 10.0f, window_word(block, 6));
        dsp_window_set_float(block + 4 * 6, 0.0f);
        lr.gr = meter_to_db(memo[2], 20.0f, window_word(block, 3) * window_word(block, 4));
    }
}

void rt_cycle(rt_cycle_state *st)
{
    rt_read_meters();

    if (pthread_mutex_trylock(&command_lock) == 0) {
        if (rt_info->command_stream_size == 0) {
            size_t len = 0;
            rt_info->command_stream[0] = 0;
            if (dsp_update_pending(rt_info->command_stream, COMMAND_STREAM_BUF_SIZE, &len))
                st->changed = 1;
            rt_info->command_stream_size = (uint32_t)len;
            if (len > COMMAND_STREAM_BUF_SIZE)
                log_error("rt_thread: rt_info->command_stream_size (%u) > COMMAND_STREAM_BUF_SIZE (%u)\n",
                          (unsigned)len, (unsigned)COMMAND_STREAM_BUF_SIZE);
            // The saver thread writes the copy; the cycle never waits for the
            // disk, nor for the saver (when it is busy, the next cycle offers).
            if (st->changed && --st->autosave_countdown < 0 && system_saver_offer() != 0) {
                st->changed = 0;
                st->autosave_countdown = 120;
            }
        }
        pthread_mutex_unlock(&command_lock);
    }
    pthread_mutex_lock(&levels_lock);
    char *p = rt_info->levels_stream;
    if (--st->status_countdown == 0) {
        uint32_t s;
        if (dsp_read_status(&s))
            st->status = s;
        p = put_text(p, "29,");
        p = put_int(p, (int)((st->status >> 6) & 3));
        *p++ = ',';
        p = put_int(p, rt_status_input(st->status));
        *p++ = '\n';
        st->status_countdown = 10;
    }
    for (int i = 0; i < 8; i++)
        p = put_level_line(p, 31, i, rt_info->levels[i].l0, rt_info->levels[i].gr);
    for (int i = 0; i < 8; i++)
        p = put_level_line(p, 30, i, rt_info->levels[8 + i].l1, rt_info->levels[8 + i].gr);
    *p = 0;
    rt_info->levels_stream_size = (uint32_t)(p - rt_info->levels_stream);
    if (rt_info->levels_stream_size > LEVELS_STREAM_BUF_SIZE)
        log_error("rt_thread: rt_info->levels_stream_size > LEVELS_STREAM_BUF_SIZE\n");
    rt_signal_cycle_end();
    pthread_mutex_unlock(&levels_lock);

    if (st->startup_countdown > 0 && --st->startup_countdown == 0)
        st->enable_audio = 1;
    // The control word's mirrors belong to the lock holder; never wait for it.
    if (st->enable_audio && pthread_mutex_trylock(&command_lock) == 0) {
        my_device->audio_enabled = 1;
        dsp_write_control();
        st->enable_audio = 0;
        pthread_mutex_unlock(&command_lock);
    }
    rt_cycle_counter.fetch_add(1, std::memory_order_relaxed);
}

int64_t rt_monotonic_ns()
{
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return (int64_t)ts.tv_sec * 1000000000 + ts.tv_nsec;
}

int64_t rt_next_deadline(int64_t deadline_ns, int64_t now_ns)
{
    int64_t next = deadline_ns + RT_CYCLE_NS;
    if (now_ns - next >= RT_CYCLE_NS)
        next += (now_ns - next) / RT_CYCLE_NS * RT_CYCLE_NS;
    return next;
}

void rt_set_cycle_observer(rt_cycle_observer observer)
{
    cycle_observer.store(observer);
}

int rt_cycle_fd()
{
    static std::once_flag once;
    static int fd = -1;
    std::call_once(once, [] { fd = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC); });
    return fd;
}

void rt_signal_cycle_end()
{
    pthread_cond_broadcast(&levels_cond);
    uint64_t one = 1;
    if (rt_cycle_fd() >= 0 && write(rt_cycle_fd(), &one, sizeof one) < 0) {
        // The counter is full only if nobody reads it: nothing to wake.
    }
}

void start_rt_thread()
{
    if (pthread_create(&rt_tid, nullptr, rt_thread, nullptr) != 0) {
        log_error("start_rt_thread: pthread_create result != 0\n");
        exit(1);
    }
    pthread_setname_np(rt_tid, "rt_thread");
}

pthread_t rt_thread_id()
{
    return rt_tid;
}
