#include "crc.h"

#include <array>

namespace {

template <typename T>
constexpr std::array<T, 256> reflected_table(T poly)
{
    std::array<T, 256> table{};
    for (unsigned i = 0; i < 256; i++) {
        T r = (T)i;
        for (int k = 0; k < 8; k++)
            r = (r & 1) ? (T)((r >> 1) ^ poly) : (T)(r >> 1);
        table[i] = r;
    }
    return table;
}

constexpr auto crc32_table = reflected_table<uint32_t>(0xEDB88320u);
constexpr auto crc8_table = reflected_table<uint8_t>(0xB2);

}  // namespace

uint32_t crc32(const void *data, size_t length)
{
    if (length == 0)
        return 0;
    const uint8_t *p = (const uint8_t *)data;
    uint32_t r = 0xFFFFFFFFu;
    for (size_t i = 0; i < length; i++)
        r = crc32_table[(r ^ p[i]) & 0xFF] ^ (r >> 8);
    return ~r;
}

uint8_t crc8(const void *data, size_t length)
{
    if (length == 0)
        return 0xFF;  // the serial peers expect this, not the complement of 0xFF
    const uint8_t *p = (const uint8_t *)data;
    uint8_t r = 0xFF;
    for (size_t i = 0; i < length; i++)
        r = crc8_table[r ^ p[i]];
    return (uint8_t)(r ^ 0xFF);
}
