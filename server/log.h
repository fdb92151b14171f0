// Diagnostic lines of the server. Every line written to standard error goes
// through log_error so that prefix and text leave in one write and lines of
// different threads never interleave.
#pragma once
#include <cstdio>

// Writes the UTC time "%Y-%m-%d %H:%M:%S" and a blank to the stream.
void log_prefix(FILE *stream);

// One diagnostic line on standard error behind the time prefix. The format
// carries its own line end, as the messages are specified with it.
void log_error(const char *fmt, ...) __attribute__((format(printf, 1, 2)));

// A progress line on standard output, without prefix.
void log_output(const char *fmt, ...) __attribute__((format(printf, 1, 2)));

// Internal invariants: unlike assert() these stay on in release builds. A
// failure names the source file, the function and the expression, then aborts.
[[noreturn]] void log_assert_fail(const char *expr, const char *file, const char *func);
#define log_assert(expr) ((expr) ? (void)0 : log_assert_fail(#expr, __FILE__, __func__))
