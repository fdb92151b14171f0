#!/usr/bin/env python3
# Second, independent implementation of the section designs, written for
# plainness rather than speed, that prints the bit patterns pinned in
# filter_reference_test.cpp and, for the fast conversions, curves_test.cpp. Every single-precision step is a double
# operation rounded to float, which is exact for one +, -, *, / or sqrt of
# float operands. The transcendental functions are the C library's, as in
# the server.
#   python3 tests/server/dsp/filter_reference.py
import decimal
import math
import struct
from decimal import Decimal

RATE = 96000.0
PI2 = 9.869604401089358


def f32(x):
    return struct.unpack('<f', struct.pack('<f', x))[0]


def bits(x):
    return struct.unpack('<I', struct.pack('<f', x))[0]


def from_bits(b):
    return struct.unpack('<f', struct.pack('<I', b))[0]


def pow2_entry(i):
    decimal.getcontext().prec = 60
    x = ((Decimal(i) + Decimal('0.5')) / 4096 * Decimal(2).ln()).exp()
    cands = [bits(float(x)) + d for d in (-1, 0, 1)]
    best = min(cands, key=lambda b: abs(Decimal(from_bits(b)) - x))
    return best & 0x7FFFFF


def log2_entry(i):
    decimal.getcontext().prec = 60
    x = (1 + Decimal(i) / 4096).ln() / Decimal(2).ln()
    cands = [b for b in (bits(float(x)) + d for d in (-1, 0, 1)) if b >= 0]
    return from_bits(min(cands, key=lambda b: abs(Decimal(from_bits(b)) - x)))


def fast_log10(x):
    b = bits(x)
    e = f32(float(((b >> 23) & 0xFF) - 127))
    s = f32(e + log2_entry((b >> 11) & 0xFFF))
    return f32(f32(s * 0.69314718) * 0.4342944758723105)


def fast_pow10(x):
    y = f32(f32(f32(x) * 27866352.0) + 1065353216.0)
    i = int(y)
    return from_bits(pow2_entry((i >> 11) & 0xFFF) | (i & 0xFF800000))


def db_to_lin(db):
    return fast_pow10(f32(f32(db) / 20.0))


def sqrtf(x):
    return f32(math.sqrt(f32(x)))


def finish(b0, b1, b2, a0, a1, a2):
    if math.isnan(a2) or a0 == 0.0:
        return None
    if a0 != 1.0:
        b0, b1, b2, a1, a2 = b0 / a0, b1 / a0, b2 / a0, a1 / a0, a2 / a0
    k2 = f32(a2)
    k1 = f32(a1 / (a2 + 1.0))
    c2 = -sqrtf(f32(1.0 - f32(k2 * k2)))
    c1 = -sqrtf(f32(1.0 - f32(k1 * k1)))
    L2 = f32(b2)
    L1 = f32((1.0 / c2) * (b1 - b2 * a1))
    L0 = f32((1.0 / f32(c1 * c2)) * ((b0 - f32(L1 * f32(c2 * k1))) - f32(L2 * k2)))
    t = f32(b0 + b1 + b2)
    u = f32(a2 + (a1 + 1.0))
    resp = [f32(t * t), f32(4.0 * ((b0 * b1 + b2 * 4.0 * b0) + b1 * b2)), f32(16.0 * b0 * b2),
            f32(4.0 * ((a1 + 4.0 * a2) + a1 * a2)), f32(16.0 * a2), f32(u * u)]
    return [c2, k2, c1, k1, L0, L2, L1], resp


def omega(f):
    return 2.0 * math.pi * f / RATE


def alpha(kind, value, sw, A):
    if kind == 1:
        return sw / (value + value)
    if kind == 2:
        return sw * math.sinh(0.34657359028 * value)
    m = f32(1.0 - db_to_lin(-value))
    return sw * 0.5 * sqrtf((A + 1.0 / A) * (1.0 / m - 1.0) + 2.0)


