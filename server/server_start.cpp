#include "server_start.h"

#include "command.h"
#include "command_info.h"
#include "dsp/dsp_lowlevel.h"
#include "log.h"
#include "report.h"
#include "report_format.h"
#include "stream.h"
#include "system.h"

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

constexpr stream_handlers protocol = {command_work, info_reply, full_dump, take_message, report_message_free_conn};

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

    // User messages are kept only for connection ids that a client holds.
    report_set_conn_held(stream_conn_id_held);
    stream_set_handlers(&protocol);
    if (stream_rt_init() != 0) {
        log_error("stream_rt_init()\n");
        return -1;
    }
    return 0;
}
