#include "dsp/filter.h"

#include <cmath>
#include <cstring>
#include <numbers>

#include "dsp/curves.h"

void filter_reset(filter_section *s)
{
    s->b0 = 1.0;
    s->b1 = s->b2 = 0.0;
    s->a0 = 1.0;
    s->a1 = s->a2 = 0.0;
    memcpy(s->coef_block, FILTER_BYPASS_BLOCK, sizeof s->coef_block);
    if (s->flags & FILTER_FLAG_RESPONSE) {
        // N0, N1, N2, D1, D2, D0 of a flat 0 dB curve
        const float flat[6] = {1.0f, 0.0f, 0.0f, 0.0f, 0.0f, 1.0f};
        memcpy(s->response, flat, sizeof s->response);
    }
}

void filter_reset_with_response(filter_section *s)
{
    s->flags |= FILTER_FLAG_RESPONSE;
    filter_reset(s);
}

void filter_record_reset(filter_record *r)
{
    memset(r, 0, sizeof *r);
    r->b0 = 1.0;
    r->a0 = 1.0;
    memcpy(r->coef_block, FILTER_BYPASS_BLOCK, sizeof r->coef_block);
}

namespace {

constexpr double PI = std::numbers::pi;
constexpr double PI2 = 9.869604401089358;    // pi^2, written out as the graphic band takes it
constexpr double LN2_HALF = 0.34657359028;   // ln(2)/2: octaves to the sinh argument
constexpr int FILTER_KIND_SLOPE = 4;         // bandwidth term from a slope in dB

// Q of the two sections of each bus/output high-pass kind (0 = reset).
constexpr double HIGHPASS_Q[5][2] = {
    {0.0, 0.0},        // 0 off
    {0.541, 1.307},    // 1 Butterworth 24 dB/oct
    {0.707, 0.707},    // 2 Linkwitz-Riley 24 dB/oct
    {0.707, 0.0},      // 3 Butterworth 12 dB/oct
    {0.5, 0.0},        // 4 Linkwitz-Riley 12 dB/oct
};

double filter_w0(double f)
{
    return 2.0 * PI * f / DSP_RATE;
}

// sqrtf on a value first rounded to float, widened back.
double sqrt_single(double x)
{
    return (double)sqrtf((float)x);
}

double sqrt_double(double x)
{
    return sqrt(x);
}

double db_to_lin(double db)
{
    return (double)fast_db_to_lin((float)db);
}

void filter_set(filter_section *s, double b0, double b1, double b2, double a0, double a1,
                double a2)
{
    s->b0 = b0;
    s->b1 = b1;
    s->b2 = b2;
    s->a0 = a0;
    s->a1 = a1;
    s->a2 = a2;
    filter_finish(s);
}

// Peaking section: gain p at the numerator, q at the denominator.
void filter_peaking(filter_section *s, double cw, double p, double q)
{
    filter_set(s, 1.0 + p, -2.0 * cw, 1.0 - p, 1.0 + q, -2.0 * cw, 1.0 - q);
}

// Bandwidth term; the slope form takes its root with `root` (sqrtf or the
// double sqrt, as the caller's design wants it).
double alpha_term(int kind, double value, double sw, double A, double (*root)(double))
{
    if (kind == 1)
        return sw / (value + value);
    if (kind == 2)
        return sw * sinh(LN2_HALF * value);
    float g = fast_db_to_lin((float)-value);
    float m = 1.0f - g;
    return sw * 0.5 * root((A + 1.0 / A) * (1.0 / (double)m - 1.0) + 2.0);
}

// Shelving section with amplitude A = 10^(gain/40), beta = 2*sqrt(A)*alpha.
void filter_shelf(filter_section *s, bool high, double f, double value, double gain, int kind,
                  double (*root)(double))
{
    if (gain == 0.0) {
        filter_reset(s);
        return;
    }
    double w0 = filter_w0(f);
    double cw = cos(w0);
    double A = db_to_lin(gain * 0.5);
    double beta = 2.0 * root(A) * alpha_term(kind, value, sin(w0), A, root);
    if (high)
        filter_set(s,
                   A * (((A + 1.0) + (A - 1.0) * cw) + beta),
                   -2.0 * A * ((A - 1.0) + (A + 1.0) * cw),
                   A * (((A + 1.0) + (A - 1.0) * cw) - beta),
                   ((A + 1.0) - (A - 1.0) * cw) + beta,
                   2.0 * ((A - 1.0) - (A + 1.0) * cw),
                   ((A + 1.0) - (A - 1.0) * cw) - beta);
    else
        filter_set(s,
                   A * (((A + 1.0) - (A - 1.0) * cw) + beta),
                   2.0 * A * ((A - 1.0) - (A + 1.0) * cw),
                   A * (((A + 1.0) - (A - 1.0) * cw) - beta),
                   ((A + 1.0) + (A - 1.0) * cw) + beta,
                   -2.0 * ((A - 1.0) + (A + 1.0) * cw),
                   ((A + 1.0) + (A - 1.0) * cw) - beta);
}

bool all_finite(const float *v, int n)
{
    for (int i = 0; i < n; i++)
        if (!std::isfinite(v[i]))
            return false;
    return true;
}

}  // namespace

