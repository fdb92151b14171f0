// One client of the stream server fed a byte stream, in pieces as reads
// would bring it: mode headers, the policy request, the HTTP upgrade,
// WebSocket frames and raw lines; with broadcasts queued and the send queue
// drained in between. The queues never pass their limits.
#include <algorithm>
#include <cstring>
#include <string>
#include <string_view>

#include "stream.h"
#include "support/fuzz_root.h"

namespace {

int lines_run;

void on_command(const char *, int)
{
    lines_run++;
}

size_t copy_out(std::string_view text, char *out, size_t size)
{
    size_t n = std::min(text.size(), size);
    memcpy(out, text.data(), n);
    return n;
}

size_t on_info(const char *line, char *reply, size_t size)
{
    return copy_out("R:" + std::string(line) + "\n", reply, size);
}

size_t on_full_dump(char *out, size_t size)
{
    static const std::string dump = [] {
        std::string d;
        for (int i = 0; i < 100; i++)
            d += "9,0," + std::to_string(i) + ",Bus%20label\n";
        return d;
    }();
    return copy_out(dump, out, size);
}

// Every third line leaves a user message behind.
size_t on_take_message(int conn_id, char *line, size_t size)
{
    if (lines_run % 3 != 0)
        return 0;
    return copy_out("25," + std::to_string(conn_id) + ",0,Project%20saved.\n", line, size);
}

void on_drop(int) {}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    static const stream_handlers h{on_command, on_info, on_full_dump, on_take_message, on_drop};
    stream_set_handlers(&h);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static const char levels[] = "31,0,-382.3,0.0\n30,0,-382.3,0.0\n";
    stream_client c;
    stream_client_init(&c, -1, 3);
    lines_run = 0;
    for (std::string_view piece : fuzz_pieces(std::string_view((const char *)data, size), 5000)) {
        stream_client_feed(&c, piece.data(), piece.size());
        if (c.state == STREAM_STATE_DEAD)
            break;
        // A cycle's broadcast, and the socket taking part of the queue.
        stream_send(&c, 0, levels, sizeof levels - 1);
        stream_send(&c, 1, "", 0);
        buffer_skip(&c.send_queue, c.send_queue.size / 2);
        FUZZ_CHECK(c.send_queue.size <= STREAM_QUEUE_MAX && c.recv_queue.size <= STREAM_QUEUE_MAX);
    }
    FUZZ_CHECK(c.send_queue.size <= STREAM_QUEUE_MAX && c.recv_queue.size <= STREAM_QUEUE_MAX);
    buffer_free(&c.send_queue);
    buffer_free(&c.recv_queue);
    return 0;
}
