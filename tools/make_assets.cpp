// Draws the launcher bundle's pictures with our own GIF module:
//   installer.gif  430 x 389, a looping spinner over a moorland dusk (the installer window)
//   launcher.gif   300 x 250, the same scene as a still picture (the splash window)
//
//   make_assets <output folder>
#include "gif/gif_image.h"

#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

namespace {

constexpr int paletteSize = 16;

// Sky from deep blue to dusk orange, two hill shades, then the spinner's dot shades.
const SDL_Color colours[paletteSize] = {
    {12, 20, 48, 255},    {20, 32, 70, 255},    {34, 46, 92, 255},    {58, 60, 110, 255},
    {96, 72, 118, 255},   {150, 88, 110, 255},  {204, 112, 92, 255},  {236, 152, 86, 255},
    {30, 52, 40, 255},    {18, 36, 28, 255},    {60, 70, 80, 255},    {110, 120, 130, 255},
    {160, 170, 180, 255}, {210, 215, 220, 255}, {245, 245, 250, 255}, {0, 0, 0, 255}};

// The scene's colour index at (x, y): sky bands, then two rolling hills.
Uint8 sceneIndex(int x, int y, int width, int height) {
    const double u = static_cast<double>(x) / width;
    const double farHill = height * (0.68 + 0.06 * std::sin(u * 5.0 + 1.0));
    const double nearHill = height * (0.80 + 0.05 * std::sin(u * 3.0 + 2.5));
    if (y >= nearHill) {
        return 9;
    }
    if (y >= farHill) {
        return 8;
    }
    return static_cast<Uint8>(std::min(7, y * 8 / std::max(1, static_cast<int>(farHill))));
}

std::vector<Uint8> scene(int width, int height) {
    std::vector<Uint8> pixels(static_cast<std::size_t>(width) * height);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            pixels[static_cast<std::size_t>(y) * width + x] = sceneIndex(x, y, width, height);
        }
    }
    return pixels;
}

void disc(std::vector<Uint8>& pixels, int width, int height, double cx, double cy, double radius,
          Uint8 index) {
    for (int y = static_cast<int>(cy - radius); y <= static_cast<int>(cy + radius); ++y) {
        for (int x = static_cast<int>(cx - radius); x <= static_cast<int>(cx + radius); ++x) {
            if (x < 0 || y < 0 || x >= width || y >= height) {
                continue;
            }
            if ((x - cx) * (x - cx) + (y - cy) * (y - cy) <= radius * radius) {
                pixels[static_cast<std::size_t>(y) * width + x] = index;
            }
        }
    }
}

// Twelve dots on a ring; the bright one moves a step each frame and leaves a fading tail.
std::vector<Uint8> spinnerFrame(int width, int height, int step) {
    std::vector<Uint8> pixels = scene(width, height);
    constexpr int dots = 12;
    const double cx = width / 2.0;
    const double cy = height * 0.40;
    for (int d = 0; d < dots; ++d) {
        const double angle = 2.0 * M_PI * d / dots - M_PI / 2;
        const int age = ((step - d) % dots + dots) % dots;
        const Uint8 shade = static_cast<Uint8>(age < 4 ? 14 - age : 10);
        disc(pixels, width, height, cx + 70 * std::cos(angle), cy + 70 * std::sin(angle), 11,
             shade);
    }
    return pixels;
}

bool save(GIF_Image* image, const std::string& path) {
    if (!GIF_SaveImage(image, path.c_str())) {
        std::fprintf(stderr, "make_assets: cannot write %s\n", path.c_str());
        return false;
    }
    return true;
}

GIF_Image* imageWithPalette(int width, int height) {
    GIF_Image* image = GIF_CreateImage();
    if (image == nullptr) {
        return nullptr;
    }
    GIF_SetCanvasSize(image, static_cast<Uint16>(width), static_cast<Uint16>(height));
    GIF_SetGlobalPalette(image, GIF_CreatePalette(paletteSize, colours));
    return image;
}

bool addIndexedFrame(GIF_Image* image, int width, int height, const std::vector<Uint8>& pixels,
                     int delayMs) {
    GIF_Frame* frame = GIF_CreateFrameIndexed(static_cast<Uint16>(width),
                                              static_cast<Uint16>(height), pixels.data());
    if (frame == nullptr) {
        return false;
    }
    GIF_SetDelay(frame, delayMs);
    const Uint16 before = image->frameCount;
    GIF_AddFrame(image, frame);
    if (image->frameCount == before) {
        GIF_FreeFrame(frame);
        return false;
    }
    return true;
}

bool makeInstallerAnimation(const std::string& path) {
    constexpr int width = 430;
    constexpr int height = 389;
    constexpr int frames = 36;
    GIF_Image* image = imageWithPalette(width, height);
    bool ok = image != nullptr;
    for (int step = 0; ok && step < frames; ++step) {
        ok = addIndexedFrame(image, width, height, spinnerFrame(width, height, step), 70);
    }
    GIF_SetLooping(image, 0);
    ok = ok && save(image, path);
    GIF_FreeImage(image);
    return ok;
}

bool makeSplashPicture(const std::string& path) {
    constexpr int width = 300;
    constexpr int height = 250;
    GIF_Image* image = imageWithPalette(width, height);
    std::vector<Uint8> pixels = scene(width, height);
    disc(pixels, width, height, width * 0.75, height * 0.30, 22, 7); // a low sun
    bool ok = image != nullptr && addIndexedFrame(image, width, height, pixels, 0);
    ok = ok && save(image, path);
    GIF_FreeImage(image);
    return ok;
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: make_assets <output folder>\n");
        return 2;
    }
    const std::string folder = argv[1];
    const bool ok = makeInstallerAnimation(folder + "/installer.gif") &&
                    makeSplashPicture(folder + "/launcher.gif");
    return ok ? 0 : 1;
}
