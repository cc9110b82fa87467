#include "tests/gif/gif_test_support.h"

#include "tests/support/child_process.h"
#include "tests/support/temp_folder.h"

#include <cstdlib>
#include <fstream>
#include <stdexcept>
#include <unordered_set>

namespace fs = std::filesystem;

Picture stripes(int width, int height, int shade) {
    Picture picture{width, height, {}};
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            picture.pixels.push_back(Rgba{static_cast<Uint8>(20 * x + shade),
                                          static_cast<Uint8>(25 * y + shade / 2),
                                          static_cast<Uint8>(255 - shade), 255});
        }
    }
    return picture;
}

fs::path writePpm(const fs::path& path, const Picture& picture) {
    std::ofstream file(path, std::ios::binary);
    file << "P6\n" << picture.width << ' ' << picture.height << "\n255\n";
    for (const Rgba& pixel : picture.pixels) {
        file << pixel.r << pixel.g << pixel.b;
    }
    return path;
}

void runTool(const std::string& program, const std::vector<std::string>& arguments) {
    const ChildResult result = runChild("/usr/bin/" + program, arguments);
    if (result.exitStatus != 0) {
        throw std::runtime_error(program + " failed: " + result.standardError);
    }
}

Rgba pixelAt(SDL_Surface* surface, int x, int y) {
    const int bytesPerPixel = surface->format->BytesPerPixel;
    Uint32 value = 0;
    SDL_memcpy(&value,
               static_cast<Uint8*>(surface->pixels) + y * surface->pitch + x * bytesPerPixel,
               bytesPerPixel);
    Rgba pixel;
    SDL_GetRGBA(value, surface->format, &pixel.r, &pixel.g, &pixel.b, &pixel.a);
    return pixel;
}

std::vector<Rgba> surfacePixels(SDL_Surface* surface) {
    std::vector<Rgba> pixels;
    for (int y = 0; y < surface->h; ++y) {
        for (int x = 0; x < surface->w; ++x) {
            pixels.push_back(pixelAt(surface, x, y));
        }
    }
    return pixels;
}

namespace {

ColorMapObject* makeMap(const std::vector<GifColorType>& colors) {
    return colors.empty() ? nullptr
                          : GifMakeMapObject(static_cast<int>(colors.size()), colors.data());
}

void check(bool ok, const char* what) {
    if (!ok) {
        throw std::runtime_error(std::string("writing a raw GIF failed at ") + what);
    }
}

void writeRawImage(GifFileType* out, const RawImage& image) {
    for (const auto& block : image.graphicControls) {
        check(EGifPutExtension(out, GRAPHICS_EXT_FUNC_CODE, static_cast<int>(block.size()),
                               block.data()) == GIF_OK,
              "graphic control");
    }
    ColorMapObject* local = makeMap(image.localColors);
    GifFreeMapObject(out->Image.ColorMap); // giflib would leak it when `local` is null
    out->Image.ColorMap = nullptr;
    const int put =
        EGifPutImageDesc(out, image.left, image.top, image.width, image.height, false, local);
    GifFreeMapObject(local);
    check(put == GIF_OK, "image descriptor");
    std::vector<GifPixelType> indices = image.indices;
    indices.resize(static_cast<size_t>(image.width) * image.height);
    check(EGifPutLine(out, indices.data(), static_cast<int>(indices.size())) == GIF_OK, "pixels");
}

// Removes the global colour table from a finished file: giflib cannot encode without one.
void dropGlobalTable(const fs::path& path) {
    std::string bytes = readFile(path);
    constexpr size_t packedAt = 10, tableAt = 13, twoColorTable = 6;
    check(static_cast<unsigned char>(bytes.at(packedAt)) == 0xF0, "a two-colour table");
    bytes[packedAt] = 0x70;
    bytes.erase(tableAt, twoColorTable);
    writeFile(path, bytes);
}

} // namespace

void writeRawGif(const fs::path& path, const RawGif& gif) {
    int error = 0;
    GifFileType* out = EGifOpenFileName(path.c_str(), false, &error);
    check(out != nullptr, "open");
    EGifSetGifVersion(out, true);
    ColorMapObject* global = makeMap(gif.globalColors);
    const int put = EGifPutScreenDesc(out, gif.width, gif.height, 8, 0, global);
    GifFreeMapObject(global);
    try {
        check(put == GIF_OK, "screen descriptor");
        for (const RawImage& image : gif.images) {
            writeRawImage(out, image);
        }
    } catch (...) {
        EGifCloseFile(out, &error);
        throw;
    }
    check(EGifCloseFile(out, &error) == GIF_OK, "close");
    if (gif.dropGlobalTable) {
        dropGlobalTable(path);
    }
}

