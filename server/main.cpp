// mirelserver: brings the subsystems up in a fixed order, then waits for the
// real-time thread for ever. Reads no command-line arguments.
#include <fcntl.h>
#include <pthread.h>
#include <unistd.h>

#include "command.h"
#include "command_info.h"
#include "dbase.h"
#include "dsp/dsp_lowlevel.h"
#include "dsp/rt_thread.h"
#include "log.h"
#include "netlink.h"
#include "platform.h"
#include "report.h"
#include "report_format.h"
#include "stream.h"
#include "system.h"
#include "system_prj.h"

namespace {

// The command protocol as the client links reach it.
size_t info_reply(const char *line, char *reply, size_t size)
{
    report_writer w;
    report_writer_init(&w, reply, size);
    command_info_work(line, &w);
    return w.len;
}

size_t full_dump(char *out, size_t size)
{
    report_writer w;
    report_writer_init(&w, out, size);
    report_format_full_dump(&w);
    return w.len;
}

size_t take_message(int conn, char *line, size_t size)
{
    report_writer w;
    report_writer_init(&w, line, size);
    return report_message_take(conn, &w) ? w.len : 0;
}

// A client left: its messages go, and a delete lock it held is released.
void client_gone(int conn)
{
    report_message_free_conn(conn);
    system_prj_client_gone(conn);
}

constexpr stream_handlers protocol = {command_work, info_reply, full_dump, take_message, client_gone};

}  // namespace

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

    if (dsp_lowlevel_init(0) != 0) {
        log_error("dsp_lowlevel_init()\n");
        return -1;
    }

    // The real-time thread runs already and reads the project fields that
    // making project 1 sets.
    pthread_mutex_lock(&command_lock);
    dbase_init();
    pthread_mutex_unlock(&command_lock);

    // User messages are kept only for connection ids that a client holds.
    report_set_conn_held(stream_conn_id_held);
    stream_set_handlers(&protocol);
    if (stream_rt_init() != 0) {
        log_error("stream_rt_init()\n");
        return -1;
    }

    // Device linking, the network manager and the DNS responder; failures end the process.
    netlink_init();

    // The main thread's work is done; it lives as long as the real-time thread.
    pthread_join(rt_thread_id(), nullptr);
    return 0;
}
