// GIF_LoadImage: a whole file decoded by giflib, each image turned into its own RGBA surface.
#include "gif/gif_image.h"
#include "gif/gif_internal.h"

#include <array>
#include <cstring>
#include <optional>

namespace {

using namespace gif_detail;

using DecoderPtr = std::unique_ptr<GifFileType, CloseGif<DGifCloseFile>>;

constexpr int maxFrames = 0xFFFF;
constexpr Uint32 redMask = 0x000000FF;
constexpr Uint32 greenMask = 0x0000FF00;
constexpr Uint32 blueMask = 0x00FF0000;
constexpr Uint32 alphaMask = 0xFF000000;
constexpr char netscapeId[] = "NETSCAPE2.0";
constexpr int netscapeIdLength = 11;
constexpr int graphicControlLength = 4;
constexpr int hundredthsToMilliseconds = 10;

using PixelValues = std::array<Uint32, 256>;

// The colour table of map into palette, a field of the image or frame being built (whose free
// function releases it). False only when memory runs out; without a table palette stays empty.
bool paletteFromColorMap(const ColorMapObject* map, SDL_Palette*& palette) {
    if (map == nullptr || map->Colors == nullptr || map->ColorCount < 1) {
        return true;
    }
    palette = SDL_AllocPalette(map->ColorCount);
    if (palette == nullptr) {
        return false;
    }
    for (int i = 0; i < map->ColorCount; ++i) {
        const GifColorType& color = map->Colors[i];
        palette->colors[i] = SDL_Color{color.Red, color.Green, color.Blue, 255};
    }
    return true;
}

std::optional<Uint16> netscapeLoopCount(const ExtensionBlock* blocks, int count) {
    for (int i = 0; i + 1 < count; ++i) {
        const ExtensionBlock& id = blocks[i];
        const ExtensionBlock& data = blocks[i + 1];
        if (id.Function != APPLICATION_EXT_FUNC_CODE || id.ByteCount != netscapeIdLength ||
            std::memcmp(id.Bytes, netscapeId, netscapeIdLength) != 0) {
            continue;
        }
        if (data.Function == CONTINUE_EXT_FUNC_CODE && data.ByteCount >= 3 && data.Bytes[0] == 1) {
            return static_cast<Uint16>(data.Bytes[1] | data.Bytes[2] << 8);
        }
    }
    return std::nullopt;
}

// giflib attaches extensions to the image they precede and keeps trailing ones on the file.
Uint16 findLoopCount(const GifFileType& gif) {
    for (int i = 0; i < gif.ImageCount; ++i) {
        const SavedImage& saved = gif.SavedImages[i];
        if (auto count = netscapeLoopCount(saved.ExtensionBlocks, saved.ExtensionBlockCount)) {
            return *count;
        }
    }
    return netscapeLoopCount(gif.ExtensionBlocks, gif.ExtensionBlockCount).value_or(0);
}

void applyGraphicControl(GIF_Frame& frame, const SDL_Palette* palette,
                         const ExtensionBlock& block) {
    // A truncated block has no trustworthy fields at all.
    if (block.Function != GRAPHICS_EXT_FUNC_CODE || block.ByteCount < graphicControlLength) {
        return;
    }
    const Uint8 packed = block.Bytes[0];
    const Uint8 index = block.Bytes[3];
    if ((packed & 0x01) != 0) {
        frame.transparentByIndex = 1;
    }
    frame.transparentIndex = index;
    frame.disposal = (packed & 0x08) == 0 ? 1 : 0;
    frame.delay = (block.Bytes[1] + 256 * block.Bytes[2]) * hundredthsToMilliseconds;
    if (palette != nullptr && index < palette->ncolors) {
        frame.transparentColor = palette->colors[index];
    }
}

// Surface value for every possible index. Indices the palette lacks become transparent black so
// a corrupt file can never make us read past the palette.
PixelValues pixelValues(const SDL_PixelFormat* format, const SDL_Palette* palette,
                        const GIF_Frame& frame) {
    PixelValues values;
    values.fill(SDL_MapRGBA(format, 0, 0, 0, 0));
    const int count = SDL_min(palette->ncolors, static_cast<int>(values.size()));
    for (int i = 0; i < count; ++i) {
        const SDL_Color& c = palette->colors[i];
        const bool transparent = frame.transparentByIndex != 0 && i == frame.transparentIndex;
        values[i] = SDL_MapRGBA(format, c.r, c.g, c.b, transparent ? 0 : c.a);
    }
    return values;
}

void storePixel(Uint8* at, int bytesPerPixel, Uint32 value) {
    switch (bytesPerPixel) {
    case 1:
        *at = static_cast<Uint8>(value);
        break;
    case 2: {
        const auto narrow = static_cast<Uint16>(value);
        std::memcpy(at, &narrow, sizeof narrow);
        break;
    }
    case 3:
        for (int i = 0; i < 3; ++i) {
            const int shift = SDL_BYTEORDER == SDL_LIL_ENDIAN ? 8 * i : 8 * (2 - i);
            at[i] = static_cast<Uint8>(value >> shift);
        }
        break;
    default:
        std::memcpy(at, &value, sizeof value);
        break;
    }
}

void drawIndices(SDL_Surface* surface, const GifByteType* indices, const PixelValues& values) {
    const int bytesPerPixel = surface->format->BytesPerPixel;
    for (int y = 0; y < surface->h; ++y) {
        Uint8* row = static_cast<Uint8*>(surface->pixels) + static_cast<size_t>(y) * surface->pitch;
        const GifByteType* source = indices + static_cast<size_t>(y) * surface->w;
        if (bytesPerPixel == 4) { // every surface the loader makes; kept apart for speed
            auto* target = reinterpret_cast<Uint32*>(row);
            for (int x = 0; x < surface->w; ++x) {
                target[x] = values[source[x]];
            }
            continue;
        }
        for (int x = 0; x < surface->w; ++x) {
            storePixel(row + static_cast<size_t>(x) * bytesPerPixel, bytesPerPixel,
                       values[source[x]]);
        }
    }
}

// Null when memory runs out.
FramePtr buildFrame(const SavedImage& saved, const SDL_Palette* globalPalette) {
    FramePtr frame{static_cast<GIF_Frame*>(SDL_calloc(1, sizeof(GIF_Frame)))};
    if (!frame) {
        return nullptr;
    }
    const GifImageDesc& desc = saved.ImageDesc;
    frame->left = desc.Left;
    frame->top = desc.Top;
    frame->width = static_cast<Uint16>(desc.Width);
    frame->height = static_cast<Uint16>(desc.Height);

    if (!paletteFromColorMap(desc.ColorMap, frame->localPalette)) {
        return nullptr;
    }
    const SDL_Palette* palette = frame->localPalette ? frame->localPalette : globalPalette;

    for (int i = 0; i < saved.ExtensionBlockCount; ++i) {
        applyGraphicControl(*frame, palette, saved.ExtensionBlocks[i]);
    }

    frame->surface = SDL_CreateRGBSurface(0, frame->width, frame->height, 32, redMask, greenMask,
                                          blueMask, alphaMask);
    if (frame->surface == nullptr) {
        return nullptr;
    }
    frame->ownsSurface = 1;
    const bool hasPixels = frame->width != 0 && frame->height != 0 && saved.RasterBits != nullptr;
    if (palette != nullptr && hasPixels) {
        drawIndices(frame->surface, saved.RasterBits,
                    pixelValues(frame->surface->format, palette, *frame));
    }
    return frame;
}

// Null when memory runs out; never a partly built image.
ImagePtr buildImage(const GifFileType& gif) {
    ImagePtr image{static_cast<GIF_Image*>(SDL_calloc(1, sizeof(GIF_Image)))};
    if (!image) {
        return nullptr;
    }
    image->width = static_cast<Uint16>(gif.SWidth);
    image->height = static_cast<Uint16>(gif.SHeight);
    if (!paletteFromColorMap(gif.SColorMap, image->globalPalette)) {
        return nullptr;
    }
    image->loopCount = findLoopCount(gif);
    if (gif.ImageCount <= 0) {
        return image;
    }

    const auto count = static_cast<Uint16>(gif.ImageCount);
    image->frames = static_cast<GIF_Frame**>(SDL_calloc(count, sizeof(GIF_Frame*)));
    if (image->frames == nullptr) {
        return nullptr;
    }
    image->frameCount = count;
    image->frameCapacity = count;
    for (Uint16 i = 0; i < count; ++i) {
        FramePtr frame = buildFrame(gif.SavedImages[i], image->globalPalette);
        if (!frame) {
            return nullptr;
        }
        image->frames[i] = frame.release();
    }
    return image;
}

} // namespace

extern "C" GIF_Image* GIF_LoadImage(const char* file) {
    if (file == nullptr) {
        return nullptr;
    }
    int error = 0;
    DecoderPtr gif{DGifOpenFileName(file, &error)};
    if (!gif || DGifSlurp(gif.get()) != GIF_OK) {
        return nullptr;
    }
    // frameCount is 16-bit: refusing beats silently dropping the animation's tail.
    if (gif->ImageCount > maxFrames) {
        return nullptr;
    }
    return buildImage(*gif).release();
}
