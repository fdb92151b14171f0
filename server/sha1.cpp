#include "sha1.h"

#include <cstring>

namespace {

inline uint32_t rol(uint32_t x, int n)
{
    return (x << n) | (x >> (32 - n));
}

void sha1_block(uint32_t h[5], const uint8_t *block)
{
    uint32_t w[80];
    for (int t = 0; t < 16; t++)
        w[t] = (uint32_t)block[4 * t] << 24 | (uint32_t)block[4 * t + 1] << 16 | (uint32_t)block[4 * t + 2] << 8 |
               (uint32_t)block[4 * t + 3];
    for (int t = 16; t < 80; t++)
        w[t] = rol(w[t - 3] ^ w[t - 8] ^ w[t - 14] ^ w[t - 16], 1);

    uint32_t a = h[0], b = h[1], c = h[2], d = h[3], e = h[4];
    for (int t = 0; t < 80; t++) {
        uint32_t f, k;
        if (t < 20) {
            f = (b & c) | (~b & d);
            k = 0x5A827999;
        } else if (t < 40) {
            f = b ^ c ^ d;
            k = 0x6ED9EBA1;
        } else if (t < 60) {
            f = (b & c) | (b & d) | (c & d);
            k = 0x8F1BBCDC;
        } else {
            f = b ^ c ^ d;
            k = 0xCA62C1D6;
        }
        uint32_t temp = rol(a, 5) + f + e + w[t] + k;
        e = d;
        d = c;
        c = rol(b, 30);
        b = a;
        a = temp;
    }
    h[0] += a;
    h[1] += b;
    h[2] += c;
    h[3] += d;
    h[4] += e;
}

}  // namespace

void sha1(const void *data, size_t length, uint8_t digest[SHA1_DIGEST_SIZE])
{
    uint32_t h[5] = {0x67452301, 0xEFCDAB89, 0x98BADCFE, 0x10325476, 0xC3D2E1F0};
    const uint8_t *p = (const uint8_t *)data;
    size_t left = length;
    for (; left >= 64; p += 64, left -= 64)
        sha1_block(h, p);

    // Padding: a 1 bit, zeros, and the message length in bits (big-endian),
    // spilling into a second block when fewer than 9 bytes are free.
    uint8_t tail[128] = {};
    if (left > 0)
        memcpy(tail, p, left);
    tail[left] = 0x80;
    size_t tail_len = left + 9 <= 64 ? 64 : 128;
    uint64_t bits = (uint64_t)length * 8;
    for (int i = 0; i < 8; i++)
        tail[tail_len - 1 - i] = (uint8_t)(bits >> (8 * i));
    for (size_t off = 0; off < tail_len; off += 64)
        sha1_block(h, tail + off);

    for (int i = 0; i < 5; i++) {
        digest[4 * i] = (uint8_t)(h[i] >> 24);
        digest[4 * i + 1] = (uint8_t)(h[i] >> 16);
        digest[4 * i + 2] = (uint8_t)(h[i] >> 8);
        digest[4 * i + 3] = (uint8_t)h[i];
    }
}
