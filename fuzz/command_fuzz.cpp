// Command lines through command_work, then one update pass over what they
// changed: parsing, range checks, the change marks and the passes that
// design, upload and report. One line per input line; a line that starts
// with "~" runs as an internal one (as from a linked device). The firmware
// update (26) is left out: it runs the system's update script and waits for
// a stick, seconds per input (its own tests cover it).
#include <cstdlib>
#include <string_view>

#include "command.h"
#include "stream.h"
#include "support/fuzz_server.h"

namespace {
constexpr long COMMAND_FIRMWARE_UPDATE = 26;
const fuzz_server_state *start;
}

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    start = fuzz_server_init();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    fuzz_server_restore(start);
    for (const std::string &line : fuzz_lines(std::string_view((const char *)data, size), STREAM_LINE_MAX)) {
        bool internal = !line.empty() && line[0] == '~';
        const char *text = line.c_str() + internal;
        if (strtol(text, nullptr, 10) != COMMAND_FIRMWARE_UPDATE)
            command_work(text, internal);
    }
    fuzz_update_pass();
    return 0;
}
