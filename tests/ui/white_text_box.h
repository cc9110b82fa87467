#pragma once
#include <SDL.h>
#include <algorithm>

// Where text drawn in white landed in a picture: the smallest rectangle around the near-white
// pixels (every channel above 230) of the area looked at, and how many there are.
struct WhiteTextBox {
    int minX = 0;
    int maxX = -1; // below 0 when no pixel was near-white
    int minY = 0;
    int maxY = -1;
    int count = 0;
};

// pixelAt(x, y) gives the colour at (x, y) as anything with r, g and b members.
template <typename PixelAt> WhiteTextBox whiteTextBox(const SDL_Rect& area, PixelAt pixelAt) {
    WhiteTextBox box;
    box.minX = area.x + area.w;
    box.minY = area.y + area.h;
    for (int y = area.y; y < area.y + area.h; ++y) {
        for (int x = area.x; x < area.x + area.w; ++x) {
            const auto p = pixelAt(x, y);
            if (p.r > 230 && p.g > 230 && p.b > 230) {
                ++box.count;
                box.minX = std::min(box.minX, x);
                box.maxX = std::max(box.maxX, x);
                box.minY = std::min(box.minY, y);
                box.maxY = std::max(box.maxY, y);
            }
        }
    }
    return box;
}
