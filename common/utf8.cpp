#include "common/utf8.h"

uint32_t utf8_read(const unsigned char *s, size_t n, size_t *used)
{
    *used = 1;
    unsigned char c = s[0];
    if (c < 0x80)
        return c;
    if (c >= 0xC2 && c <= 0xDF) {
        if (n < 2 || (s[1] & 0xC0) != 0x80)
            return UTF8_REPLACEMENT;
        *used = 2;
        return (uint32_t)(c & 0x1F) << 6 | (s[1] & 0x3F);
    }
    if (c >= 0xE0 && c <= 0xEF) {
        if (n < 3 || (s[1] & 0xC0) != 0x80 || (s[2] & 0xC0) != 0x80)
            return UTF8_REPLACEMENT;
        uint32_t cp = (uint32_t)(c & 0x0F) << 12 | (uint32_t)(s[1] & 0x3F) << 6 | (s[2] & 0x3F);
        if (cp < 0x800)  // overlong
            return UTF8_REPLACEMENT;
        *used = 3;
        return cp;
    }
    // continuation byte, C0/C1 overlong lead, or a four-byte form
    return UTF8_REPLACEMENT;
}

size_t utf8_write(uint32_t cp, char *out)
{
    if (cp < 0x80) {
        out[0] = (char)cp;
        return 1;
    }
    if (cp < 0x800) {
        out[0] = (char)(0xC0 | cp >> 6);
        out[1] = (char)(0x80 | (cp & 0x3F));
        return 2;
    }
    if (cp > 0xFFFF)
        cp = UTF8_REPLACEMENT;
    out[0] = (char)(0xE0 | cp >> 12);
    out[1] = (char)(0x80 | ((cp >> 6) & 0x3F));
    out[2] = (char)(0x80 | (cp & 0x3F));
    return 3;
}

namespace {

struct upper_run {
    uint16_t first, last;
    uint8_t stride;
    int32_t delta;
};

constexpr upper_run UPPER_RUNS[] = {
#include "common/utf8_upper.inc"
};

}  // namespace

uint32_t utf8_upper(uint32_t cp)
{
    if (cp < 0x80)
        return cp >= 'a' && cp <= 'z' ? cp - 32 : cp;
    // First run that ends at or after cp.
    size_t lo = 0, hi = sizeof UPPER_RUNS / sizeof UPPER_RUNS[0];
    while (lo < hi) {
        size_t mid = (lo + hi) / 2;
        if (UPPER_RUNS[mid].last < cp)
            lo = mid + 1;
        else
            hi = mid;
    }
    if (lo == sizeof UPPER_RUNS / sizeof UPPER_RUNS[0])
        return cp;
    const upper_run &r = UPPER_RUNS[lo];
    if (cp < r.first || (cp - r.first) % r.stride != 0)
        return cp;
    return (uint32_t)((int32_t)cp + r.delta);
}
