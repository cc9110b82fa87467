#pragma once
#include <SDL.h>
#include <string>
#include <vector>

#include "gif/gif_image.h"

// Writes a GIF of frameCount full-canvas frames, frame i filled with colours[i % size], each
// shown for delayMs.
void writeSolidAnimation(const std::string& path, int width, int height,
                         const std::vector<SDL_Color>& colours, int frameCount, int delayMs);

// A one-frame GIF whose left half is left and right half right.
void writeSplitPicture(const std::string& path, int width, int height, SDL_Color left,
                       SDL_Color right);

// An RGBA surface width x height whose left half is left and right half right.
SDL_Surface* twoColourSurface(int width, int height, SDL_Color left, SDL_Color right);

// Reads back what the renderer drew (RGBA8888) and saves it as <SCREENSHOT_DIR>/<name>.png.
std::vector<Uint32> readRendererPixels(SDL_Renderer* renderer, int width, int height,
                                       const std::string& screenshotName);
void saveSurfaceScreenshot(SDL_Surface* surface, const std::string& name);

struct Rgb {
    int r, g, b;
};
Rgb rgbOf(Uint32 rgba8888);
