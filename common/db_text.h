// The percent codec in which every label, name and description travels and
// is stored: UTF-8 text <-> ASCII with %XX and %uXXXX escapes.
#pragma once
#include <cstddef>
#include <string>
#include <string_view>

// Longest escape one input character can become ("%uXXXX").
constexpr size_t DB_TEXT_MAX_ESCAPE = 6;

// Encodes the UTF-8 text into out (out_size bytes, NUL-terminated). Stops
// before an escape that would not fit; never splits one. Returns the length.
size_t db_text_encode(char *out, size_t out_size, std::string_view text);

// Decodes the text in place (buffer of size bytes, NUL-terminated) into valid
// UTF-8; a result longer than the buffer is cut at a character boundary.
// Returns the new length.
size_t db_text_decode(char *text, size_t size);

std::string db_text_encode(std::string_view text);
std::string db_text_decode(std::string_view text);
