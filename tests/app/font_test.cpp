// The built-in fonts: sizes, colours, placement and the empty text.
#include <gtest/gtest.h>

#include "app_test.h"
#include "font.h"

namespace {

sdl_surface_ptr blank(int w, int h)
{
    sdl_surface_ptr s(SDL_CreateRGBSurface(SDL_SWSURFACE, w, h, 24, 0xFF0000, 0x00FF00, 0x0000FF, 0));
    SDL_FillRect(s.get(), nullptr, 0);
    return s;
}

// The first and last columns and rows that are not black.
SDL_Rect inked(SDL_Surface *s)
{
    int x1 = s->w, y1 = s->h, x2 = -1, y2 = -1;
    for (int y = 0; y < s->h; y++)
        for (int x = 0; x < s->w; x++)
            if (app_test_pixel(s, x, y) != 0) {
                x1 = std::min(x1, x);
                x2 = std::max(x2, x);
                y1 = std::min(y1, y);
                y2 = std::max(y2, y);
            }
    return {(Sint16)x1, (Sint16)y1, (Uint16)(x2 - x1 + 1), (Uint16)(y2 - y1 + 1)};
}

TEST(Font, PointSizesFollowTheScreenGeometry)
{
    EXPECT_EQ(font_point_size(16), 21);
    EXPECT_EQ(font_point_size(14), 19);
    EXPECT_EQ(font_point_size(12), 16);
    EXPECT_EQ(font_point_size(24), 32);
    EXPECT_EQ(font_point_size(20), 27);
}

TEST(Font, AllTenFontsOpenFromTheEmbeddedFiles)
{
    for (int i = 0; i < FONT_COUNT; i++)
        EXPECT_NE(font_get(i).font, nullptr) << i;
    EXPECT_GT(font_blob_bold.size, 100000u);
    EXPECT_GT(font_blob_symbol.size, 50000u);
    // Bigger nominal size, taller text.
    EXPECT_GT(font_height(4, "A"), font_height(0, "A"));
    EXPECT_GT(font_height(0, "A"), font_height(2, "A"));
}

TEST(Font, ColourTable)
{
    SDL_Color c = font_colour(3);
    EXPECT_EQ((int)c.r, 202);
    EXPECT_EQ((int)c.g, 125);
    EXPECT_EQ((int)c.b, 85);
    c = font_colour(31);
    EXPECT_EQ((int)c.g, 23);
    c = font_colour(99);  // outside: black
    EXPECT_EQ(c.r + c.g + c.b, 0);
}

TEST(Font, EmptyTextDrawsNothing)
{
    sdl_surface_ptr s = blank(100, 40);
    EXPECT_EQ(font_write(s.get(), 0, 8, FONT_LEFT, 0, 0, ""), 0);
    EXPECT_EQ(font_write(s.get(), 0, 8, FONT_LEFT, 0, 0, nullptr), 0);
    EXPECT_EQ(font_writea(s.get(), 0, 8, 128, FONT_LEFT, 0, 0, ""), 0);
    EXPECT_EQ(font_width(0, ""), 0);
    EXPECT_EQ(app_test_pixel(s.get(), 50, 20), 0u);
    SDL_Rect r = inked(s.get());
    EXPECT_EQ(r.x, 100);  // nothing inked
}

TEST(Font, RightAlignmentMeasuresFromTheRightEdge)
{
    sdl_surface_ptr s = blank(200, 40);
    int w = font_write(s.get(), 0, 8, FONT_RIGHT, 5, 0, "II");
    EXPECT_EQ(w, font_width(0, "II"));
    SDL_Rect r = inked(s.get());
    // The text box ends 5 pixels from the edge; the glyphs sit inside it.
    EXPECT_LE(r.x + r.w, 200 - 5);
    EXPECT_GE(r.x + r.w, 200 - 5 - 4);
    EXPECT_GE(r.x, 200 - 5 - w);
}

TEST(Font, CentredAndVerticalPlacement)
{
    sdl_surface_ptr s = blank(200, 60);
    font_write(s.get(), 0, 8, FONT_CENTRE, 100, 0, "HHHH");
    SDL_Rect r = inked(s.get());
    EXPECT_NEAR(r.x + r.w / 2, 100, 3);
    EXPECT_NEAR(r.y + r.h / 2, 30, 4);  // y 0: centred in the surface
    sdl_surface_ptr t = blank(200, 60);
    font_writemid(t.get(), 0, 8, FONT_LEFT, 0, 40, 20, "HHHH");
    SDL_Rect m = inked(t.get());
    EXPECT_GE(m.y, 40);
    EXPECT_LE(m.y + m.h, 60);
}

TEST(Font, ClippedAndRotatedText)
{
    sdl_surface_ptr s = blank(200, 60);
    font_writewh(s.get(), 0, 8, FONT_LEFT, 10, 0, 20, 30, "HHHHHHHHHH");
    SDL_Rect r = inked(s.get());
    EXPECT_GE(r.x, 10);
    EXPECT_LE(r.x + r.w, 30);
    EXPECT_LE(r.y + r.h, 30);
    sdl_surface_ptr v = blank(60, 200);
    int w = font_writewhrot(v.get(), 0, 8, FONT_LEFT, 5, 10, "HHHHHH");
    SDL_Rect q = inked(v.get());
    EXPECT_GT(q.h, q.w);  // standing upright
    EXPECT_GE(q.y, 10);
    EXPECT_LE(q.y + q.h, 10 + w);
}

TEST(Font, IconsArePlacedByTheirVisibleHeight)
{
    // A pictogram centred in a band: its inked rows sit in the middle.
    sdl_surface_ptr s = blank(60, 60);
    font_write(s.get(), 7, 8, FONT_CENTRE, 30, 0, "\uF023");
    SDL_Rect r = inked(s.get());
    ASSERT_GT(r.h, 5);
    EXPECT_LT(r.y, 30);
    EXPECT_GT(r.y + r.h, 30);
}

}  // namespace
