#include "base64.h"

#include <cstdint>

size_t base64_encode(const void *data, size_t length, char *out, size_t out_size)
{
    static const char alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    size_t n = base64_encoded_length(length);
    if (out_size == 0)
        return 0;
    if (out_size < n + 1) {
        out[0] = '\0';
        return 0;
    }
    const uint8_t *p = (const uint8_t *)data;
    char *o = out;
    for (size_t i = 0; i < length; i += 3) {
        size_t left = length - i;
        uint32_t v = (uint32_t)p[i] << 16;
        if (left > 1)
            v |= (uint32_t)p[i + 1] << 8;
        if (left > 2)
            v |= p[i + 2];
        *o++ = alphabet[(v >> 18) & 63];
        *o++ = alphabet[(v >> 12) & 63];
        *o++ = left > 1 ? alphabet[(v >> 6) & 63] : '=';
        *o++ = left > 2 ? alphabet[v & 63] : '=';
    }
    *o = '\0';
    return n;
}
