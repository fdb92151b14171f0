// The serial message reader fed in pieces as reads would bring them: a read
// that ends in a line end completes a message, whose checksum is checked
// and whose lines are handed over one by one.
#include <algorithm>
#include <cstring>
#include <string_view>

#include "serial.h"
#include "support/fuzz_root.h"

namespace {

char buf[SERIAL_BUF_SIZE];
const char *payload_start;
const char *payload_end;

// A line lies inside its payload, without a line end.
void check_line(const char *line)
{
    size_t n = strlen(line);
    FUZZ_CHECK(line >= payload_start && line + n <= payload_end);
    FUZZ_CHECK(memchr(line, '\n', n) == nullptr);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    serial_reader r{buf, 0};
    for (std::string_view piece : fuzz_pieces(std::string_view((const char *)data, size), 300)) {
        size_t n = std::min(piece.size(), SERIAL_DATA_MAX - r.length);
        memcpy(r.buf + r.length, piece.data(), n);
        size_t length = serial_collected(&r, n);
        FUZZ_CHECK(r.length < SERIAL_DATA_MAX);
        if (length == 0)
            continue;
        FUZZ_CHECK(length <= SERIAL_DATA_MAX && buf[length] == '\0' && buf[length - 1] == '\n');
        size_t payload_length;
        char *payload = serial_check(buf, length, &payload_length);
        if (payload == nullptr)
            continue;
        payload_start = payload;
        payload_end = payload + payload_length;
        serial_each_line(payload, payload_length, check_line);
    }
    return 0;
}
