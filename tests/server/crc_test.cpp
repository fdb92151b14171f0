#include <gtest/gtest.h>

#include "crc.h"

TEST(Crc, StandardCheckValues)
{
    EXPECT_EQ(crc32("", 0), 0u);
    EXPECT_EQ(crc32("123456789", 9), 0xCBF43926u);
    EXPECT_EQ(crc8("", 0), 0xFF);
    EXPECT_EQ(crc8("123456789", 9), 0xD8);
    EXPECT_EQ(crc8("abc", 3), 0x14);
}

TEST(Crc, SingleBitChangesChecksum)
{
    uint8_t buf[64];
    for (int i = 0; i < 64; i++)
        buf[i] = (uint8_t)(i * 7);
    uint32_t a = crc32(buf, sizeof buf);
    uint8_t b = crc8(buf, sizeof buf);
    buf[17] ^= 0x10;
    EXPECT_NE(crc32(buf, sizeof buf), a);
    EXPECT_NE(crc8(buf, sizeof buf), b);
}
