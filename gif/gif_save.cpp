// GIF_SaveImage: the image written frame by frame through giflib's encoder.
#include "gif/gif_image.h"
#include "gif/gif_internal.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

using namespace gif_detail;

using EncoderPtr = std::unique_ptr<GifFileType, CloseGif<EGifCloseFile>>;

constexpr int colorResolution = 8;
constexpr GifByteType netscapeId[] = {'N', 'E', 'T', 'S', 'C', 'A', 'P', 'E', '2', '.', '0'};
constexpr Uint8 transparencyFlag = 0x01;
constexpr Uint8 restoreToBackground = 0x08; // disposal method 2
constexpr int millisecondsPerHundredth = 10;

const SDL_Palette* framePalette(const GIF_Frame& frame, const GIF_Image& image) {
    return frame.localPalette != nullptr ? frame.localPalette : image.globalPalette;
}

// False only when memory runs out; no palette (or an empty one) leaves `map` empty. giflib makes
// maps of 2, 4, ... 256 colours only, so other sizes are padded with black; pixels are matched
// against the palette's own entries and never use the padding.
bool colorMapFromPalette(const SDL_Palette* palette, ColorMapPtr& map) {
    if (palette == nullptr || palette->ncolors < 1) {
        return true;
    }
    const int count = std::min(palette->ncolors, maxFileColors);
    int size = 2;
    while (size < count) {
        size *= 2;
    }
    std::array<GifColorType, maxFileColors> colors{};
    for (int i = 0; i < count; ++i) {
        colors[i] = GifColorType{palette->colors[i].r, palette->colors[i].g, palette->colors[i].b};
    }
    map.reset(GifMakeMapObject(size, colors.data()));
    return map != nullptr;
}

// The encoder cannot compress without a colour table to size its codes by, so a frame with no
// palette anywhere gets the smallest table there is: two black entries.
bool frameColorMap(const GIF_Frame& frame, bool hasGlobalMap, ColorMapPtr& map) {
    if (!colorMapFromPalette(frame.localPalette, map)) {
        return false;
    }
    if (map || hasGlobalMap) {
        return true;
    }
    const std::array<GifColorType, 2> black{};
    map.reset(GifMakeMapObject(static_cast<int>(black.size()), black.data()));
    return map != nullptr;
}

// giflib keeps its own copy of the last local colour map and drops (leaks) it when the next
// image descriptor comes without one; releasing it first keeps either case clean.
void forgetLocalMap(GifFileType* gif) {
    GifFreeMapObject(gif->Image.ColorMap);
    gif->Image.ColorMap = nullptr;
}

bool putLoopExtension(GifFileType* gif, Uint16 loopCount) {
    GifByteType data[] = {1, static_cast<GifByteType>(loopCount & 0xFF),
                          static_cast<GifByteType>(loopCount >> 8)};
    return EGifPutExtensionLeader(gif, APPLICATION_EXT_FUNC_CODE) == GIF_OK &&
           EGifPutExtensionBlock(gif, sizeof netscapeId, netscapeId) == GIF_OK &&
           EGifPutExtensionBlock(gif, sizeof data, data) == GIF_OK &&
           EGifPutExtensionTrailer(gif) == GIF_OK;
}

bool putGraphicControl(GifFileType* gif, GIF_Frame& frame, const SDL_Palette* palette) {
    const bool transparent = frame.transparentByColor != 0 || frame.transparentByIndex != 0;
    const Uint8 packed =
        (transparent ? transparencyFlag : 0) | (frame.disposal == 0 ? restoreToBackground : 0);
    // The field is 16 bits of hundredths; out-of-range delays are pinned rather than wrapped.
    const int hundredths = std::clamp(frame.delay / millisecondsPerHundredth, 0, 0xFFFF);
    if (frame.transparentByColor != 0) {
        frame.transparentIndex = exactMatchIndex(palette, frame.transparentColor);
    }
    GifByteType bytes[] = {packed, static_cast<GifByteType>(hundredths & 0xFF),
                           static_cast<GifByteType>(hundredths >> 8), frame.transparentIndex};
    return EGifPutExtension(gif, GRAPHICS_EXT_FUNC_CODE, sizeof bytes, bytes) == GIF_OK;
}

Uint32 readPixel(const Uint8* at, int bytesPerPixel) {
    switch (bytesPerPixel) {
    case 1:
        return *at;
    case 2: {
        Uint16 value = 0;
        std::memcpy(&value, at, sizeof value);
        return value;
    }
    case 3:
        return SDL_BYTEORDER == SDL_LIL_ENDIAN ? at[0] | at[1] << 8 | at[2] << 16
                                               : at[2] | at[1] << 8 | at[0] << 16;
    default: {
        Uint32 value = 0;
        std::memcpy(&value, at, sizeof value);
        return value;
    }
    }
}

// Nearest palette index of every pixel; alpha plays no part in the match.
void matchSurface(SDL_Surface* surface, const SDL_Palette* palette, int width, int height,
                  Uint8* indices) {
    const bool locked = SDL_MUSTLOCK(surface);
    if (locked && SDL_LockSurface(surface) != 0) {
        return;
    }
    const int bytesPerPixel = surface->format->BytesPerPixel;
    // Animation frames are mostly runs of one colour; remembering the last match saves a
    // palette scan per pixel.
    Uint32 lastValue = 0;
    Uint8 lastIndex = 0;
    bool haveLast = false;
    for (int y = 0; y < height; ++y) {
        const Uint8* row =
            static_cast<const Uint8*>(surface->pixels) + static_cast<size_t>(y) * surface->pitch;
        for (int x = 0; x < width; ++x) {
            const Uint32 value =
                readPixel(row + static_cast<size_t>(x) * bytesPerPixel, bytesPerPixel);
            if (!haveLast || value != lastValue) {
                Uint8 r = 0, g = 0, b = 0;
                SDL_GetRGB(value, surface->format, &r, &g, &b);
                lastIndex = nearestIndex(palette, r, g, b);
                lastValue = value;
                haveLast = true;
            }
            indices[static_cast<size_t>(y) * width + x] = lastIndex;
        }
    }
    if (locked) {
        SDL_UnlockSurface(surface);
    }
}

