#include "font.h"

#include <cmath>
#include <cstring>

#include "platform.h"

namespace {

std::array<font_entry, FONT_COUNT> g_fonts = {{
    {nullptr, "bold", &font_blob_bold, 16},
    {nullptr, "bold-italic", &font_blob_bold_italic, 14},
    {nullptr, "bold", &font_blob_bold, 12},
    {nullptr, "bold-italic", &font_blob_bold_italic, 12},
    {nullptr, "bold", &font_blob_bold, 24},
    {nullptr, "regular", &font_blob_regular, 16},
    {nullptr, "symbol", &font_blob_symbol, 12},
    {nullptr, "symbol", &font_blob_symbol, 16},
    {nullptr, "symbol", &font_blob_symbol, 20},
    {nullptr, "bold2", &font_blob_bold2, 24},
}};

constexpr std::array<SDL_Color, FONT_COLOUR_COUNT> colours = {{
    {0, 0, 0, 0},       {200, 200, 200, 0}, {160, 160, 160, 0}, {202, 125, 85, 0},  {150, 150, 150, 0},
    {0, 0, 207, 0},     {0, 0, 0, 0},       {110, 71, 80, 0},   {240, 240, 240, 0}, {0, 202, 24, 0},
    {160, 160, 160, 0}, {160, 160, 160, 0}, {160, 160, 160, 0}, {160, 160, 160, 0}, {160, 160, 160, 0},
    {224, 255, 255, 0}, {160, 160, 160, 0}, {0, 160, 0, 0},     {0, 160, 0, 0},     {0, 160, 0, 0},
    {168, 128, 76, 0},  {160, 160, 160, 0}, {77, 77, 77, 0},    {144, 144, 144, 0}, {160, 160, 160, 0},
    {0, 0, 160, 0},     {0, 128, 0, 0},     {23, 166, 23, 0},   {0, 255, 0, 0},     {148, 87, 107, 0},
    {0, 1, 0, 0},       {0, 23, 1, 0},
}};

TTF_Font *font_handle(int font)
{
    return font >= 0 && font < FONT_COUNT ? g_fonts[(size_t)font].font : nullptr;
}

// The lowest row of the image that holds a visible pixel, plus one: icons
// are placed by their visible height, not by the face's line height.
int visible_height(SDL_Surface *img)
{
    if (SDL_MUSTLOCK(img))
        SDL_LockSurface(img);
    int h = img->h;
    const SDL_PixelFormat *f = img->format;
    for (; h > 0; h--) {
        const auto *row = (const uint8_t *)img->pixels + (size_t)(h - 1) * img->pitch;
        bool seen = false;
        for (int x = 0; x < img->w && !seen; x++) {
            uint32_t px;
            memcpy(&px, row + (size_t)x * f->BytesPerPixel, sizeof px < f->BytesPerPixel ? sizeof px : f->BytesPerPixel);
            seen = f->Amask == 0 || (px & f->Amask) != 0;
        }
        if (seen)
            break;
    }
    if (SDL_MUSTLOCK(img))
        SDL_UnlockSurface(img);
    return h;
}

// Renders text; nullptr (with the caller's diagnostic) when that fails.
// *h gets the height used for placement.
sdl_surface_ptr render(int font, int colour, const char *text, const char *who, int *h)
{
    TTF_Font *f = font_handle(font);
    sdl_surface_ptr img;
    if (f != nullptr)
        img.reset(TTF_RenderUTF8_Blended(f, text, font_colour(colour)));
    if (!img) {
        platform_log("%s: got NULL\n", who);
        return img;
    }
    *h = font >= FONT_FIRST_SYMBOL ? visible_height(img.get()) : img->h;
    return img;
}

int place_x(SDL_Surface *s, int align, int x, int w)
{
    switch (align) {
    case FONT_RIGHT:
        return s->w - x - w;
    case FONT_CENTRE:
        return x - w / 2;
    default:
        return x;
    }
}

void blit(SDL_Surface *img, int w, int h, SDL_Surface *s, int x, int y)
{
    SDL_Rect src = {0, 0, (Uint16)w, (Uint16)h};
    SDL_Rect dst = {(Sint16)x, (Sint16)y, 0, 0};
    SDL_BlitSurface(img, &src, s, &dst);
}

bool nothing_to_draw(SDL_Surface *s, const char *text)
{
    return s == nullptr || text == nullptr || text[0] == 0;
}

}  // namespace

int font_point_size(int nominal)
{
    // Nominal size -> widget units -> pixels, as the widgets compute them.
    long long wu = nominal * 298 / 2, hu = nominal * 373 / 2;
    long long wp = (wu * 320 * 65536 + 10485760) >> 31;
    long long hp = (hu * 240 * 65536 + 7864320) >> 31;
    return (int)std::sqrt((double)(wp * hp));
}

SDL_Color font_colour(int index)
{
    return index >= 0 && index < FONT_COLOUR_COUNT ? colours[(size_t)index] : colours[0];
}

const font_entry &font_get(int index)
{
    return g_fonts[(size_t)(index >= 0 && index < FONT_COUNT ? index : 0)];
}

