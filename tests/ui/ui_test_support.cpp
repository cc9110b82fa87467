#include "tests/ui/ui_test_support.h"

#include <SDL_image.h>
#include <filesystem>

#ifndef SCREENSHOT_DIR
#define SCREENSHOT_DIR LAUNCHER_BINARY_DIR "/screenshots"
#endif

void writeSolidAnimation(const std::string& path, int width, int height,
                         const std::vector<SDL_Color>& colours, int frameCount, int delayMs) {
    GIF_Image* image = GIF_CreateImage();
    GIF_SetCanvasSize(image, static_cast<Uint16>(width), static_cast<Uint16>(height));
    GIF_SetGlobalPalette(image,
                         GIF_CreatePalette(static_cast<int>(colours.size()), colours.data()));
    for (int i = 0; i < frameCount; ++i) {
        std::vector<Uint8> indices(static_cast<std::size_t>(width) * height,
                                   static_cast<Uint8>(i % colours.size()));
        GIF_Frame* frame = GIF_CreateFrameIndexed(static_cast<Uint16>(width),
                                                  static_cast<Uint16>(height), indices.data());
        GIF_SetDelay(frame, delayMs);
        GIF_AddFrame(image, frame);
    }
    GIF_SaveImage(image, path.c_str());
    GIF_FreeImage(image);
}

void writeSplitPicture(const std::string& path, int width, int height, SDL_Color left,
                       SDL_Color right) {
    GIF_Image* image = GIF_CreateImage();
    GIF_SetCanvasSize(image, static_cast<Uint16>(width), static_cast<Uint16>(height));
    const SDL_Color colours[2] = {left, right};
    GIF_SetGlobalPalette(image, GIF_CreatePalette(2, colours));
    std::vector<Uint8> indices(static_cast<std::size_t>(width) * height);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            indices[static_cast<std::size_t>(y) * width + x] = x < width / 2 ? 0 : 1;
        }
    }
    GIF_AddFrame(image, GIF_CreateFrameIndexed(static_cast<Uint16>(width),
                                               static_cast<Uint16>(height), indices.data()));
    GIF_SaveImage(image, path.c_str());
    GIF_FreeImage(image);
}

SDL_Surface* twoColourSurface(int width, int height, SDL_Color left, SDL_Color right) {
    SDL_Surface* surface =
        SDL_CreateRGBSurfaceWithFormat(0, width, height, 32, SDL_PIXELFORMAT_RGBA32);
    SDL_Rect leftHalf{0, 0, width / 2, height};
    SDL_Rect rightHalf{width / 2, 0, width - width / 2, height};
    SDL_FillRect(surface, &leftHalf, SDL_MapRGBA(surface->format, left.r, left.g, left.b, 255));
    SDL_FillRect(surface, &rightHalf, SDL_MapRGBA(surface->format, right.r, right.g, right.b, 255));
    return surface;
}

void saveSurfaceScreenshot(SDL_Surface* surface, const std::string& name) {
    std::filesystem::create_directories(SCREENSHOT_DIR);
    IMG_SavePNG(surface, (std::string(SCREENSHOT_DIR) + "/" + name + ".png").c_str());
}

std::vector<Uint32> readRendererPixels(SDL_Renderer* renderer, int width, int height,
                                       const std::string& screenshotName) {
    std::vector<Uint32> pixels(static_cast<std::size_t>(width) * height);
    SDL_RenderReadPixels(renderer, nullptr, SDL_PIXELFORMAT_RGBA8888, pixels.data(), width * 4);
    SDL_Surface* surface = SDL_CreateRGBSurfaceWithFormatFrom(pixels.data(), width, height, 32,
                                                              width * 4, SDL_PIXELFORMAT_RGBA8888);
    saveSurfaceScreenshot(surface, screenshotName);
    SDL_FreeSurface(surface);
    return pixels;
}

Rgb rgbOf(Uint32 rgba8888) {
    return Rgb{static_cast<int>(rgba8888 >> 24), static_cast<int>((rgba8888 >> 16) & 0xFF),
               static_cast<int>((rgba8888 >> 8) & 0xFF)};
}