def peaking(cw, p, q):
    return finish(1.0 + p, -2.0 * cw, 1.0 - p, 1.0 + q, -2.0 * cw, 1.0 - q)


def peq(f, q, gain, kind=1):
    w = omega(f)
    A = db_to_lin(gain * 0.5)
    al = alpha(kind, q, math.sin(w), A)
    return peaking(math.cos(w), al * A, al / A)


def peq_symmetric(f, v, gain, kind):
    w = omega(f)
    A = db_to_lin(gain)
    al = alpha(kind, v, math.sin(w), A)
    if gain > 0:
        return peaking(math.cos(w), al * A, al)
    return peaking(math.cos(w), al, al / A)


def shelf(low, f, v, gain, kind, single_root):
    w = omega(f)
    cw = math.cos(w)
    A = db_to_lin(gain * 0.5)
    if single_root:
        al = alpha(kind, v, math.sin(w), A)
        beta = 2.0 * sqrtf(A) * al
    else:  # the bus/output high shelf: double roots throughout
        m = f32(1.0 - db_to_lin(-v))
        al = math.sin(w) * 0.5 * math.sqrt((A + 1.0 / A) * (1.0 / m - 1.0) + 2.0)
        beta = 2.0 * math.sqrt(A) * al
    if low:
        return finish(A * (((A + 1) - (A - 1) * cw) + beta), 2.0 * A * ((A - 1) - (A + 1) * cw),
                      A * (((A + 1) - (A - 1) * cw) - beta), ((A + 1) + (A - 1) * cw) + beta,
                      -2.0 * ((A - 1) + (A + 1) * cw), ((A + 1) + (A - 1) * cw) - beta)
    return finish(A * (((A + 1) + (A - 1) * cw) + beta), -2.0 * A * ((A - 1) + (A + 1) * cw),
                  A * (((A + 1) + (A - 1) * cw) - beta), ((A + 1) - (A - 1) * cw) + beta,
                  2.0 * ((A - 1) - (A + 1) * cw), ((A + 1) - (A - 1) * cw) - beta)


def geq(f, Q, gain):
    w0 = omega(f)
    G = db_to_lin(gain)
    dw = math.sin(w0) / (Q + Q)
    GB = sqrtf(2.0 * G * G) if G > 1.0 else sqrtf(G * G * 0.5)
    G2, B2 = G * G, GB * GB
    E_GB, E_G0, E_B0 = abs(G2 - B2), abs(G2 - 1.0), abs(B2 - 1.0)
    T = (w0 * w0 - PI2) * (w0 * w0 - PI2)
    G1 = sqrtf((T + 2.0 * E_B0 * G2 * PI2 * dw * dw / E_GB) / (T + 2.0 * E_B0 * PI2 * dw * dw / E_GB))
    E_G1, E_G11 = abs(G2 - G1), abs(G2 - G1 * G1)
    E_B1, E_B11 = abs(B2 - G1), abs(B2 - G1 * G1)
    tw = math.tan(w0 / 2.0)
    W2 = sqrtf(E_G11 / E_G0) * (tw * tw)
    DW = (1.0 + sqrtf(E_B0 / E_B11) * W2) * math.tan(dw / 2.0)
    C = E_B11 * DW * DW - 2.0 * W2 * (E_B1 - sqrtf(E_B0 * E_B11))
    D = 2.0 * W2 * (E_G1 - sqrtf(E_G0 * E_G11))
    Aq = sqrtf((C + D) / E_GB)
    Bq = sqrtf((G2 * C + B2 * D) / E_GB)
    n = (W2 + 1.0) + Aq
    return finish(((G1 + W2) + Bq) / n, -2.0 * (G1 - W2) / n, (W2 + (G1 - Bq)) / n, 1.0,
                  -2.0 * (1.0 - W2) / n, ((W2 + 1.0) - Aq) / n)


def pass2(high, f, Q):
    w = omega(f)
    cw = math.cos(w)
    al = math.sin(w) / (Q + Q)
    if high:
        return finish((1 + cw) / 2, -(1 + cw), (1 + cw) / 2, 1 + al, -2 * cw, 1 - al)
    return finish((1 - cw) / 2, 1 - cw, (1 - cw) / 2, 1 + al, -2 * cw, 1 - al)