// False when memory runs out. Frames with nothing to take indices from are written as index 0.
bool prepareIndices(GIF_Frame& frame, const SDL_Palette* palette) {
    if (frame.indexedPixels != nullptr && frame.surface == nullptr) {
        return true;
    }
    const size_t size = static_cast<size_t>(frame.width) * frame.height;
    auto* indices = static_cast<Uint8*>(SDL_calloc(std::max<size_t>(size, 1), 1));
    if (indices == nullptr) {
        return false;
    }
    if (frame.surface != nullptr && palette != nullptr) {
        matchSurface(frame.surface, palette, frame.width, frame.height, indices);
    }
    SDL_free(frame.indexedPixels);
    frame.indexedPixels = indices;
    return true;
}

bool putFrame(GifFileType* gif, const GIF_Image& image, GIF_Frame& frame, bool hasGlobalMap) {
    const SDL_Palette* palette = framePalette(frame, image);
    const bool transparent = frame.transparentByColor != 0 || frame.transparentByIndex != 0;
    if ((image.frameCount > 1 || transparent) && !putGraphicControl(gif, frame, palette)) {
        return false;
    }
    if (frame.surface != nullptr) {
        frame.width = static_cast<Uint16>(frame.surface->w);
        frame.height = static_cast<Uint16>(frame.surface->h);
    }
    ColorMapPtr localMap;
    if (!frameColorMap(frame, hasGlobalMap, localMap)) {
        return false;
    }
    forgetLocalMap(gif);
    if (EGifPutImageDesc(gif, frame.left, frame.top, frame.width, frame.height, false,
                         localMap.get()) != GIF_OK) {
        return false;
    }
    if (!prepareIndices(frame, palette)) {
        return false;
    }
    for (int y = 0; y < frame.height; ++y) {
        GifPixelType* line = frame.indexedPixels + static_cast<size_t>(y) * frame.width;
        if (EGifPutLine(gif, line, frame.width) != GIF_OK) {
            return false;
        }
    }
    return true;
}

bool putImage(GifFileType* gif, GIF_Image& image) {
    ColorMapPtr globalMap;
    if (!colorMapFromPalette(image.globalPalette, globalMap)) {
        return false;
    }
    if (image.globalPalette != nullptr && image.backgroundIsColor != 0) {
        image.backgroundIndex = exactMatchIndex(image.globalPalette, image.backgroundColor);
    }
    // Graphic control and application extensions are GIF89a features; giflib's streaming
    // encoder would otherwise stamp the file GIF87a.
    EGifSetGifVersion(gif, true);
    if (EGifPutScreenDesc(gif, image.width, image.height, colorResolution, image.backgroundIndex,
                          globalMap.get()) != GIF_OK ||
        !putLoopExtension(gif, image.loopCount)) {
        return false;
    }
    for (Uint16 i = 0; i < image.frameCount; ++i) {
        if (image.frames[i] == nullptr || !putFrame(gif, image, *image.frames[i], !!globalMap)) {
            return false;
        }
    }
    return true;
}

// The file being written, and whether this save brought it into being: only then may a failed
// save take it away again.
struct OutputFile {
    int fd = -1;
    bool created = false;
    dev_t device = 0;
    ino_t inode = 0;
};

OutputFile openOutput(const char* file) {
    OutputFile output;
    output.fd = open(file, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, S_IRUSR | S_IWUSR);
    output.created = output.fd >= 0;
    if (!output.created && errno == EEXIST) {
        output.fd = open(file, O_WRONLY | O_TRUNC | O_CLOEXEC);
    }
    struct stat status {};
    if (output.created && fstat(output.fd, &status) == 0 && S_ISREG(status.st_mode)) {
        output.device = status.st_dev;
        output.inode = status.st_ino;
    } else {
        output.created = false;
    }
    return output;
}

// A half-written file would later load as a broken animation; what this save created goes,
// as long as the name still names it. Whatever stood there before (a file, a link, a device)
// is never removed.
void removeCreated(const char* file, const OutputFile& output) {
    struct stat status {};
    if (output.created && lstat(file, &status) == 0 && S_ISREG(status.st_mode) &&
        status.st_dev == output.device && status.st_ino == output.inode) {
        unlink(file);
    }
}

} // namespace

extern "C" int GIF_SaveImage(GIF_Image* image, const char* file) {
    if (image == nullptr || image->frameCount == 0 || image->frames == nullptr || file == nullptr) {
        return 0;
    }
    const OutputFile output = openOutput(file);
    if (output.fd < 0) {
        return 0;
    }
    int error = 0;
    // From here on giflib owns the descriptor and closes it with the encoder.
    EncoderPtr gif{EGifOpenFileHandle(output.fd, &error)};
    if (!gif) {
        close(output.fd);
        removeCreated(file, output);
        return 0;
    }
    if (!putImage(gif.get(), *image)) {
        gif.reset();
        removeCreated(file, output);
        return 0;
    }
    if (EGifCloseFile(gif.release(), &error) != GIF_OK) {
        removeCreated(file, output);
        return 0;
    }
    return 1;
}
