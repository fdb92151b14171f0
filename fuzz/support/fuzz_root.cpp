#include "fuzz_root.h"

#include <cstdio>
#include <cstdlib>
#include <sys/stat.h>

// platform_init() is the server's or the panel's: both read the same variables.
void platform_init();

namespace {

std::string root;

void remove_root()
{
    std::string cmd = "rm -rf '" + root + "'";
    if (system(cmd.c_str()) != 0)
        fprintf(stderr, "fuzz: could not remove %s\n", root.c_str());
}

}  // namespace

const std::string &fuzz_root_init()
{
    if (!root.empty())
        return root;
    // In memory where there is such a file system: commands that sync files
    // (the WLAN passphrase, the state file) then cost microseconds, not the
    // disk's milliseconds.
    char shm[] = "/dev/shm/mirel-fuzz-XXXXXX";
    char tmp[] = "/tmp/mirel-fuzz-XXXXXX";
    const char *made = mkdtemp(shm);
    if (made == nullptr)
        made = mkdtemp(tmp);
    if (made == nullptr) {
        perror("fuzz: mkdtemp");
        abort();
    }
    root = made;
    std::string cmd = std::string(MIREL_SOURCE_DIR) + "/tools/sim-root '" + root + "' >/dev/null";
    if (system(cmd.c_str()) != 0) {
        fprintf(stderr, "fuzz: tools/sim-root failed\n");
        abort();
    }
    mkdir((root + "/dev/sda1").c_str(), 0755);
    atexit(remove_root);
    setenv("MIREL_ROOT", root.c_str(), 1);
    platform_init();
    return root;
}

std::vector<std::string> fuzz_lines(std::string_view input, size_t max_len)
{
    std::vector<std::string> lines;
    while (!input.empty()) {
        size_t end = input.find('\n');
        std::string_view line = input.substr(0, end);
        lines.emplace_back(line.substr(0, max_len));
        if (end == std::string_view::npos)
            break;
        input.remove_prefix(end + 1);
    }
    return lines;
}

std::vector<std::string_view> fuzz_pieces(std::string_view input, size_t max_piece)
{
    std::vector<std::string_view> pieces;
    if (input.empty())
        return pieces;
    uint32_t seed = (unsigned char)input[0] * 2654435761u + 1;
    input.remove_prefix(1);
    while (!input.empty()) {
        seed = seed * 1103515245u + 12345u;
        size_t n = 1 + (seed >> 8) % max_piece;
        pieces.push_back(input.substr(0, n));
        input.remove_prefix(std::min(n, input.size()));
    }
    return pieces;
}