def pass1(high, f):
    K = math.tan(math.pi * f / RATE)
    a1 = (K - 1) / (K + 1)
    if high:
        return finish(1 / (K + 1), -1 / (K + 1), 0.0, 1.0, a1, 0.0)
    return finish(K / (K + 1), K / (K + 1), 0.0, 1.0, a1, 0.0)


def allpass2(f, Q):
    w = omega(f)
    cw = math.cos(w)
    al = math.sin(w) / (Q + Q)
    return finish(1 - al, -2 * cw, 1 + al, 1 + al, -2 * cw, 1 - al)


def allpass1(f):
    w = math.pi * f / RATE
    d = -(1 - w) / (w + 1)
    return finish(d, 1.0, 0.0, 1.0, d, 0.0)


# Names as the test spells the calls.
CASES = [
    ('peq(1000,1,6)', lambda: peq(1000, 1.0, 6.0)),
    ('peq(40,4,-9.5)', lambda: peq(40, 4.0, -9.5)),
    ('geq_band(1000,4.318477,6)', lambda: geq(1000, 4.318477, 6.0)),
    ('geq_band(16000,4.318477,-12)', lambda: geq(16000, 4.318477, -12.0)),
    ('geq_band(25,4.318477,-0.5)', lambda: geq(25, 4.318477, -0.5)),
    ('peq_alpha(250,1.5,4,2)', lambda: peq(250, 1.5, 4.0, 2)),
    ('peq_alpha(6000,9,-3,4)', lambda: peq(6000, 9.0, -3.0, 4)),
    ('peq_symmetric(3000,6,-8,4)', lambda: peq_symmetric(3000, 6.0, -8.0, 4)),
    ('peq_symmetric(90,2.5,11,1)', lambda: peq_symmetric(90, 2.5, 11.0, 1)),
    ('low_shelf(100,0.707,6,1)', lambda: shelf(True, 100, 0.707, 6.0, 1, True)),
    ('high_shelf(8000,1,-3,2)', lambda: shelf(False, 8000, 1.0, -3.0, 2, True)),
    ('high_shelf(2000,12,9,4)', lambda: shelf(False, 2000, 12.0, 9.0, 4, True)),
    ('low_shelf_slope(120,6,-10)', lambda: shelf(True, 120, 6.0, -10.0, 4, True)),
    ('high_shelf_slope(10000,6,7.5)', lambda: shelf(False, 10000, 6.0, 7.5, 4, False)),
    ('highpass2(35,1.307)', lambda: pass2(True, 35, 1.307)),
    ('lowpass2(18000,0.541)', lambda: pass2(False, 18000, 0.541)),
    ('highpass1(80)', lambda: pass1(True, 80)),
    ('lowpass1(5000)', lambda: pass1(False, 5000)),
    ('allpass2(700,2.5)', lambda: allpass2(700, 2.5)),
    ('allpass1(1200)', lambda: allpass1(1200)),
]

print('// filter_reference_test.cpp')
for name, run in CASES:
    coef, resp = run()
    print('    {"%s",' % name)
    print('     {%s},' % ', '.join('0x%08X' % bits(v) for v in coef))
    print('     {%s}},' % ', '.join('0x%08X' % bits(v) for v in resp))

def c_float(x):
    text = '%.9g' % f32(x)
    return text + ('f' if '.' in text or 'e' in text else '.0f')


print('// curves_test.cpp: fast_db_to_lin, then fast_log10')
for x in (-73.25, -6.0, 0.05, 11.9, 20.0):
    print('    {%s, 0x%08X},' % (c_float(x), bits(db_to_lin(x))))
for x in (1e-20, 0.001, 0.7071, 3.7, 12345.678):
    print('    {%s, 0x%08X},' % (c_float(x), bits(fast_log10(f32(x)))))
