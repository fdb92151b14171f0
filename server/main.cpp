// mirelserver: brings the subsystems up in a fixed order, then waits for the
// real-time thread for ever. Reads no command-line arguments.
#include <fcntl.h>
#include <unistd.h>

#include "log.h"
#include "platform.h"
#include "stream.h"
#include "system.h"

int main()
{
    platform_init();

    // Touch the serial port before the serial thread opens it for real.
    int fd = open(platform_path("/dev/ttyS1").c_str(), O_WRONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd >= 0)
        close(fd);

    log_error("%d bit target.\n", (int)(sizeof(long) * 8));
    log_error("%d-bit ptr\n", (int)(sizeof(void *) * 8));

    if (system_init() != 0) {
        log_error("system_init()\n");
        return -1;
    }

    if (stream_rt_init() != 0) {
        log_error("stream_rt_init()\n");
        return -1;
    }

    // The daemon has nothing else to do on this thread.
    for (;;)
        pause();
}
