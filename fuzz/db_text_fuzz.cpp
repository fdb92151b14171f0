// The percent codec both programs share: decoding gives valid UTF-8 and
// fits its buffer, encoding gives only plain characters and escapes and
// never splits an escape, and one round trip is stable.
#include <cstring>
#include <string>
#include <string_view>

#include "common/db_text.h"
#include "common/utf8.h"
#include "support/fuzz_root.h"

namespace {

bool valid_utf8(std::string_view s)
{
    size_t i = 0;
    while (i < s.size()) {
        size_t used;
        utf8_read((const unsigned char *)s.data() + i, s.size() - i, &used);
        if (used == 1 && (unsigned char)s[i] >= 0x80)
            return false;
        i += used;
    }
    return true;
}

bool encoded_chars_only(std::string_view s)
{
    for (char c : s)
        if (!((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || strchr("-._~%", c)))
            return false;
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    std::string_view text((const char *)data, size);

    std::string decoded = db_text_decode(text);
    FUZZ_CHECK(valid_utf8(decoded));
    // Texts are C strings: "%00" and "%u0000" must not put a NUL into one.
    if (text.find('\0') == std::string_view::npos)
        FUZZ_CHECK(decoded.find('\0') == std::string::npos);

    // In place, in buffers of every size up to the text's: a prefix of the
    // whole result, cut at a character boundary.
    size_t cap = size == 0 ? 1 : 1 + data[0] % (size + 1);
    std::string place(text.substr(0, cap - 1));
    place.resize(cap, '\0');
    size_t n = db_text_decode(place.data(), place.size());
    FUZZ_CHECK(n < cap && place[n] == '\0');
    FUZZ_CHECK(valid_utf8(std::string_view(place.data(), n)));

    std::string encoded = db_text_encode(text);
    FUZZ_CHECK(encoded_chars_only(encoded));
    std::string once = db_text_decode(encoded);
    FUZZ_CHECK(db_text_decode(db_text_encode(once)) == once);

    // Bounded: a prefix of the whole encoding that ends between escapes.
    std::string small(cap, '\xff');
    size_t m = db_text_encode(small.data(), small.size(), text);
    FUZZ_CHECK(m < cap && small[m] == '\0');
    FUZZ_CHECK(encoded.compare(0, m, small, 0, m) == 0);
    FUZZ_CHECK(m == encoded.size() || db_text_decode(std::string_view(small.data(), m)) ==
                                           db_text_decode(std::string_view(encoded.data(), m)));
    return 0;
}
