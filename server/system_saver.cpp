#include "system_saver.h"

#include <cerrno>
#include <cstdlib>
#include <mutex>
#include <pthread.h>
#include <time.h>

#include "log.h"
#include "system.h"

namespace {

// Two images: the one being filled by requests, the one being written.
// The lock is held only to copy the record or to swap the two, never
// during a save.
uint8_t image_a[SYS_FILE_BYTES], image_b[SYS_FILE_BYTES];
uint8_t *next_image = image_a, *writing_image = image_b;
pthread_mutex_t saver_lock = PTHREAD_MUTEX_INITIALIZER;
pthread_cond_t saver_wake, saver_done;  // on the monotonic clock
uint64_t requested, taken, finished;

void *saver_thread(void *)
{
    pthread_mutex_lock(&saver_lock);
    for (;;) {
        while (taken == requested)
            pthread_cond_wait(&saver_wake, &saver_lock);
        uint8_t *image = next_image;
        next_image = writing_image;
        writing_image = image;
        uint64_t gen = taken = requested;
        pthread_mutex_unlock(&saver_lock);

        system_state_seal(image);
        system_save_file(image, SYS_FILE_BYTES);

        pthread_mutex_lock(&saver_lock);
        finished = gen;
        pthread_cond_broadcast(&saver_done);
    }
    return nullptr;
}

void start_once()
{
    pthread_condattr_t attr;
    pthread_condattr_init(&attr);
    pthread_condattr_setclock(&attr, CLOCK_MONOTONIC);
    pthread_cond_init(&saver_wake, &attr);
    pthread_cond_init(&saver_done, &attr);
    pthread_condattr_destroy(&attr);
    // An ordinary thread, whoever starts it (the real-time thread's priority
    // is not for disk work).
    pthread_attr_t ta;
    pthread_attr_init(&ta);
    pthread_attr_setinheritsched(&ta, PTHREAD_EXPLICIT_SCHED);
    pthread_attr_setschedpolicy(&ta, SCHED_OTHER);
    sched_param sp{};
    pthread_attr_setschedparam(&ta, &sp);
    pthread_t tid;
    int r = pthread_create(&tid, &ta, saver_thread, nullptr);
    pthread_attr_destroy(&ta);
    if (r != 0) {
        log_error("system_saver_start: pthread_create result != 0\n");
        exit(1);
    }
    pthread_setname_np(tid, "saver");
    pthread_detach(tid);
}

}  // namespace

void system_saver_start()
{
    static std::once_flag once;
    std::call_once(once, start_once);
}

namespace {

uint64_t hand_over()
{
    system_state_snapshot(next_image);
    uint64_t gen = ++requested;
    pthread_cond_signal(&saver_wake);
    pthread_mutex_unlock(&saver_lock);
    return gen;
}

}  // namespace

uint64_t system_saver_offer()
{
    system_saver_start();
    // The saver thread holds the lock for a few instructions, but it may be
    // preempted there: a real-time cycle never waits for it.
    if (pthread_mutex_trylock(&saver_lock) != 0)
        return 0;
    return hand_over();
}

uint64_t system_saver_request()
{
    system_saver_start();
    pthread_mutex_lock(&saver_lock);
    return hand_over();
}

bool system_saver_wait(uint64_t gen, int timeout_ms)
{
    timespec until;
    clock_gettime(CLOCK_MONOTONIC, &until);
    if (timeout_ms >= 0) {
        until.tv_sec += timeout_ms / 1000;
        until.tv_nsec += (long)(timeout_ms % 1000) * 1000000;
        if (until.tv_nsec >= 1000000000) {
            until.tv_sec++;
            until.tv_nsec -= 1000000000;
        }
    }
    pthread_mutex_lock(&saver_lock);
    while (finished < gen) {
        int r = timeout_ms < 0 ? pthread_cond_wait(&saver_done, &saver_lock)
                               : pthread_cond_timedwait(&saver_done, &saver_lock, &until);
        if (r == ETIMEDOUT)
            break;
    }
    bool done = finished >= gen;
    pthread_mutex_unlock(&saver_lock);
    return done;
}

uint64_t system_saver_requested()
{
    pthread_mutex_lock(&saver_lock);
    uint64_t r = requested;
    pthread_mutex_unlock(&saver_lock);
    return r;
}

uint64_t system_saver_finished()
{
    pthread_mutex_lock(&saver_lock);
    uint64_t f = finished;
    pthread_mutex_unlock(&saver_lock);
    return f;
}
