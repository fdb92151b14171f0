#include "server_start.h"

#include <pthread.h>

#include "command.h"
#include "command_info.h"
#include "dbase.h"
#include "dsp/dsp_lowlevel.h"
#include "dsp/rt_thread.h"
#include "log.h"
#include "netlink.h"
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

int server_start()
{
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
    return 0;
}
