// Creating, editing and releasing images, frames and palettes.
#include "gif/gif_image.h"
#include "gif/gif_internal.h"

#include <cstring>

namespace {

constexpr Uint32 frameArrayGrowth = 10;
constexpr Uint16 maxFrames = 0xFFFF;
constexpr int defaultFrameDelay = 100;

// Makes room for one more frame; false (image unchanged) when the count is at its 16-bit limit
// or the larger array cannot be allocated, so a full image never loses or corrupts a frame.
bool makeRoomForOneMore(GIF_Image* image) {
    if (image->frameCount == maxFrames) {
        return false;
    }
    if (image->frameCapacity > image->frameCount) {
        return true;
    }
    const Uint32 capacity = image->frameCapacity + frameArrayGrowth;
    auto** grown = static_cast<GIF_Frame**>(SDL_calloc(capacity, sizeof(GIF_Frame*)));
    if (grown == nullptr) {
        return false;
    }
    if (image->frames != nullptr) {
        std::memcpy(grown, image->frames, image->frameCount * sizeof(GIF_Frame*));
    }
    SDL_free(static_cast<void*>(image->frames));
    image->frames = grown;
    image->frameCapacity = capacity;
    return true;
}

// Takes the frame at index out of the array and closes the gap.
GIF_Frame* takeFrameOut(GIF_Image* image, Uint16 index) {
    GIF_Frame* frame = image->frames[index];
    std::memmove(&image->frames[index], &image->frames[index + 1],
                 (image->frameCount - index - 1) * sizeof(GIF_Frame*));
    --image->frameCount;
    image->frames[image->frameCount] = nullptr;
    return frame;
}

GIF_Frame* allocateFrame() {
    auto* frame = static_cast<GIF_Frame*>(SDL_calloc(1, sizeof(GIF_Frame)));
    if (frame != nullptr) {
        frame->delay = defaultFrameDelay;
    }
    return frame;
}

// A frame's transparent pixels are those of color or those of index, at most one of the two;
// neither turns transparency off.
void markTransparent(GIF_Frame* frame, const SDL_Color* color, const Uint8* index) {
    if (frame == nullptr) {
        return;
    }
    frame->transparentByColor = color != nullptr ? 1 : 0;
    frame->transparentByIndex = index != nullptr ? 1 : 0;
    if (color != nullptr) {
        frame->transparentColor = *color;
    }
    if (index != nullptr) {
        frame->transparentIndex = *index;
    }
}

} // namespace

