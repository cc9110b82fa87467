// Helpers shared by the loader, the saver and the editing functions; not part of the C interface.
#pragma once

#include "gif/gif_image.h"

#include <gif_lib.h>
#include <memory>

namespace gif_detail {

// Only the first 256 palette entries can ever be written to a file, so matching looks no further.
constexpr int maxFileColors = 256;

struct PaletteDeleter {
    void operator()(SDL_Palette* palette) const { SDL_FreePalette(palette); }
};
struct ImageDeleter {
    void operator()(GIF_Image* image) const { GIF_FreeImage(image); }
};
struct FrameDeleter {
    void operator()(GIF_Frame* frame) const { GIF_FreeFrame(frame); }
};
struct ColorMapDeleter {
    void operator()(ColorMapObject* map) const { GifFreeMapObject(map); }
};

using PalettePtr = std::unique_ptr<SDL_Palette, PaletteDeleter>;
using ImagePtr = std::unique_ptr<GIF_Image, ImageDeleter>;
using FramePtr = std::unique_ptr<GIF_Frame, FrameDeleter>;
using ColorMapPtr = std::unique_ptr<ColorMapObject, ColorMapDeleter>;

// First of the palette's first 256 entries whose r, g and b equal the colour's; 0 when none.
Uint8 exactMatchIndex(const SDL_Palette* palette, SDL_Color color);
// Entry with the smallest |dr| + |dg| + |db|, the lower index on a tie; 0 for no colours.
Uint8 nearestIndex(const SDL_Palette* palette, Uint8 r, Uint8 g, Uint8 b);

} // namespace gif_detail
