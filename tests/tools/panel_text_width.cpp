// Reads texts, one a line, and prints for each the narrowest width (in
// pixels) that any of the panel's text faces gives it. A widget narrower
// than that cannot show the whole text, whatever face it uses; the panel
// sweep reads screen.txt and asks this tool.
#include <SDL/SDL_ttf.h>

#include <algorithm>
#include <climits>
#include <iostream>
#include <string>

#include "font.h"

int main()
{
    if (TTF_Init() != 0) {
        std::cerr << "panel_text_width: TTF_Init failed\n";
        return 1;
    }
    font_init();
    std::string line;
    while (std::getline(std::cin, line)) {
        int narrowest = INT_MAX;
        for (int f = 0; f < FONT_FIRST_SYMBOL; f++)
            if (font_get(f).font != nullptr)
                narrowest = std::min(narrowest, font_width(f, line.c_str()));
        std::cout << (narrowest == INT_MAX ? 0 : narrowest) << '\n' << std::flush;
    }
    return 0;
}