void filter_finish(filter_section *s)
{
    if (std::isnan(s->a2) || s->a0 == 0.0) {
        filter_reset(s);
        return;
    }
    if (s->a0 != 1.0) {
        double a0 = s->a0;
        s->b0 /= a0;
        s->b1 /= a0;
        s->b2 /= a0;
        s->a1 /= a0;
        s->a2 /= a0;
        s->a0 = 1.0;
    }
    const double a1 = s->a1, a2 = s->a2, b0 = s->b0, b1 = s->b1, b2 = s->b2;

    // Lattice form: reflection coefficients k, their cosines c, ladder taps L.
    float k2 = (float)a2;
    float k1 = (float)(a1 / (a2 + 1.0));
    float c2 = -sqrtf(1.0f - k2 * k2);
    float c1 = -sqrtf(1.0f - k1 * k1);
    float L2 = (float)b2;
    float L1 = (float)((1.0 / (double)c2) * (b1 - b2 * a1));
    float c1c2 = c1 * c2;
    float c2k1 = c2 * k1;
    float L1c2k1 = L1 * c2k1;
    float L2k2 = L2 * k2;
    float L0 = (float)((1.0 / (double)c1c2) * ((b0 - (double)L1c2k1) - (double)L2k2));
    const float block[7] = {c2, k2, c1, k1, L0, L2, L1};

    // An unstable or degenerate design (|k| >= 1, overflow) must never reach
    // the FPGA: the slot passes the signal instead.
    if (!all_finite(block, 7)) {
        filter_reset(s);
        return;
    }
    memcpy(s->coef_block, block, sizeof block);

    if (s->flags & FILTER_FLAG_RESPONSE) {
        float t = (float)(b0 + b1 + b2);
        float u = (float)(a2 + (a1 + 1.0));
        const float r[6] = {
            t * t,                                               // N0
            (float)(4.0 * ((b0 * b1 + b2 * 4.0 * b0) + b1 * b2)),  // N1
            (float)(16.0 * b0 * b2),                             // N2
            (float)(4.0 * ((a1 + 4.0 * a2) + a1 * a2)),          // D1
            (float)(16.0 * a2),                                  // D2
            u * u,                                               // D0
        };
        if (!all_finite(r, 6)) {
            filter_reset(s);
            return;
        }
        memcpy(s->response, r, sizeof r);
    }
}

double filter_alpha(int kind, double value, double sin_w0, double A)
{
    return alpha_term(kind, value, sin_w0, A, sqrt_single);
}

// Peaking band with 0 dB at DC, the gain at f and G1 at Nyquist chosen to
// match the analogue prototype; boost and cut are exact mirror images.
void filter_geq_band(filter_section *s, double f, double q, double gain)
{
    if (gain == 0.0) {
        filter_reset(s);
        return;
    }
    double w0 = filter_w0(f);
    double G = db_to_lin(gain);
    double dw = sin(w0) / (q + q);
    double GB = G > 1.0 ? sqrt_single(2.0 * G * G) : sqrt_single(G * G * 0.5);
    double G2 = G * G;
    double B2 = GB * GB;
    double E_GB = fabs(G2 - B2);
    double E_G0 = fabs(G2 - 1.0);
    double E_B0 = fabs(B2 - 1.0);
    double T = (w0 * w0 - PI2) * (w0 * w0 - PI2);
    double G1 = sqrt_single((T + 2.0 * E_B0 * G2 * PI2 * dw * dw / E_GB) /
                            (T + 2.0 * E_B0 * PI2 * dw * dw / E_GB));
    double E_G1 = fabs(G2 - G1);
    double E_G11 = fabs(G2 - G1 * G1);
    double E_B1 = fabs(B2 - G1);
    double E_B11 = fabs(B2 - G1 * G1);
    double tw = tan(w0 / 2.0);
    double W2 = sqrt_single(E_G11 / E_G0) * (tw * tw);
    double DW = (1.0 + sqrt_single(E_B0 / E_B11) * W2) * tan(dw / 2.0);
    double Cq = E_B11 * DW * DW - 2.0 * W2 * (E_B1 - sqrt_single(E_B0 * E_B11));
    double Dq = 2.0 * W2 * (E_G1 - sqrt_single(E_G0 * E_G11));
    double Aq = sqrt_single((Cq + Dq) / E_GB);
    double Bq = sqrt_single((G2 * Cq + B2 * Dq) / E_GB);
    double n = (W2 + 1.0) + Aq;
    filter_set(s, ((G1 + W2) + Bq) / n, -2.0 * (G1 - W2) / n, (W2 + (G1 - Bq)) / n, 1.0,
               -2.0 * (1.0 - W2) / n, ((W2 + 1.0) - Aq) / n);
}

