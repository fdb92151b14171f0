// The bounded text buffer every report line is appended to, and the fields
// of those lines written without the printf family: the device has no
// floating-point unit, and printf's "%f" is the costliest part of a pass.
// The number routines give exactly printf's text for their format ("%d",
// "%u", "%x", "%W.Df" with D up to 3), including its rounding (the exact
// binary value, ties to even), the sign of negative zero, "inf" and "nan".
#pragma once
#include <cstddef>
#include <cstdint>

// A text buffer being filled: buf holds len bytes plus a terminating NUL.
struct report_writer {
    char *buf;
    size_t size;
    size_t len;
};

// Starts an empty text in buf (size > 0).
void report_writer_init(report_writer *w, char *buf, size_t size);

// Appends n bytes, or what fits of them.
void report_writer_bytes(report_writer *w, const char *s, size_t n);

// printf into the space left; output that does not fit is cut. For the
// formats the fields below do not cover.
void report_format_append(report_writer *w, const char *fmt, ...) __attribute__((format(printf, 2, 3)));

// ---- numbers into a character array (no NUL); each returns the length ----

// "%W.Df" of the largest double: 309 integer digits, sign, point, decimals.
constexpr size_t REPORT_NUMBER_MAX = 320;
constexpr int REPORT_FIXED_DECIMALS_MAX = 3;

size_t report_number_int(char *out, int32_t v);    // "%d"
size_t report_number_uint(char *out, uint32_t v);  // "%u"
size_t report_number_hex(char *out, uint32_t v);   // "%x"
// "%W.Df" (width W, D decimals, 0 <= D <= REPORT_FIXED_DECIMALS_MAX).
size_t report_number_fixed(char *out, double v, int width, int decimals);
// A curve value: value times 10 (in single precision) rounded to the
// nearest integer, ties to even, then written with one decimal and no sign
// on zero ("0.0", "-0.5", "12.3"); NaN gives "0.0", values beyond
// +-99999999.9 are held there. At most 16 bytes.
size_t report_number_tenths(char *out, float v);

// ---- fields of a report line ----

struct report_fixed {  // "%W.Df"
    double v;
    int width, decimals;
};
inline report_fixed report_f21(double v) { return {v, 2, 1}; }  // "%2.1f": gains, times, q
inline report_fixed report_f20(double v) { return {v, 2, 0}; }  // "%2.0f": frequencies
inline report_fixed report_f12(double v) { return {v, 1, 2}; }  // "%1.2f": delays, temperatures

struct report_text {  // "%s", "%.*s"
    const char *s;
    size_t n;
};

struct report_hex {  // "%x"
    uint32_t v;
};

void report_put(report_writer *w, int32_t v);
void report_put(report_writer *w, uint32_t v);
void report_put(report_writer *w, report_hex v);
void report_put(report_writer *w, const report_fixed &v);
void report_put(report_writer *w, const report_text &v);

// Fields separated by commas, without the line end.
template <typename First, typename... Rest>
void report_fields(report_writer *w, const First &first, const Rest &...rest)
{
    report_put(w, first);
    ((report_writer_bytes(w, ",", 1), report_put(w, rest)), ...);
}

// One line: the fields separated by commas, then "\n".
template <typename... Fields>
void report_line(report_writer *w, const Fields &...fields)
{
    report_fields(w, fields...);
    report_writer_bytes(w, "\n", 1);
}
