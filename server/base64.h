// Base64 (RFC 4648, standard alphabet, "=" padding). Used only for the
// WebSocket handshake.
#pragma once
#include <cstddef>

// Length of the encoding of n bytes, without the terminating NUL.
constexpr size_t base64_encoded_length(size_t n)
{
    return (n + 2) / 3 * 4;
}

// Encodes length bytes into out (out_size bytes, NUL-terminated). Returns
// the length of the text, or 0 with out empty when out is too small.
size_t base64_encode(const void *data, size_t length, char *out, size_t out_size);
