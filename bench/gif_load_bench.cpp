// Loads an installer-sized animation with GIF_LoadImage and with SDL_image's IMG_LoadAnimation,
// alternating, and prints the median time of each and their ratio.
//   gif_load_bench [file.gif] [rounds]   (without a file, a 430 x 389, 60-frame one is made)
#include "gif/gif_image.h"

#include <SDL_image.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

constexpr int canvasWidth = 430;
constexpr int canvasHeight = 389;
constexpr int frameCount = 60;

// A spinner: rings drifting outwards with a rotating sweep, over 256 colours, much like the
// installer animation in size and in how well it compresses.
Uint8 spinnerIndex(int x, int y, int frame) {
    const double dx = x - canvasWidth / 2.0, dy = y - canvasHeight / 2.0;
    const double radius = std::sqrt(dx * dx + dy * dy);
    const double angle = std::atan2(dy, dx) + frame * (2 * M_PI / frameCount);
    return static_cast<Uint8>(static_cast<int>(radius / 3 + frame * 2 + 40 * std::sin(angle)) &
                              0xFF);
}

bool makeAnimation(const std::string& path) {
    GIF_Image* image = GIF_CreateImage();
    GIF_SetCanvasSize(image, canvasWidth, canvasHeight);
    GIF_SetLooping(image, 0);
    std::vector<SDL_Color> colors(256);
    for (int i = 0; i < 256; ++i) {
        colors[i] = SDL_Color{static_cast<Uint8>(i), static_cast<Uint8>(255 - i),
                              static_cast<Uint8>(i * 3), 255};
    }
    GIF_SetGlobalPalette(image, GIF_CreatePalette(256, colors.data()));
    std::vector<Uint8> indices(canvasWidth * canvasHeight);
    for (int f = 0; f < frameCount; ++f) {
        for (int y = 0; y < canvasHeight; ++y) {
            for (int x = 0; x < canvasWidth; ++x) {
                indices[y * canvasWidth + x] = spinnerIndex(x, y, f);
            }
        }
        GIF_Frame* frame = GIF_CreateFrameIndexed(canvasWidth, canvasHeight, indices.data());
        GIF_SetDelay(frame, 40);
        GIF_AddFrame(image, frame);
    }
    const int saved = GIF_SaveImage(image, path.c_str());
    GIF_FreeImage(image);
    return saved == 1;
}

template <typename Load> double millisecondsFor(Load load) {
    const auto start = std::chrono::steady_clock::now();
    if (!load()) {
        std::fprintf(stderr, "gif_load_bench: a load failed\n");
        std::exit(1);
    }
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
        .count();
}

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const size_t middle = values.size() / 2;
    return values.size() % 2 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

} // namespace

int main(int argc, char** argv) {
    std::string path = argc > 1 ? argv[1] : "";
    const int rounds = argc > 2 ? std::max(1, std::atoi(argv[2])) : 21;
    // One file per run: other developers may be benchmarking on the same machine.
    const auto madeFile = std::filesystem::temp_directory_path() /
                          ("gif_load_bench-" + std::to_string(getpid()) + ".gif");
    if (path.empty()) {
        path = madeFile.string();
        if (!makeAnimation(path)) {
            std::fprintf(stderr, "gif_load_bench: cannot write %s\n", path.c_str());
            return 1;
        }
    }

    std::vector<double> gifTimes, imgTimes;
    int frames = 0;
    for (int round = 0; round < rounds; ++round) {
        gifTimes.push_back(millisecondsFor([&] {
            GIF_Image* image = GIF_LoadImage(path.c_str());
            frames = image ? image->frameCount : 0;
            GIF_FreeImage(image);
            return image != nullptr;
        }));
        imgTimes.push_back(millisecondsFor([&] {
            IMG_Animation* animation = IMG_LoadAnimation(path.c_str());
            IMG_FreeAnimation(animation);
            return animation != nullptr;
        }));
    }
    if (path == madeFile.string()) {
        std::filesystem::remove(madeFile);
    }

    const double gif = median(gifTimes), img = median(imgTimes);
    std::printf("file: %s (%d frames), %d rounds\n", path.c_str(), frames, rounds);
    std::printf("GIF_LoadImage      median %8.2f ms\n", gif);
    std::printf("IMG_LoadAnimation  median %8.2f ms\n", img);
    std::printf("ratio GIF/IMG      %8.3f (target <= 1.0)\n", gif / img);
    return 0;
}
