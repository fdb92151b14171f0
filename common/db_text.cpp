#include "common/db_text.h"

#include <cstring>

#include "common/utf8.h"

namespace {

const char hex_digits[] = "0123456789ABCDEF";

bool is_plain(uint32_t cp)
{
    return (cp >= 'a' && cp <= 'z') || (cp >= 'A' && cp <= 'Z') || (cp >= '0' && cp <= '9') ||
           cp == '-' || cp == '.' || cp == '_' || cp == '~';
}

// White space that travels as a blank; line feed is kept as %0A.
bool is_blank(uint32_t cp)
{
    return cp == 0x09 || cp == 0x20 || cp == 0xA0 || (cp >= 0x2000 && cp <= 0x200B) ||
           cp == 0x2028 || cp == 0x2029 || cp == 0x3000 || cp == 0xFEFF;
}

int hex_value(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// Encodes one code point into esc, returns its length (0 when dropped).
size_t encode_one(uint32_t cp, char *esc)
{
    if (is_plain(cp)) {
        esc[0] = (char)cp;
        return 1;
    }
    if (is_blank(cp)) {
        memcpy(esc, "%20", 3);
        return 3;
    }
    if (cp <= 0xFF) {
        esc[0] = '%';
        esc[1] = hex_digits[cp >> 4];
        esc[2] = hex_digits[cp & 15];
        return 3;
    }
    if (cp <= 0xFFFF) {
        esc[0] = '%';
        esc[1] = 'u';
        for (int i = 0; i < 4; i++)
            esc[2 + i] = hex_digits[(cp >> (12 - 4 * i)) & 15];
        return 6;
    }
    return 0;
}

// First stage of decoding: escapes to raw bytes.
template <typename Sink>
void unescape(std::string_view in, Sink &&put)
{
    size_t i = 0;
    while (i < in.size()) {
        char c = in[i];
        if (c != '%') {
            put((unsigned char)c);
            i++;
            continue;
        }
        if (i + 5 < in.size() && in[i + 1] == 'u' && hex_value(in[i + 2]) >= 0 &&
            hex_value(in[i + 3]) >= 0 && hex_value(in[i + 4]) >= 0 && hex_value(in[i + 5]) >= 0) {
            uint32_t cp = 0;
            for (int k = 2; k < 6; k++)
                cp = cp << 4 | (uint32_t)hex_value(in[i + k]);
            char buf[3];
            size_t n = cp == 0 ? 0 : utf8_write(cp, buf);
            for (size_t k = 0; k < n; k++)
                put((unsigned char)buf[k]);
            i += 6;
            continue;
        }
        if (i + 2 < in.size() && hex_value(in[i + 1]) >= 0 && hex_value(in[i + 2]) >= 0) {
            int b = hex_value(in[i + 1]) << 4 | hex_value(in[i + 2]);
            if (b != 0)
                put((unsigned char)b);
            i += 3;
            continue;
        }
        return;  // a stray percent sign ends the text
    }
}

// Second stage: makes raw bytes valid UTF-8, taking stray bytes as Latin-1.
template <typename Sink>
void make_valid(const unsigned char *s, size_t n, Sink &&put)
{
    size_t i = 0;
    while (i < n) {
        size_t used;
        uint32_t cp = utf8_read(s + i, n - i, &used);
        if (used == 1 && s[i] >= 0x80) {
            cp = s[i];  // Latin-1
            used = 1;
        }
        char buf[3];
        size_t len = utf8_write(cp, buf);
        put(buf, len);
        i += used;
    }
}

}  // namespace

size_t db_text_encode(char *out, size_t out_size, std::string_view text)
{
    if (out_size == 0)
        return 0;
    size_t o = 0;
    const unsigned char *s = (const unsigned char *)text.data();
    size_t i = 0;
    while (i < text.size()) {
        size_t used;
        uint32_t cp = utf8_read(s + i, text.size() - i, &used);
        i += used;
        char esc[DB_TEXT_MAX_ESCAPE];
        size_t n = encode_one(cp, esc);
        if (o + n + 1 > out_size)
            break;
        memcpy(out + o, esc, n);
        o += n;
    }
    out[o] = 0;
    return o;
}

std::string db_text_encode(std::string_view text)
{
    std::string out(text.size() * DB_TEXT_MAX_ESCAPE + 1, '\0');
    out.resize(db_text_encode(out.data(), out.size(), text));
    return out;
}

std::string db_text_decode(std::string_view text)
{
    std::string raw;
    raw.reserve(text.size());
    unescape(text, [&](unsigned char b) { raw.push_back((char)b); });
    std::string out;
    out.reserve(raw.size() * 2);
    make_valid((const unsigned char *)raw.data(), raw.size(),
               [&](const char *p, size_t n) { out.append(p, n); });
    return out;
}

size_t db_text_decode(char *text, size_t size)
{
    if (size == 0)
        return 0;
    std::string out = db_text_decode(std::string_view(text, strnlen(text, size)));
    size_t n = out.size();
    if (n > size - 1) {
        n = size - 1;
        while (n > 0 && ((unsigned char)out[n] & 0xC0) == 0x80)
            n--;  // do not cut a character in two
    }
    memcpy(text, out.data(), n);
    text[n] = 0;
    return n;
}
