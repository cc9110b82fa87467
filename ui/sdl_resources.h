#pragma once
#include <SDL.h>
#include <SDL_ttf.h>
#include <memory>

#include "gif/gif_image.h"

// Owning handles for the SDL objects the windows create, so that every path out of a window
// function releases them.
struct SdlDeleter {
    void operator()(SDL_Window* window) const { SDL_DestroyWindow(window); }
    void operator()(SDL_Renderer* renderer) const { SDL_DestroyRenderer(renderer); }
    void operator()(SDL_Texture* texture) const { SDL_DestroyTexture(texture); }
    void operator()(SDL_Surface* surface) const { SDL_FreeSurface(surface); }
    void operator()(TTF_Font* font) const { TTF_CloseFont(font); }
    void operator()(GIF_Image* image) const { GIF_FreeImage(image); }
};

using WindowHandle = std::unique_ptr<SDL_Window, SdlDeleter>;
using RendererHandle = std::unique_ptr<SDL_Renderer, SdlDeleter>;
using TextureHandle = std::unique_ptr<SDL_Texture, SdlDeleter>;
using SurfaceHandle = std::unique_ptr<SDL_Surface, SdlDeleter>;
using FontHandle = std::unique_ptr<TTF_Font, SdlDeleter>;
using GifImageHandle = std::unique_ptr<GIF_Image, SdlDeleter>;
