// UTF-8 reading shared by the percent codec and the configuration parser.
#pragma once
#include <cstddef>
#include <cstdint>

constexpr uint32_t UTF8_REPLACEMENT = 0xFFFD;

// Reads one code point from s (n bytes available, n >= 1). Sequences of one
// to three bytes are accepted; overlong and four-byte forms are invalid. An
// invalid position yields U+FFFD and consumes one byte. *used gets the number
// of bytes consumed.
uint32_t utf8_read(const unsigned char *s, size_t n, size_t *used);

// Writes the UTF-8 form of cp (at most U+FFFF) into out, returns its length (1 to 3).
size_t utf8_write(uint32_t cp, char *out);

// Unicode simple upper-case form of a code point of the Basic Multilingual
// Plane (UnicodeData.txt); code points without one map to themselves.
uint32_t utf8_upper(uint32_t cp);
