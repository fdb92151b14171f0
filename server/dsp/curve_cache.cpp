#include "dsp/curve_cache.h"

#include <bit>
#include <cstring>

namespace {

uint32_t bits_of(float x)
{
    return std::bit_cast<uint32_t>(x);
}

// fast_log10 reads the exponent and the top 12 fraction bits, nothing else:
// products that agree there have the same decibel value.
uint32_t db_key(float x)
{
    return (bits_of(x) >> 11) & 0xFFFFF;
}

}  // namespace

bool curve_section_is_flat(const filter_section *s)
{
    // Numerator and denominator are evaluated by the same operations, so
    // equal terms give num == den and a factor of exactly one. Compared as
    // bit patterns: no floating-point work.
    const float *r = s->response;
    return bits_of(r[0]) == bits_of(r[5]) && bits_of(r[1]) == bits_of(r[3]) && bits_of(r[2]) == bits_of(r[4]);
}

void curve_cache_compute(const curve_cache_rows &rows, const filter_section *const *sections, int count,
                         float out[CURVE_POINTS])
{
    curve_cache_head *h = rows.head;
    if (count > rows.capacity)
        count = rows.capacity;
    if (count < 0)
        count = 0;
    bool valid = h->valid && h->count == count;

    // Sections whose terms changed get their row again; the products are
    // redone from the first of them on.
    int first = valid ? count : 0;
    for (int k = 0; k < count; k++) {
        const filter_section *s = sections[k];
        bool use = s != nullptr && !curve_section_is_flat(s);
        if (valid && use == (rows.used[k] != 0) &&
            (!use || memcmp(rows.response[k], s->response, sizeof rows.response[k]) == 0))
            continue;
        rows.used[k] = use ? 1 : 0;
        if (use) {
            memcpy(rows.response[k], s->response, sizeof rows.response[k]);
            curve_section_magnitude(rows.response[k], rows.ratio[k]);
        }
        if (k < first)
            first = k;
    }

    const float *prev = nullptr;
    for (int k = first - 1; k >= 0 && prev == nullptr; k--)
        if (rows.used[k])
            prev = rows.product[k];
    for (int k = first; k < count; k++) {
        if (!rows.used[k])
            continue;
        float *p = rows.product[k];
        if (prev == nullptr) {
            memcpy(p, rows.ratio[k], sizeof(float) * CURVE_POINTS);  // 1 * r is r
        } else {
            const float *r = rows.ratio[k];
            for (int j = 0; j < CURVE_POINTS; j++)
                p[j] = prev[j] * r[j];
        }
        prev = p;
    }

    if (!valid || first < count) {
        const float *product = nullptr;
        for (int k = count - 1; k >= 0 && product == nullptr; k--)
            if (rows.used[k])
                product = rows.product[k];
        for (int j = 0; j < CURVE_POINTS; j++) {
            float v = product != nullptr ? product[j] : 1.0f;
            uint32_t key = db_key(v);
            if (valid && key == h->db_key[j])
                continue;
            h->db_key[j] = key;
            // 10 log10(1) is exactly 0 (fast_log10 of 1 is 0): the flat
            // points of every curve at start-up cost nothing.
            h->db[j] = bits_of(v) == 0x3F800000u ? 0.0f : 10.0f * fast_log10(v);
        }
        h->valid = 1;
        h->count = count;
    }
    memcpy(out, h->db, sizeof h->db);
}
