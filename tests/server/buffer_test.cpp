#include <gtest/gtest.h>

#include <string>

#include "buffer.h"
#include "support/process.h"

namespace {

std::string held(const buffer &b)
{
    return std::string(buffer_head(&b), b.size);
}

}  // namespace

TEST(Buffer, QueueKeepsOrderAcrossAppendAndSkip)
{
    buffer b{};
    ASSERT_EQ(buffer_append_string(&b, "hello "), 0);
    ASSERT_EQ(buffer_append(&b, "world\0!", 7), 0);  // bytes, NUL included
    EXPECT_EQ(held(b), std::string("hello world\0!", 13));
    buffer_skip(&b, 6);
    EXPECT_EQ(held(b), std::string("world\0!", 7));
    buffer_skip(&b, 7);
    EXPECT_EQ(b.size, 0u);
    EXPECT_EQ(b.pos, 0u);  // emptied: back to the start of the allocation
    buffer_free(&b);
    EXPECT_EQ(b.data, nullptr);
    EXPECT_EQ(b.alloc, 0u);
}

TEST(Buffer, ReserveMovesBeforeItGrowsAndGrowsExactly)
{
    buffer b{};
    ASSERT_EQ(buffer_reserve(&b, 16), 0);
    EXPECT_EQ(b.alloc, 16u);
    buffer_append_string(&b, "0123456789abcdef");
    buffer_skip(&b, 10);
    char *before = b.data;
    // 10 bytes are free only in front of the held ones: moved, not reallocated.
    ASSERT_EQ(buffer_reserve(&b, 10), 0);
    EXPECT_EQ(b.data, before);
    EXPECT_EQ(b.pos, 0u);
    EXPECT_EQ(held(b), "abcdef");
    EXPECT_GE(buffer_room(&b), 10u);
    // Not enough in total: exactly held + n.
    ASSERT_EQ(buffer_reserve(&b, 20), 0);
    EXPECT_EQ(b.alloc, 26u);
    EXPECT_EQ(held(b), "abcdef");
    EXPECT_EQ(buffer_reserve(&b, (size_t)-1), -1);  // cannot be had: held bytes untouched
    EXPECT_EQ(held(b), "abcdef");
    buffer_free(&b);
}

TEST(BufferDeathTest, SkippingMoreThanHeldIsAProgrammingError)
{
    GTEST_FLAG_SET(death_test_style, death_test_style_threadsafe());
    buffer b{};
    buffer_append_string(&b, "abc");
    EXPECT_DEATH(buffer_skip(&b, 4), "buffer.cpp: buffer_skip: assertion \"size <= buf->size\" failed");
    buffer_free(&b);
}
