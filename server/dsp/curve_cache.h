// A displayed curve kept together with what it was computed from: the
// squared magnitude of each of its sections on the grid and the running
// product through each section. A new computation compares each section's
// response terms with the kept ones and evaluates only the sections that
// changed, multiplies again only from the first changed section on, and
// converts to decibels only the points whose product changed. The result
// is the full evaluation (begin, apply every section in order, to decibels)
// bit for bit: the same operations in the same order, minus multiplications
// by exactly one. Nothing accumulates from one update to the next.
#pragma once
#include <cstdint>

#include "dsp/curves.h"
#include "dsp/filter.h"

constexpr int CURVE_BUS_SECTIONS = 40;  // 31 graphic, 5 parametric, 2 shelves, 2 high-pass
constexpr int CURVE_OUT_SECTIONS = 8;   // 4 parametric, 2 shelves, 2 high-pass

// What every size of cache keeps for the whole curve.
struct curve_cache_head {
    int32_t valid;                // 0 until the first computation
    int32_t count;                // sections of the last computation
    uint32_t db_key[CURVE_POINTS];  // the product bits the decibel value was taken from
    float db[CURVE_POINTS];
};

template <int N>
struct curve_cache {
    curve_cache_head head;
    uint8_t used[N];                      // applied and not a pass-through
    float response[N][6];                 // the terms the row below was evaluated from
    float ratio[N][CURVE_POINTS];         // the section's squared magnitude
    float product[N][CURVE_POINTS];       // product through this section
};

// Rows of a cache of any size, as the computation takes them.
struct curve_cache_rows {
    curve_cache_head *head;
    uint8_t *used;
    float (*response)[6];
    float (*ratio)[CURVE_POINTS];
    float (*product)[CURVE_POINTS];
    int capacity;
};

// sections[k] is the k-th section of the curve, nullptr where a stage is
// switched off or bypassed; count <= the capacity. Writes the curve in dB.
void curve_cache_compute(const curve_cache_rows &rows, const filter_section *const *sections, int count,
                         float out[CURVE_POINTS]);

template <int N>
void curve_cache_update(curve_cache<N> *c, const filter_section *const *sections, int count, float out[CURVE_POINTS])
{
    curve_cache_compute({&c->head, c->used, c->response, c->ratio, c->product, N}, sections, count, out);
}

// A section whose numerator terms equal its denominator terms multiplies
// every point by exactly one (the reset terms are such a section).
bool curve_section_is_flat(const filter_section *s);
