#include "fpga_lattice.h"

#include <cmath>
#include <cstring>

namespace {

// c2, k2, c1, k1, L0, L2, L1 of a slot that passes its input.
constexpr float BYPASS[7] = {0.0f, -1.0f, 0.0f, -1.0f, 0.0f, -1.0f, 0.0f};

// Four channels as one vector (SSE on x86-64, NEON on ARM): the eight
// channels of a row are two of them.
typedef float lanes __attribute__((vector_size(16)));
constexpr int LANES = 4;
constexpr int HALVES = FPGA_CHANNELS / LANES;

lanes load(const float *p)
{
    lanes v;
    memcpy(&v, p, sizeof v);
    return v;
}

void store(float *p, lanes v)
{
    memcpy(p, &v, sizeof v);
}

// One row over a block. Per sample and channel, with x the input:
//   f1 = c2 x - k2 s2        g2 = k2 x + c2 s2     (second stage)
//   f0 = c1 f1 - k1 s1       g1 = k1 f1 + c1 s1    (first stage)
//   y  = L0 f0 + L1 g1 + L2 g2,  then s2 = g1, s1 = f0.
// Each stage is a rotation (c^2 + k^2 = 1), so the states stay bounded by the
// signal whatever the pole positions. The recursion runs along the samples;
// the channels are independent and form the vectors.
void run_row(fpga_lattice_row *r, fpga_frame *x, int n)
{
    lanes c2[HALVES], k2[HALVES], c1[HALVES], k1[HALVES], l0[HALVES], l1[HALVES], l2[HALVES];
    lanes s1[HALVES], s2[HALVES];
    for (int h = 0; h < HALVES; h++) {
        c2[h] = load(r->c2 + LANES * h);
        k2[h] = load(r->k2 + LANES * h);
        c1[h] = load(r->c1 + LANES * h);
        k1[h] = load(r->k1 + LANES * h);
        l0[h] = load(r->l0 + LANES * h);
        l1[h] = load(r->l1 + LANES * h);
        l2[h] = load(r->l2 + LANES * h);
        s1[h] = load(r->s1 + LANES * h);
        s2[h] = load(r->s2 + LANES * h);
    }
    for (int i = 0; i < n; i++) {
        for (int h = 0; h < HALVES; h++) {
            lanes in = load(x[i] + LANES * h);
            lanes f1 = c2[h] * in - k2[h] * s2[h];
            lanes g2 = k2[h] * in + c2[h] * s2[h];
            lanes f0 = c1[h] * f1 - k1[h] * s1[h];
            lanes g1 = k1[h] * f1 + c1[h] * s1[h];
            store(x[i] + LANES * h, (l0[h] * f0 + l1[h] * g1) + l2[h] * g2);
            s2[h] = g1;
            s1[h] = f0;
        }
    }
    for (int h = 0; h < HALVES; h++) {
        store(r->s1 + LANES * h, s1[h]);
        store(r->s2 + LANES * h, s2[h]);
    }
}

}  // namespace

void fpga_lattice_load(fpga_lattice_row *row, int ch, const float coef[7])
{
    const float *c = coef;
    for (int i = 0; i < 7; i++)
        if (!std::isfinite(coef[i]))
            c = BYPASS;
    row->c2[ch] = c[0];
    row->k2[ch] = c[1];
    row->c1[ch] = c[2];
    row->k1[ch] = c[3];
    row->l0[ch] = c[4];
    row->l2[ch] = c[5];
    row->l1[ch] = c[6];
}

void fpga_lattice_run(fpga_lattice_row *rows, int nrows, fpga_frame *x, int n)
{
    for (int r = 0; r < nrows; r++)
        run_row(&rows[r], x, n);
}

bool fpga_lattice_sanitize(fpga_lattice_row *rows, int nrows)
{
    bool clean = true;
    for (int r = 0; r < nrows; r++)
        for (int ch = 0; ch < FPGA_CHANNELS; ch++)
            if (!std::isfinite(rows[r].s1[ch]) || !std::isfinite(rows[r].s2[ch])) {
                rows[r].s1[ch] = rows[r].s2[ch] = 0.0f;
                clean = false;
            }
    return clean;
}
