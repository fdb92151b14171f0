#include <gtest/gtest.h>

#include <string>

#include "base64.h"
#include "sha1.h"

namespace {

std::string sha1_hex(const std::string &text)
{
    uint8_t d[SHA1_DIGEST_SIZE];
    sha1(text.data(), text.size(), d);
    std::string hex;
    char two[3];
    for (uint8_t byte : d) {
        snprintf(two, sizeof two, "%02x", byte);
        hex += two;
    }
    return hex;
}

std::string b64(const std::string &text)
{
    char out[64];
    base64_encode(text.data(), text.size(), out, sizeof out);
    return out;
}

}  // namespace

TEST(Sha1, FipsVectorsAndPaddingBoundaries)
{
    EXPECT_EQ(sha1_hex("abc"), "a9993e364706816aba3e25717850c26c9cd0d89d");
    EXPECT_EQ(sha1_hex("abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq"),
              "84983e441c3bd26ebaae4aa1f95129e5e54670f1");
    EXPECT_EQ(sha1_hex(std::string(1000000, 'a')), "34aa973cd4c4daa4f61eeb2bdbad27316534016f");
    EXPECT_EQ(sha1_hex(""), "da39a3ee5e6b4b0d3255bfef95601890afd80709");
    // 55 and 56 bytes: the length still fits in the last block, or no longer does.
    EXPECT_EQ(sha1_hex(std::string(55, 'a')), "c1c8bbdc22796e28c0e15163d20899b65621d65a");
    EXPECT_EQ(sha1_hex(std::string(56, 'a')), "c2db330f6083854c99d4b5bfb6e8f29f201be699");
    EXPECT_EQ(sha1_hex(std::string(64, 'a')), "0098ba824b5c16427bd7a1122a5a442a25ec644d");
}

TEST(Base64, RfcVectors)
{
    EXPECT_EQ(b64(""), "");
    EXPECT_EQ(b64("f"), "Zg==");
    EXPECT_EQ(b64("fo"), "Zm8=");
    EXPECT_EQ(b64("foo"), "Zm9v");
    EXPECT_EQ(b64("foob"), "Zm9vYg==");
    EXPECT_EQ(b64("fooba"), "Zm9vYmE=");
    EXPECT_EQ(b64("foobar"), "Zm9vYmFy");
    EXPECT_EQ(b64("\xff\xfe"), "//4=");  // the last two letters of the alphabet
    char small[4];
    EXPECT_EQ(base64_encode("foo", 3, small, sizeof small), 0u);  // no room for the NUL
    EXPECT_STREQ(small, "");
}

TEST(WebSocketAccept, RfcHandshakeExample)
{
    std::string text = "dGhlIHNhbXBsZSBub25jZQ==258EAFA5-E914-47DA-95CA-C5AB0DC85B11";
    uint8_t d[SHA1_DIGEST_SIZE];
    sha1(text.data(), text.size(), d);
    char out[32];
    EXPECT_EQ(base64_encode(d, sizeof d, out, sizeof out), 28u);
    EXPECT_STREQ(out, "s3pPLMBiTxaQ9kYGzzhZRbK+xOo=");
}
