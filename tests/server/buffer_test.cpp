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

TEST(Buffer, ReserveMovesWhenTheDroppedFrontPaysForIt)
{
    buffer b{};
    ASSERT_EQ(buffer_reserve(&b, 16), 0);
    EXPECT_EQ(b.alloc, BUFFER_MIN_ALLOC);
    std::string text(BUFFER_MIN_ALLOC, 'x');
    text.replace(text.size() - 6, 6, "abcdef");
    buffer_append(&b, text.data(), text.size());
    buffer_skip(&b, text.size() - 6);
    char *before = b.data;
    // Room only in front of the held bytes, and more dropped than held: moved.
    ASSERT_EQ(buffer_reserve(&b, 10), 0);
    EXPECT_EQ(b.data, before);
    EXPECT_EQ(b.pos, 0u);
    EXPECT_EQ(held(b), "abcdef");
    EXPECT_GE(buffer_room(&b), 10u);
    EXPECT_EQ(buffer_reserve(&b, (size_t)-1), BUFFER_NO_MEMORY);  // cannot be had: held bytes untouched
    EXPECT_EQ(held(b), "abcdef");
    buffer_free(&b);
}

TEST(Buffer, GrowsGeometricallyNotByTheMissingBytes)
{
    // A queue fed in small pieces while its front is taken in small pieces:
    // few allocations, and every byte arrives in order.
    buffer b{};
    int allocations = 0;
    size_t last_alloc = 0;
    std::string out;
    for (int i = 0; i < 200000; i++) {
        char c = (char)('a' + i % 26);
        ASSERT_EQ(buffer_append(&b, &c, 1), 0);
        if (b.alloc != last_alloc) {
            EXPECT_GE(b.alloc, 2 * last_alloc);
            allocations++;
            last_alloc = b.alloc;
        }
        if (i % 3 == 0) {
            out.push_back(buffer_head(&b)[0]);
            buffer_skip(&b, 1);
        }
    }
    EXPECT_LE(allocations, 12);
    out.append(buffer_head(&b), b.size);
    ASSERT_EQ(out.size(), 200000u);
    for (size_t i = 0; i < out.size(); i++)
        ASSERT_EQ(out[i], (char)('a' + i % 26)) << i;
    buffer_free(&b);
}

TEST(Buffer, LimitRefusesThePieceThatWouldPassIt)
{
    buffer b{};
    b.limit = 1000;
    std::string piece(600, 'p');
    ASSERT_EQ(buffer_append(&b, piece.data(), piece.size()), BUFFER_OK);
    EXPECT_EQ(buffer_headroom(&b), 400u);
    EXPECT_EQ(buffer_append(&b, piece.data(), 401), BUFFER_FULL);
    EXPECT_EQ(buffer_reserve(&b, 401), BUFFER_FULL);
    EXPECT_EQ(held(b), piece);  // nothing of the refused piece
    ASSERT_EQ(buffer_append(&b, piece.data(), 400), BUFFER_OK);
    EXPECT_EQ(b.size, 1000u);
    EXPECT_LE(b.alloc, 1000u);  // growth stops at the limit
    // Taken from the front, the same bytes fit again in the same allocation.
    char *data = b.data;
    buffer_skip(&b, 300);
    ASSERT_EQ(buffer_append(&b, piece.data(), 300), BUFFER_OK);
    EXPECT_EQ(b.data, data);
    EXPECT_EQ(b.size, 1000u);
    buffer_free(&b);
    EXPECT_EQ(b.limit, 0u);
}

TEST(BufferDeathTest, SkippingMoreThanHeldIsAProgrammingError)
{
    GTEST_FLAG_SET(death_test_style, death_test_style_threadsafe());
    buffer b{};
    buffer_append_string(&b, "abc");
    EXPECT_DEATH(buffer_skip(&b, 4), "buffer.cpp: buffer_skip: assertion \"size <= buf->size\" failed");
    buffer_free(&b);
}