void font_init()
{
    for (font_entry &e : g_fonts) {
        if (e.font != nullptr)
            TTF_CloseFont(e.font);
        e.font = nullptr;
        SDL_RWops *rw = SDL_RWFromConstMem(e.blob->data, (int)e.blob->size);
        if (rw != nullptr)
            e.font = TTF_OpenFontRW(rw, 1, font_point_size(e.size));
        if (e.font == nullptr)
            platform_log("Error with built-in font: %s \n", SDL_GetError());
    }
}

int font_write(SDL_Surface *s, int font, int colour, int align, int x, int y, const char *text)
{
    if (nothing_to_draw(s, text))
        return 0;
    int h;
    sdl_surface_ptr img = render(font, colour, text, "font_write", &h);
    if (!img)
        return 0;
    int ty = y != 0 ? y : (s->h - h) / 2;
    blit(img.get(), img->w, h, s, place_x(s, align, x, img->w), ty);
    return img->w;
}

int font_writemid(SDL_Surface *s, int font, int colour, int align, int x, int y, int h, const char *text)
{
    if (nothing_to_draw(s, text))
        return 0;
    int th;
    sdl_surface_ptr img = render(font, colour, text, "font_writemid", &th);
    if (!img)
        return 0;
    blit(img.get(), img->w, th, s, place_x(s, align, x, img->w), y + (h - th) / 2);
    return img->w;
}

int font_writea(SDL_Surface *s, int font, int colour, int alpha, int align, int x, int y, const char *text)
{
    if (nothing_to_draw(s, text))
        return 0;
    int h;
    sdl_surface_ptr img = render(font, colour, text, "font_writea", &h);
    if (!img)
        return 0;
    int tx = place_x(s, align, x, img->w);
    int ty = y != 0 ? y : (s->h - h) / 2;
    int rx = tx < 0 ? 0 : tx;
    int rw = img->w - (rx - tx);
    if (rw > 0 && h > 0) {
        sdl_surface_ptr shade(SDL_CreateRGBSurface(SDL_SWSURFACE, rw, h, 24, 0, 0, 0, 0));
        if (shade) {
            SDL_FillRect(shade.get(), nullptr, 0);
            SDL_SetAlpha(shade.get(), SDL_SRCALPHA, (Uint8)alpha);
            blit(shade.get(), rw, h, s, rx, ty);
        }
    }
    blit(img.get(), img->w, h, s, tx, ty);
    return img->w;
}

int font_writewh(SDL_Surface *s, int font, int colour, int align, int x, int y, int w, int h, const char *text)
{
    if (nothing_to_draw(s, text) || w <= 0)
        return 0;
    int th;
    sdl_surface_ptr img = render(font, colour, text, "font_writewh", &th);
    if (!img)
        return 0;
    // The box the text may cover, placed as the text itself would be.
    int bx = place_x(s, align, x, w);
    int ty = h > 0 ? y + (h - th) / 2 : (y != 0 ? y : (s->h - th) / 2);
    SDL_Rect old;
    SDL_GetClipRect(s, &old);
    SDL_Rect box = {(Sint16)bx, (Sint16)(h > 0 ? y : ty), (Uint16)w, (Uint16)(h > 0 ? h : th)};
    SDL_SetClipRect(s, &box);
    int tx = align == FONT_RIGHT ? bx + w - img->w : align == FONT_CENTRE ? x - img->w / 2 : bx;
    blit(img.get(), img->w, th, s, tx, ty);
    SDL_SetClipRect(s, &old);
    return img->w < w ? img->w : w;
}

int font_writewhrot(SDL_Surface *s, int font, int colour, int align, int x, int y, const char *text)
{
    if (nothing_to_draw(s, text))
        return 0;
    int th;
    sdl_surface_ptr img = render(font, colour, text, "font_writewhrot", &th);
    if (!img)
        return 0;
    int w = img->w;
    sdl_surface_ptr rot(SDL_CreateRGBSurface(SDL_SWSURFACE | SDL_SRCALPHA, th, w, 32, img->format->Rmask,
                                             img->format->Gmask, img->format->Bmask, img->format->Amask));
    if (!rot) {
        platform_log("font_writewhrot: got NULL\n");
        return 0;
    }
    SDL_LockSurface(img.get());
    SDL_LockSurface(rot.get());
    // (px, py) of the text goes to (py, w - 1 - px): the text reads upwards.
    for (int py = 0; py < th; py++) {
        const auto *src = (const uint32_t *)((const uint8_t *)img->pixels + (size_t)py * img->pitch);
        for (int px = 0; px < w; px++) {
            auto *dst = (uint32_t *)((uint8_t *)rot->pixels + (size_t)(w - 1 - px) * rot->pitch);
            dst[py] = src[px];
        }
    }
    SDL_UnlockSurface(rot.get());
    SDL_UnlockSurface(img.get());
    int ty = align == FONT_RIGHT ? s->h - y - w : align == FONT_CENTRE ? y - w / 2 : y;
    blit(rot.get(), th, w, s, x, ty);
    return w;
}

int font_width(int font, const char *text)
{
    TTF_Font *f = font_handle(font);
    int w = 0, h = 0;
    if (f == nullptr || text == nullptr || text[0] == 0 || TTF_SizeUTF8(f, text, &w, &h) != 0)
        return 0;
    return w;
}

int font_height(int font, const char *text)
{
    TTF_Font *f = font_handle(font);
    int w = 0, h = 0;
    if (f == nullptr || text == nullptr || text[0] == 0 || TTF_SizeUTF8(f, text, &w, &h) != 0)
        return 0;
    return h;
}
