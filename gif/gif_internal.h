// Helpers shared by the loader, the saver and the editing functions; not part of the C interface.
#pragma once

#include "gif/gif_image.h"

#include <gif_lib.h>
#include <memory>

namespace gif_detail {

// Only the first 256 palette entries can ever be written to a file, so matching looks no further.
constexpr int maxFileColors = 256;

// A deleter that frees with the given function, and the owning pointers built on it.
template <auto freeFunction> struct FreeWith {
    template <typename T> void operator()(T* object) const { freeFunction(object); }
};
using PalettePtr = std::unique_ptr<SDL_Palette, FreeWith<SDL_FreePalette>>;
using ImagePtr = std::unique_ptr<GIF_Image, FreeWith<GIF_FreeImage>>;
using FramePtr = std::unique_ptr<GIF_Frame, FreeWith<GIF_FreeFrame>>;
using ColorMapPtr = std::unique_ptr<ColorMapObject, FreeWith<GifFreeMapObject>>;

// giflib's decoder or encoder, closed with closeFunction; its error code after a close is of no
// use to anyone.
template <int (*closeFunction)(GifFileType*, int*)> struct CloseGif {
    void operator()(GifFileType* gif) const {
        int error = 0;
        closeFunction(gif, &error);
    }
};

// First of the palette's first 256 entries whose r, g and b equal the colour's; 0 when none.
Uint8 exactMatchIndex(const SDL_Palette* palette, SDL_Color color);
// Entry with the smallest |dr| + |dg| + |db|, the lower index on a tie; 0 for no colours.
Uint8 nearestIndex(const SDL_Palette* palette, Uint8 r, Uint8 g, Uint8 b);

} // namespace gif_detail
