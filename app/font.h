// The panel's built-in fonts and the functions that draw all of its text.
// The font files are embedded at build time (font_data.cpp is generated);
// SDL_ttf opens them from memory.
#pragma once
#include <SDL.h>
#include <SDL_ttf.h>
#include <array>
#include <cstddef>
#include <memory>

// Owns an SDL surface (the panel's surfaces are freed exactly once).
struct sdl_surface_free {
    void operator()(SDL_Surface *s) const { SDL_FreeSurface(s); }
};
using sdl_surface_ptr = std::unique_ptr<SDL_Surface, sdl_surface_free>;

struct font_blob {
    const unsigned char *data;
    size_t size;
};

// The embedded faces: bold, bold-italic and regular sans-serif, the
// pictogram face and a second (condensed) bold sans-serif.
extern const font_blob font_blob_bold, font_blob_bold_italic, font_blob_regular, font_blob_symbol, font_blob_bold2;

constexpr int FONT_COUNT = 10;
constexpr int FONT_COLOUR_COUNT = 32;
// Indexes from this one on are pictogram faces (icons).
constexpr int FONT_FIRST_SYMBOL = 6;

struct font_entry {
    TTF_Font *font;
    const char *name;
    const font_blob *blob;
    int size;  // nominal size, see font_point_size
};

// Alignment of the font_write family.
enum font_align { FONT_LEFT = 0, FONT_RIGHT = 1, FONT_CENTRE = 2 };

// The nominal size turned into a point size through the widget geometry of
// the 320 x 240 screen: 16 -> 21, 14 -> 19, 12 -> 16, 24 -> 32, 20 -> 27.
int font_point_size(int nominal);

// The panel's colour table (index 0..31); an index outside gives colour 0.
SDL_Color font_colour(int index);

// The font table; entries whose face failed to open have font == nullptr.
const font_entry &font_get(int index);

// Opens (or reopens) all ten fonts. Needs TTF_Init.
void font_init();

// Renders text and blits it at y (centred vertically when y is 0), the x
// placement by align: left edge at x, right edge x pixels from the
// surface's right edge, or centred on x. Returns the text width, 0 when
// nothing was drawn.
int font_write(SDL_Surface *s, int font, int colour, int align, int x, int y, const char *text);
// As font_write, vertically centred in the band y .. y + h.
int font_writemid(SDL_Surface *s, int font, int colour, int align, int x, int y, int h, const char *text);
// Darkens the text's rectangle with black at alpha first.
int font_writea(SDL_Surface *s, int font, int colour, int alpha, int align, int x, int y, const char *text);
// Clipped to width w and, when h > 0, centred in and clipped to height h.
int font_writewh(SDL_Surface *s, int font, int colour, int align, int x, int y, int w, int h, const char *text);
// Turned a quarter turn counter-clockwise (reads bottom to top); x is the
// left edge, align places it vertically: top at y, bottom y pixels above the
// surface's bottom, or centred on y.
int font_writewhrot(SDL_Surface *s, int font, int colour, int align, int x, int y, const char *text);

int font_width(int font, const char *text);
int font_height(int font, const char *text);