void filter_peq(filter_section *s, double f, double q, double gain)
{
    filter_peq_alpha(s, f, q, gain, 1);
}

void filter_peq_alpha(filter_section *s, double f, double value, double gain, int kind)
{
    if (gain == 0.0) {
        filter_reset(s);
        return;
    }
    double w0 = filter_w0(f);
    double A = db_to_lin(gain * 0.5);
    double alpha = filter_alpha(kind, value, sin(w0), A);
    filter_peaking(s, cos(w0), alpha * A, alpha / A);
}

// Full amplitude on one side only, so a cut inverts the boost of equal size.
void filter_peq_symmetric(filter_section *s, double f, double value, double gain, int kind)
{
    if (gain == 0.0) {
        filter_reset(s);
        return;
    }
    double w0 = filter_w0(f);
    double A = db_to_lin(gain);
    double alpha = filter_alpha(kind, value, sin(w0), A);
    if (gain > 0.0)
        filter_peaking(s, cos(w0), alpha * A, alpha);
    else
        filter_peaking(s, cos(w0), alpha, alpha / A);
}

void filter_low_shelf(filter_section *s, double f, double value, double gain, int kind)
{
    filter_shelf(s, false, f, value, gain, kind, sqrt_single);
}

void filter_high_shelf(filter_section *s, double f, double value, double gain, int kind)
{
    filter_shelf(s, true, f, value, gain, kind, sqrt_single);
}

void filter_low_shelf_slope(filter_section *s, double f, double slope, double gain)
{
    filter_shelf(s, false, f, slope, gain, FILTER_KIND_SLOPE, sqrt_single);
}

// The high shelf of buses and outputs takes both roots in double precision.
void filter_high_shelf_slope(filter_section *s, double f, double slope, double gain)
{
    filter_shelf(s, true, f, slope, gain, FILTER_KIND_SLOPE, sqrt_double);
}

void filter_highpass2(filter_section *s, double f, double q)
{
    double w0 = filter_w0(f);
    double cw = cos(w0);
    double alpha = sin(w0) / (q + q);
    filter_set(s, (1.0 + cw) / 2.0, -(1.0 + cw), (1.0 + cw) / 2.0, 1.0 + alpha, -2.0 * cw,
               1.0 - alpha);
}

void filter_lowpass2(filter_section *s, double f, double q)
{
    double w0 = filter_w0(f);
    double cw = cos(w0);
    double alpha = sin(w0) / (q + q);
    filter_set(s, (1.0 - cw) / 2.0, 1.0 - cw, (1.0 - cw) / 2.0, 1.0 + alpha, -2.0 * cw,
               1.0 - alpha);
}

void filter_highpass1(filter_section *s, double f)
{
    double K = tan(PI * f / DSP_RATE);
    filter_set(s, 1.0 / (K + 1.0), -1.0 / (K + 1.0), 0.0, 1.0, (K - 1.0) / (K + 1.0), 0.0);
}

void filter_lowpass1(filter_section *s, double f)
{
    double K = tan(PI * f / DSP_RATE);
    double b = K / (K + 1.0);
    filter_set(s, b, b, 0.0, 1.0, (K - 1.0) / (K + 1.0), 0.0);
}

void filter_allpass2(filter_section *s, double f, double q)
{
    double w0 = filter_w0(f);
    double cw = cos(w0);
    double alpha = sin(w0) / (q + q);
    filter_set(s, 1.0 - alpha, -2.0 * cw, 1.0 + alpha, 1.0 + alpha, -2.0 * cw, 1.0 - alpha);
}

// The angle itself stands in for its tangent here.
void filter_allpass1(filter_section *s, double f)
{
    double w = PI * f / DSP_RATE;
    double d = -(1.0 - w) / (w + 1.0);
    filter_set(s, d, 1.0, 0.0, 1.0, d, 0.0);
}

void filter_highpass_kind(filter_section s[2], int kind, double f)
{
    // An unknown kind is treated as off rather than read past the table.
    const double *q = (kind >= 0 && kind <= 4) ? HIGHPASS_Q[kind] : HIGHPASS_Q[0];
    for (int i = 0; i < 2; i++) {
        if (q[i] > 0.0)
            filter_highpass2(&s[i], f, q[i]);
        else
            filter_reset(&s[i]);
    }
}

static_assert(offsetof(filter_section, flags) == offsetof(filter_record, flags));

// The record is the section's leading 80 bytes: same fields, same offsets.
void filter_store(const filter_section *s, filter_record *r)
{
    memcpy(r, s, sizeof *r);
}

void filter_load(filter_section *s, const filter_record *r)
{
    memcpy(s, r, sizeof *r);
}
