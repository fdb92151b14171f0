// Shared by the fuzz targets: a simulation root of their own, so that no
// path or tool of the server ever reaches the host, and small input helpers.
#pragma once
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

// A broken contract is a finding: libFuzzer saves the input that did it.
#define FUZZ_CHECK(cond)                                                                  \
    do {                                                                                 \
        if (!(cond)) {                                                                   \
            fprintf(stderr, "fuzz: %s:%d: check failed: %s\n", __FILE__, __LINE__, #cond); \
            abort();                                                                     \
        }                                                                                \
    } while (0)

// Makes a fresh simulation root in memory when it can (tools/sim-root, with a USB stick inserted
// so that nothing waits for one), points MIREL_ROOT at it and reads the
// environment. The root is removed when the process exits. Returns its path.
const std::string &fuzz_root_init();

// Splits input into lines at "\n", each at most max_len bytes (longer ones
// are cut), NUL bytes kept; the way the links hand lines over.
std::vector<std::string> fuzz_lines(std::string_view input, size_t max_len);

// Cuts input into the pieces in which reads might bring it: the first byte
// seeds the piece lengths (1 to max_piece bytes), the rest is the data.
std::vector<std::string_view> fuzz_pieces(std::string_view input, size_t max_piece);