extern "C" {

void GIF_FreeFrame(GIF_Frame* frame) {
    if (frame == nullptr) {
        return;
    }
    SDL_FreePalette(frame->localPalette);
    frame->localPalette = nullptr;
    if (frame->ownsSurface != 0) {
        SDL_FreeSurface(frame->surface);
    }
    frame->surface = nullptr;
    SDL_free(frame->indexedPixels);
    frame->indexedPixels = nullptr;
    SDL_free(frame);
}

void GIF_FreeImage(GIF_Image* image) {
    if (image == nullptr) {
        return;
    }
    SDL_FreePalette(image->globalPalette);
    image->globalPalette = nullptr;
    for (Uint16 i = 0; i < image->frameCount && image->frames != nullptr; ++i) {
        GIF_FreeFrame(image->frames[i]);
        image->frames[i] = nullptr;
    }
    SDL_free(static_cast<void*>(image->frames));
    image->frames = nullptr;
    for (Uint16 i = 0; i < image->extraBlockCount && image->extraBlocks != nullptr; ++i) {
        SDL_free(image->extraBlocks[i]);
        image->extraBlocks[i] = nullptr;
    }
    SDL_free(static_cast<void*>(image->extraBlocks));
    image->extraBlocks = nullptr;
    SDL_free(image);
}

GIF_Image* GIF_CreateImage(void) {
    auto* image = static_cast<GIF_Image*>(SDL_calloc(1, sizeof(GIF_Image)));
    if (image != nullptr) {
        image->backgroundColor = SDL_Color{0, 0, 0, 255};
    }
    return image;
}

void GIF_SetCanvasSize(GIF_Image* image, Uint16 width, Uint16 height) {
    if (image == nullptr) {
        return;
    }
    image->width = width;
    image->height = height;
}

void GIF_SetBackgroundColor(GIF_Image* image, SDL_Color color) {
    if (image == nullptr) {
        return;
    }
    image->backgroundIsColor = 1;
    image->backgroundColor = color;
}

void GIF_SetBackgroundIndex(GIF_Image* image, Uint8 index) {
    if (image == nullptr) {
        return;
    }
    image->backgroundIsColor = 0;
    image->backgroundIndex = index;
}

void GIF_SetLooping(GIF_Image* image, Uint16 count) {
    if (image != nullptr) {
        image->loopCount = count;
    }
}

void GIF_SetGlobalPalette(GIF_Image* image, SDL_Palette* palette) {
    // Handing back the palette already held must not free it under the image.
    if (image == nullptr || image->globalPalette == palette) {
        return;
    }
    SDL_FreePalette(image->globalPalette);
    image->globalPalette = palette;
}

SDL_Palette* GIF_CreatePalette(int count, const SDL_Color* colors) {
    if (count < 1 || colors == nullptr) {
        return nullptr;
    }
    SDL_Palette* palette = SDL_AllocPalette(count);
    if (palette != nullptr) {
        std::memcpy(palette->colors, colors, static_cast<size_t>(count) * sizeof(SDL_Color));
    }
    return palette;
}

SDL_Palette* GIF_CreateBasicPalette(void) {
    SDL_Palette* palette = SDL_AllocPalette(256);
    if (palette == nullptr) {
        return nullptr;
    }
    for (int i = 0; i < 256; ++i) {
        const auto level = static_cast<Uint8>(i);
        palette->colors[i] = SDL_Color{level, level, level, 255};
    }
    return palette;
}

SDL_Palette* GIF_CopyPalette(const SDL_Palette* palette) {
    if (palette == nullptr) {
        return nullptr;
    }
    return GIF_CreatePalette(palette->ncolors, palette->colors);
}

GIF_Frame* GIF_CreateFrame(SDL_Surface* surface, int ownsSurface) {
    GIF_Frame* frame = allocateFrame();
    if (frame == nullptr) {
        return nullptr;
    }
    frame->surface = surface;
    frame->ownsSurface = ownsSurface;
    if (surface != nullptr) {
        frame->width = static_cast<Uint16>(surface->w);
        frame->height = static_cast<Uint16>(surface->h);
    }
    return frame;
}

GIF_Frame* GIF_CreateFrameIndexed(Uint16 width, Uint16 height, const Uint8* indices) {
    gif_detail::FramePtr frame{allocateFrame()};
    if (!frame) {
        return nullptr;
    }
    frame->width = width;
    frame->height = height;
    const size_t size = static_cast<size_t>(width) * height;
    if (indices == nullptr || size == 0) {
        return frame.release();
    }
    frame->indexedPixels = static_cast<Uint8*>(SDL_malloc(size));
    if (frame->indexedPixels == nullptr) {
        return nullptr;
    }
    std::memcpy(frame->indexedPixels, indices, size);
    return frame.release();
}

void GIF_AddFrame(GIF_Image* image, GIF_Frame* frame) {
    if (image == nullptr || frame == nullptr || !makeRoomForOneMore(image)) {
        return;
    }
    image->frames[image->frameCount] = frame;
    ++image->frameCount;
}

void GIF_InsertFrame(GIF_Image* image, GIF_Frame* frame, Uint16 index) {
    if (image == nullptr || frame == nullptr || index >= image->frameCount ||
        !makeRoomForOneMore(image)) {
        return;
    }
    std::memmove(&image->frames[index + 1], &image->frames[index],
                 (image->frameCount - index) * sizeof(GIF_Frame*));
    image->frames[index] = frame;
    ++image->frameCount;
}

GIF_Frame* GIF_RemoveFrame(GIF_Image* image, Uint16 index) {
    if (image == nullptr || index >= image->frameCount) {
        return nullptr;
    }
    return takeFrameOut(image, index);
}

void GIF_DeleteFrame(GIF_Image* image, Uint16 index) {
    GIF_FreeFrame(GIF_RemoveFrame(image, index));
}

void GIF_SetLocalPalette(GIF_Frame* frame, SDL_Palette* palette) {
    if (frame == nullptr || frame->localPalette == palette) {
        return;
    }
    SDL_FreePalette(frame->localPalette);
    frame->localPalette = palette;
}

void GIF_SetDelay(GIF_Frame* frame, int milliseconds) {
    if (frame != nullptr) {
        frame->delay = milliseconds;
    }
}

void GIF_SetTransparentColor(GIF_Frame* frame, SDL_Color color) {
    markTransparent(frame, &color, nullptr);
}

void GIF_SetTransparentIndex(GIF_Frame* frame, Uint8 index) {
    markTransparent(frame, nullptr, &index);
}

void GIF_UnsetTransparency(GIF_Frame* frame) {
    markTransparent(frame, nullptr, nullptr);
}

void GIF_SetDisposal(GIF_Frame* frame, int value) {
    if (frame != nullptr) {
        frame->disposal = value;
    }
}

} // extern "C"

namespace gif_detail {

Uint8 exactMatchIndex(const SDL_Palette* palette, SDL_Color color) {
    if (palette == nullptr) {
        return 0;
    }
    const int count = SDL_min(palette->ncolors, maxFileColors);
    for (int i = 0; i < count; ++i) {
        const SDL_Color& entry = palette->colors[i];
        if (entry.r == color.r && entry.g == color.g && entry.b == color.b) {
            return static_cast<Uint8>(i);
        }
    }
    return 0;
}

Uint8 nearestIndex(const SDL_Palette* palette, Uint8 r, Uint8 g, Uint8 b) {
    if (palette == nullptr) {
        return 0;
    }
    const int count = SDL_min(palette->ncolors, maxFileColors);
    int best = 0;
    int bestDistance = INT_MAX;
    for (int i = 0; i < count && bestDistance != 0; ++i) {
        const SDL_Color& entry = palette->colors[i];
        const int distance = SDL_abs(entry.r - r) + SDL_abs(entry.g - g) + SDL_abs(entry.b - b);
        if (distance < bestDistance) {
            best = i;
            bestDistance = distance;
        }
    }
    return static_cast<Uint8>(best);
}

} // namespace gif_detail
