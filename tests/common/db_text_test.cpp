#include <gtest/gtest.h>

#include <cstring>

#include "common/db_text.h"
#include "common/utf8.h"

TEST(DbTextEncode, PlainAndEscaped)
{
    EXPECT_EQ(db_text_encode("a b"), "a%20b");
    EXPECT_EQ(db_text_encode("a\tb"), "a%20b");
    EXPECT_EQ(db_text_encode("a\nb"), "a%0Ab");
    EXPECT_EQ(db_text_encode("\xC3\xA9"), "%E9");          // e acute
    EXPECT_EQ(db_text_encode("\xE2\x82\xAC"), "%u20AC");   // euro sign
    EXPECT_EQ(db_text_encode("Az09-._~"), "Az09-._~");
    EXPECT_EQ(db_text_encode("a+b/c"), "a%2Bb%2Fc");
    EXPECT_EQ(db_text_encode("\xC2\xA0\xE2\x80\x83\xE3\x80\x80\xEF\xBB\xBF"), "%20%20%20%20");
    EXPECT_EQ(db_text_encode("x\xF0\x9F\x8E\xB5y"), "x%uFFFD%uFFFD%uFFFD%uFFFDy");  // four-byte form invalid
}

TEST(DbTextEncode, BoundedOutputNeverSplitsAnEscape)
{
    char out[8];
    EXPECT_EQ(db_text_encode(out, sizeof out, "ab\xE2\x82\xAC"), 2u);  // "%u20AC" does not fit behind "ab"
    EXPECT_STREQ(out, "ab");
    EXPECT_EQ(db_text_encode(out, sizeof out, "abc def"), 7u);
    EXPECT_STREQ(out, "abc%20d");
}

TEST(DbTextDecode, Escapes)
{
    EXPECT_EQ(db_text_decode("a%20b"), "a b");
    EXPECT_EQ(db_text_decode("%u20AC"), "\xE2\x82\xAC");
    EXPECT_EQ(db_text_decode("%u20ac"), "\xE2\x82\xAC");
    EXPECT_EQ(db_text_decode("%E9"), "\xC3\xA9");  // Latin-1 byte re-encoded
    EXPECT_EQ(db_text_decode("%C3%A9"), "\xC3\xA9");  // already UTF-8 stays
    EXPECT_EQ(db_text_decode("ab%zz"), "ab");
    EXPECT_EQ(db_text_decode("a%00b"), "ab");
    EXPECT_EQ(db_text_decode("x%4"), "x");
    EXPECT_EQ(db_text_decode("caf\xE9"), "caf\xC3\xA9");  // invalid raw byte as Latin-1
}

TEST(DbTextDecode, InPlaceBoundedAtCharacterBoundary)
{
    char buf[7];
    strcpy(buf, "%E9%E9");
    EXPECT_EQ(db_text_decode(buf, sizeof buf), 4u);
    EXPECT_STREQ(buf, "\xC3\xA9\xC3\xA9");
    char small[4] = "\xE9\xE9\xE9";  // grows to six bytes, cut after one character pair
    EXPECT_EQ(db_text_decode(small, sizeof small), 2u);
    EXPECT_STREQ(small, "\xC3\xA9");
}

TEST(DbText, RoundTrip)
{
    const char *texts[] = {"Main L/R", "Sub \xE2\x82\xAC 2", "Zoë\nline", "~tilde_"};
    for (const char *t : texts) {
        std::string enc = db_text_encode(t);
        for (char c : enc)
            EXPECT_TRUE(isalnum((unsigned char)c) || strchr("-._~%", c)) << enc;
        EXPECT_EQ(db_text_decode(enc), t);
    }
}

TEST(Utf8Read, ValidAndInvalidForms)
{
    size_t used;
    auto rd = [&](const char *s) { return utf8_read((const unsigned char *)s, strlen(s), &used); };
    EXPECT_EQ(rd("A"), 0x41u);
    EXPECT_EQ(used, 1u);
    EXPECT_EQ(rd("\xC3\xA9"), 0xE9u);
    EXPECT_EQ(used, 2u);
    EXPECT_EQ(rd("\xE2\x82\xAC"), 0x20ACu);
    EXPECT_EQ(used, 3u);
    EXPECT_EQ(rd("\xC0\x80"), UTF8_REPLACEMENT);  // overlong two-byte
    EXPECT_EQ(used, 1u);
    EXPECT_EQ(rd("\xE0\x80\x80"), UTF8_REPLACEMENT);  // overlong three-byte
    EXPECT_EQ(used, 1u);
    EXPECT_EQ(rd("\xF0\x9F\x8E\xB5"), UTF8_REPLACEMENT);
    EXPECT_EQ(used, 1u);
    EXPECT_EQ(rd("\x80"), UTF8_REPLACEMENT);
    EXPECT_EQ(utf8_read((const unsigned char *)"\xE2\x82", 2, &used), UTF8_REPLACEMENT);  // truncated
    EXPECT_EQ(used, 1u);
}
