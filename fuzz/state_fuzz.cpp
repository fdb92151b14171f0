// The state-file loader: raw bytes, and well-formed headers (version 220 or
// 102) whose CRC is made to match a fuzzed body, so that the body reaches
// the converter and the live record. What a file can hold then goes through
// the update passes and the full dump: no stored value may crash the server
// at start-up. The first input byte chooses the kind of file.
#include <cstddef>
#include <fcntl.h>
#include <string>
#include <string_view>
#include <unistd.h>

#include "crc.h"
#include "platform.h"
#include "report_format.h"
#include "stream.h"
#include "support/fuzz_server.h"
#include "system_converter.h"

namespace {

const fuzz_server_state *start;
std::string current_path, backup_path;

void put_u32(std::string &f, size_t at, uint32_t v)
{
    memcpy(f.data() + at, &v, 4);
}

// A file of size bytes: magic and version, the body, a matching CRC at crc_at.
std::string well_formed(uint32_t version, size_t size, size_t crc_at, std::string_view body)
{
    std::string f(size, '\0');
    put_u32(f, 0, SYS_FILE_MAGIC);
    put_u32(f, 4, version);
    memcpy(f.data() + 8, body.data(), std::min(body.size(), crc_at - 8));
    put_u32(f, crc_at, crc32(f.data(), crc_at));
    return f;
}

void write_current(const std::string &file)
{
    int fd = open(current_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    FUZZ_CHECK(fd >= 0);
    FUZZ_CHECK(platform_write_fd(fd, file.data(), file.size()) == file.size());
    close(fd);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    start = fuzz_server_init();
    current_path = platform_path(SYS_FILE_CURRENT);
    backup_path = platform_path(SYS_FILE_BACKUP);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size == 0)
        return 0;
    std::string_view body((const char *)data + 1, size - 1);
    int kind = data[0] % 3;
    std::string file;
    size_t amp_at = 0, amp_stride = 0;  // where the amplifier settings lie in a well-formed file
    if (kind == 0) {
        file = body.substr(0, 2 * SYS_FILE_BYTES);
    } else if (kind == 1) {
        file = well_formed(SYS_FILE_VERSION, SYS_FILE_BYTES, SYS_FILE_CRC_OFFSET, body);
        amp_at = SYS_FILE_RECORD_OFFSET + offsetof(sys_file, amp);
        amp_stride = sizeof(sys_amp);
    } else {
        file = well_formed(102, SYS_FILE_102_BYTES, SYS_FILE_102_BYTES - 4, body);
        amp_at = 19060;  // pairs of gain and peak voltage
        amp_stride = 8;
    }
    write_current(file);
    unlink(backup_path.c_str());

    fuzz_server_restore(start);
    system_load_state();
    FUZZ_CHECK(my_sys->service_mode == 0);
    // A well-formed file is loaded (converted if old), never left for the defaults.
    for (int o = 0; amp_at != 0 && o < SYS_OUTPUTS; o++)
        FUZZ_CHECK(memcmp(&my_sys->amp[o], file.data() + amp_at + amp_stride * o, 8) == 0);

    // Start-up as the server does it: every report, then the full dump.
    report_mark_all();
    for (int i = 0; i < 20 && fuzz_update_pass() > 0; i++) {
    }
    static char dump[STREAM_REPLY_SIZE];
    report_writer w;
    report_writer_init(&w, dump, sizeof dump);
    report_format_full_dump(&w);
    FUZZ_CHECK(w.len < sizeof dump && strlen(dump) == w.len);
    return 0;
}
