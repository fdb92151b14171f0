// Information requests (1024 to 1038) through command_info_work into a
// reply buffer of the stream server's size: the reply stays inside it.
#include <string_view>

#include "command_info.h"
#include "stream.h"
#include "support/fuzz_server.h"

namespace {
const fuzz_server_state *start;
}

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    start = fuzz_server_init();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static char reply[STREAM_REPLY_SIZE];
    fuzz_server_restore(start);
    for (const std::string &line : fuzz_lines(std::string_view((const char *)data, size), STREAM_LINE_MAX)) {
        report_writer w;
        report_writer_init(&w, reply, sizeof reply);
        command_info_work(line.c_str(), &w);
        FUZZ_CHECK(w.len < sizeof reply);
        FUZZ_CHECK(strlen(reply) == w.len);
    }
    return 0;
}
