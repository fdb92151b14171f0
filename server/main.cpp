// mirelserver: brings the subsystems up in a fixed order, then waits for the
// real-time thread for ever. Reads no command-line arguments.
#include <fcntl.h>
#include <pthread.h>
#include <unistd.h>

#include "dsp/rt_thread.h"
#include "log.h"
#include "platform.h"
#include "server_start.h"

int main()
{
    platform_init();

    // Touch the serial port before the serial thread opens it for real.
    int fd = open(platform_path("/dev/ttyS1").c_str(), O_WRONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd >= 0)
        close(fd);

    log_error("%d bit target.\n", (int)(sizeof(long) * 8));
    log_error("%d-bit ptr\n", (int)(sizeof(void *) * 8));

    if (server_start() != 0)
        return -1;

    // The main thread's work is done; it lives as long as the real-time thread.
    pthread_join(rt_thread_id(), nullptr);
    return 0;
}