std::vector<std::vector<GifByteType>> graphicControlsOf(const fs::path& path) {
    int error = 0;
    GifFileType* in = DGifOpenFileName(path.c_str(), &error);
    if (in == nullptr || DGifSlurp(in) != GIF_OK) {
        DGifCloseFile(in, &error);
        throw std::runtime_error("giflib cannot read " + path.string());
    }
    std::vector<std::vector<GifByteType>> controls(in->ImageCount);
    for (int i = 0; i < in->ImageCount; ++i) {
        const SavedImage& image = in->SavedImages[i];
        for (int b = 0; b < image.ExtensionBlockCount; ++b) {
            const ExtensionBlock& block = image.ExtensionBlocks[b];
            if (block.Function == GRAPHICS_EXT_FUNC_CODE) {
                controls[i].assign(block.Bytes, block.Bytes + block.ByteCount);
            }
        }
    }
    DGifCloseFile(in, &error);
    return controls;
}

std::vector<fs::path> makeSampleFiles(const fs::path& folder) {
    const fs::path a = writePpm(folder / "a.ppm", stripes(6, 9, 0));
    const fs::path b = writePpm(folder / "b.ppm", stripes(4, 3, 100));
    const std::string aGif = (folder / "a.gif").string(), bGif = (folder / "b.gif").string();
    runTool("convert", {a.string(), aGif});
    runTool("convert", {b.string(), bGif});

    const fs::path interlaced = folder / "interlaced.gif";
    runTool("gifsicle", {"--interlace", aGif, "-o", interlaced.string()});
    const fs::path localPalettes = folder / "local_palettes.gif";
    runTool("convert", {"-delay", "7", "-dispose", "Previous", a.string(), "-dispose", "Background",
                        "-page", "+4+3", b.string(), "-loop", "0", localPalettes.string()});
    // Every disposal method, offsets, delays, a transparent colour, a comment, a foreign
    // application extension and a loop count.
    const fs::path animation = folder / "gifsicle_animation.gif";
    const Rgba corner = stripes(6, 9, 0).at(0, 0);
    char transparent[8];
    std::snprintf(transparent, sizeof transparent, "#%02X%02X%02X", corner.r, corner.g, corner.b);
    runTool("gifsicle", {"--no-warnings",
                         "--logical-screen",
                         "20x15",
                         "--loopcount=3",
                         "--comment",
                         "hello",
                         "--app-extension",
                         "EXAMPLE1.0",
                         "somedata",
                         "--delay",
                         "7",
                         "--disposal",
                         "none",
                         aGif,
                         "--position",
                         "5,3",
                         "--delay",
                         "12",
                         "--disposal",
                         "background",
                         bGif,
                         "--position",
                         "2,1",
                         "--delay",
                         "3",
                         "--disposal",
                         "previous",
                         "-t",
                         transparent,
                         aGif,
                         "--position",
                         "0,0",
                         "--no-delay",
                         "--no-transparent",
                         "--disposal",
                         "asis",
                         bGif,
                         "-o",
                         animation.string()});
    return {a.parent_path() / "a.gif", interlaced, localPalettes, animation};
}

namespace {

int allocationsLeft = -1;
std::unordered_set<void*>* liveSet = nullptr;

void* track(void* block) {
    if (block != nullptr) {
        liveSet->insert(block);
    }
    return block;
}
bool mayAllocate() {
    if (allocationsLeft == 0) {
        return false;
    }
    --allocationsLeft;
    return true;
}
void* failingMalloc(size_t size) {
    return mayAllocate() ? track(std::malloc(size)) : nullptr;
}
void* failingCalloc(size_t count, size_t size) {
    return mayAllocate() ? track(std::calloc(count, size)) : nullptr;
}
void* failingRealloc(void* block, size_t size) {
    if (!mayAllocate()) {
        return nullptr;
    }
    liveSet->erase(block);
    return track(std::realloc(block, size));
}
void countingFree(void* block) {
    liveSet->erase(block);
    std::free(block);
}

} // namespace

FailingAllocator::FailingAllocator(int allowed) {
    SDL_GetMemoryFunctions(&oldMalloc, &oldCalloc, &oldRealloc, &oldFree);
    allocationsLeft = allowed;
    liveSet = new std::unordered_set<void*>;
    SDL_SetMemoryFunctions(failingMalloc, failingCalloc, failingRealloc, countingFree);
}

FailingAllocator::~FailingAllocator() {
    SDL_SetMemoryFunctions(oldMalloc, oldCalloc, oldRealloc, oldFree);
    delete liveSet;
    liveSet = nullptr;
}

long FailingAllocator::liveBlocks() const {
    return static_cast<long>(liveSet->size());
}
bool FailingAllocator::exhausted() const {
    return allocationsLeft == 0;
}
