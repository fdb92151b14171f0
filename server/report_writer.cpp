#include "report_writer.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

namespace {

// Decimal digits of v at the end of buf (which ends at end); returns the first.
char *digits_u32(char *end, uint32_t v)
{
    do {
        *--end = (char)('0' + v % 10);
        v /= 10;
    } while (v != 0);
    return end;
}

// 32-bit divisions where the value allows: on the device a 64-bit division
// is a library call per digit.
char *digits_u64(char *end, uint64_t v)
{
    while (v > 0xFFFFFFFFu) {
        *--end = (char)('0' + v % 10);
        v /= 10;
    }
    return digits_u32(end, (uint32_t)v);
}

// Decimal digits of m * 2^shift, an integer of up to 1077 bits (the largest
// doubles), by repeated division of 32-bit limbs by 10^9.
char *digits_shifted(char *end, uint64_t m, int shift)
{
    if (shift <= 11)
        return digits_u64(end, m << shift);
    constexpr int LIMBS = (53 + 1024) / 32 + 2;
    uint32_t limb[LIMBS] = {};
    int word = shift / 32, bit = shift % 32;
    // m spans at most 53 bits: three limbs after a shift within a word.
    uint64_t lo = m << bit;
    uint64_t hi = bit == 0 ? 0 : m >> (64 - bit);
    limb[word] = (uint32_t)lo;
    limb[word + 1] = (uint32_t)(lo >> 32);
    limb[word + 2] = (uint32_t)hi;
    int n = word + 3;
    while (n > 0 && limb[n - 1] == 0)
        n--;
    while (n > 0) {
        uint64_t rem = 0;
        for (int i = n - 1; i >= 0; i--) {
            uint64_t cur = rem << 32 | limb[i];
            limb[i] = (uint32_t)(cur / 1000000000u);
            rem = cur % 1000000000u;
        }
        while (n > 0 && limb[n - 1] == 0)
            n--;
        // Nine digits per chunk, except the leading one.
        char *chunk_end = end;
        end = digits_u32(end, (uint32_t)rem);
        if (n > 0)
            while (chunk_end - end < 9)
                *--end = '0';
    }
    return end;
}

// The text of tmp[from, to) into out, right-aligned in width.
size_t emit(char *out, const char *from, const char *to, int width)
{
    size_t n = (size_t)(to - from);
    size_t pad = width > 0 && (size_t)width > n ? (size_t)width - n : 0;
    memset(out, ' ', pad);
    memcpy(out + pad, from, n);
    return pad + n;
}

bool round_up(uint64_t q, uint64_t rem, uint64_t half)
{
    return rem > half || (rem == half && (q & 1));
}

}  // namespace

void report_writer_init(report_writer *w, char *buf, size_t size)
{
    w->buf = buf;
    w->size = size;
    w->len = 0;
    if (size > 0)
        buf[0] = 0;
}

void report_writer_bytes(report_writer *w, const char *s, size_t n)
{
    if (w->len + 1 >= w->size)
        return;
    size_t room = w->size - 1 - w->len;
    if (n > room)
        n = room;
    memcpy(w->buf + w->len, s, n);
    w->len += n;
    w->buf[w->len] = 0;
}

void report_format_append(report_writer *w, const char *fmt, ...)
{
    if (w->len + 1 >= w->size)
        return;
    size_t room = w->size - w->len;
    va_list ap;
    va_start(ap, fmt);
    int n = vsnprintf(w->buf + w->len, room, fmt, ap);
    va_end(ap);
    if (n < 0) {
        w->buf[w->len] = 0;
        return;
    }
    w->len += (size_t)n < room ? (size_t)n : room - 1;
}

size_t report_number_uint(char *out, uint32_t v)
{
    char tmp[12];
    char *end = tmp + sizeof tmp;
    return emit(out, digits_u32(end, v), end, 0);
}

size_t report_number_int(char *out, int32_t v)
{
    char tmp[12];
    char *end = tmp + sizeof tmp;
    char *p = digits_u32(end, v < 0 ? 0u - (uint32_t)v : (uint32_t)v);
    if (v < 0)
        *--p = '-';
    return emit(out, p, end, 0);
}

size_t report_number_hex(char *out, uint32_t v)
{
    char tmp[8];
    char *end = tmp + sizeof tmp, *p = end;
    do {
        *--p = "0123456789abcdef"[v & 15];
        v >>= 4;
    } while (v != 0);
    return emit(out, p, end, 0);
}

