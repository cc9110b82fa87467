// Pictures with known pixels, GIF files made from them by real tools or written byte-exact with
// giflib, and a way to make SDL's allocator fail on purpose.
#pragma once

#include "gif/gif_image.h"

#include <gif_lib.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

struct Rgba {
    Uint8 r = 0, g = 0, b = 0, a = 255;
    bool operator==(const Rgba&) const = default;
};

struct Picture {
    int width = 0;
    int height = 0;
    std::vector<Rgba> pixels; // row-major, always opaque
    Rgba at(int x, int y) const { return pixels[static_cast<size_t>(y) * width + x]; }
};

// A picture whose rows and columns all differ, so swapped or misplaced lines show.
Picture stripes(int width, int height, int shade);
std::filesystem::path writePpm(const std::filesystem::path& path, const Picture& picture);
// Runs /usr/bin/convert or /usr/bin/gifsicle (their Debian places); throws when they fail.
void runTool(const std::string& program, const std::vector<std::string>& arguments);

Rgba pixelAt(SDL_Surface* surface, int x, int y);
std::vector<Rgba> surfacePixels(SDL_Surface* surface);

// A GIF written exactly as described, for the cases real tools never produce.
struct RawImage {
    int left = 0, top = 0, width = 1, height = 1;
    std::vector<GifColorType> localColors;                 // power-of-two size or empty
    std::vector<std::vector<GifByteType>> graphicControls; // each written as one 0xF9 block
    std::vector<GifPixelType> indices;
};
struct RawGif {
    int width = 1, height = 1;
    std::vector<GifColorType> globalColors; // power-of-two size or empty
    bool dropGlobalTable = false;           // strip the two-colour global table after writing
    std::vector<RawImage> images;
};
void writeRawGif(const std::filesystem::path& path, const RawGif& gif);
// Graphic control blocks of each image as giflib reads them back.
std::vector<std::vector<GifByteType>> graphicControlsOf(const std::filesystem::path& path);

// The real-world samples, also the fuzzer's seeds.
std::vector<std::filesystem::path> makeSampleFiles(const std::filesystem::path& folder);

// While alive, SDL's allocator grants `allowed` more allocations and then fails; counts blocks
// still held so a failed operation can be checked for leaks.
class FailingAllocator {
  public:
    explicit FailingAllocator(int allowed);
    ~FailingAllocator();
    FailingAllocator(const FailingAllocator&) = delete;
    FailingAllocator& operator=(const FailingAllocator&) = delete;
    long liveBlocks() const;
    bool exhausted() const;

  private:
    SDL_malloc_func oldMalloc;
    SDL_calloc_func oldCalloc;
    SDL_realloc_func oldRealloc;
    SDL_free_func oldFree;
};

// Runs `attempt` with SDL's allocator failing after 0, 1, 2, ... allocations until it gets through:
// every failed attempt must report failure and hold on to no memory.
template <typename Attempt> void failEachAllocationInTurn(Attempt attempt) {
    SDL_SetError("warm up the error buffer before counting");
    for (int allowed = 0;; ++allowed) {
        FailingAllocator allocator(allowed);
        if (attempt()) {
            return;
        }
        ASSERT_TRUE(allocator.exhausted()) << "failed with memory to spare at " << allowed;
        ASSERT_EQ(allocator.liveBlocks(), 0) << "leaked after " << allowed << " allocations";
    }
}

struct ImageFree {
    void operator()(GIF_Image* image) const { GIF_FreeImage(image); }
};
using Image = std::unique_ptr<GIF_Image, ImageFree>;