// printf prints the exact binary value rounded to D decimals, ties to even.
// With v = m * 2^e that is round(m * 10^D / 2^-e): integer arithmetic.
size_t report_number_fixed(char *out, double v, int width, int decimals)
{
    if (decimals < 0)
        decimals = 0;
    if (decimals > REPORT_FIXED_DECIMALS_MAX)
        decimals = REPORT_FIXED_DECIMALS_MAX;
    uint64_t b;
    memcpy(&b, &v, sizeof b);
    bool negative = b >> 63;
    int exponent = (int)((b >> 52) & 0x7FF);
    uint64_t fraction = b & ((1ull << 52) - 1);

    char tmp[REPORT_NUMBER_MAX];
    char *end = tmp + sizeof tmp, *p = end;
    if (exponent == 0x7FF) {
        const char *word = fraction != 0 ? "nan" : "inf";
        p -= 3;
        memcpy(p, word, 3);
    } else {
        uint64_t m = exponent == 0 ? fraction : fraction | (1ull << 52);
        int e = exponent == 0 ? -1074 : exponent - 1075;  // v = m * 2^e
        if (e >= 0) {
            // An integer: its digits, then zero decimals.
            for (int i = 0; i < decimals; i++)
                *--p = '0';
            if (decimals > 0)
                *--p = '.';
            p = digits_shifted(p, m, e);
        } else {
            static constexpr uint64_t scale_of[] = {1, 10, 100, 1000};
            uint64_t scale = scale_of[decimals];
            uint64_t scaled = m * scale;  // below 2^63
            int k = -e;
            uint64_t q = 0;
            if (k < 64) {
                q = scaled >> k;
                if (round_up(q, scaled & ((1ull << k) - 1), 1ull << (k - 1)))
                    q++;
            }  // else below 2^63 / 2^64: under one half, rounds to zero
            uint64_t whole = q / scale, part = q % scale;
            for (int i = 0; i < decimals; i++) {
                *--p = (char)('0' + part % 10);
                part /= 10;
            }
            if (decimals > 0)
                *--p = '.';
            p = digits_u64(p, whole);
        }
    }
    if (negative)
        *--p = '-';
    return emit(out, p, end, width);
}

// Exactly what rounding the single-precision product v * 10.0f to an
// integer gives, in integer arithmetic.
size_t report_number_tenths(char *out, float v)
{
    constexpr uint32_t LIMIT = 999999999;  // as a float 1e9: the clamp starts above it
    uint32_t b;
    memcpy(&b, &v, sizeof b);
    bool negative = b >> 31;
    int exponent = (int)((b >> 23) & 0xFF);
    uint32_t fraction = b & 0x7FFFFF;

    uint32_t mag = 0;  // |round(v * 10)|
    if (exponent == 0xFF) {
        mag = fraction != 0 ? 0 : LIMIT;  // NaN as zero, infinity held
    } else if (exponent != 0) {           // subnormals times ten round to zero
        uint64_t product = (uint64_t)(fraction | 0x800000) * 10;  // 27 or 28 bits
        int e = exponent - 150;
        // The float product keeps 24 significant bits, rounded ties to even.
        int s = product >> 27 ? 4 : 3;
        uint64_t q = product >> s;
        if (round_up(q, product & ((1u << s) - 1), 1u << (s - 1)))
            q++;
        e += s;  // v * 10.0f = q * 2^e
        if (e >= 0) {
            uint64_t whole = e > 10 ? ~0ull : q << e;
            mag = whole > 1000000000u ? LIMIT : (uint32_t)whole;
        } else if (-e < 26) {  // else below one half
            int k = -e;
            uint64_t whole = q >> k;
            if (round_up(whole, q & ((1ull << k) - 1), 1ull << (k - 1)))
                whole++;
            mag = (uint32_t)whole;
        }
    }

    // 128 of these per curve line: written in place, no copy.
    size_t len = (negative && mag != 0) + 2;  // sign, point and decimal
    uint32_t whole = mag / 10;
    for (uint32_t rest = whole; ; rest /= 10) {
        len++;
        if (rest < 10)
            break;
    }
    char *p = out + len;
    *--p = (char)('0' + mag % 10);
    *--p = '.';
    p = digits_u32(p, whole);
    if (p != out)
        *--p = '-';
    return len;
}

void report_put(report_writer *w, int32_t v)
{
    char t[12];
    report_writer_bytes(w, t, report_number_int(t, v));
}

void report_put(report_writer *w, uint32_t v)
{
    char t[12];
    report_writer_bytes(w, t, report_number_uint(t, v));
}

void report_put(report_writer *w, report_hex v)
{
    char t[8];
    report_writer_bytes(w, t, report_number_hex(t, v.v));
}

void report_put(report_writer *w, const report_fixed &v)
{
    char t[REPORT_NUMBER_MAX];
    report_writer_bytes(w, t, report_number_fixed(t, v.v, v.width, v.decimals));
}

void report_put(report_writer *w, const report_text &v)
{
    report_writer_bytes(w, v.s, v.n);
}
