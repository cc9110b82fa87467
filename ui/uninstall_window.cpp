#include "ui/uninstall_window.h"

#include "ui/sdl_error.h"

#include <SDL.h>

namespace {

constexpr int windowWidth = 430;
constexpr int windowHeight = 389;

} // namespace

SdlVideo::~SdlVideo() {
    if (started) {
        SDL_Quit();
    }
}

std::unique_ptr<UninstallWindow> openUninstallWindow(const std::string& title) {
    auto parts = std::make_unique<UninstallWindow>();
    if (SDL_Init(SDL_INIT_VIDEO) != 0) {
        logSdlError("SDL_Init");
        return nullptr;
    }
    parts->video.started = true;
    parts->window.reset(SDL_CreateWindow(title.c_str(), SDL_WINDOWPOS_CENTERED,
                                         SDL_WINDOWPOS_CENTERED, windowWidth, windowHeight,
                                         SDL_WINDOW_BORDERLESS));
    if (!parts->window) {
        logSdlError("SDL_CreateWindow");
        return nullptr;
    }
    parts->renderer.reset(SDL_CreateRenderer(parts->window.get(), -1,
                                             SDL_RENDERER_ACCELERATED | SDL_RENDERER_PRESENTVSYNC));
    if (!parts->renderer) {
        parts->window.reset(); // the window goes before the message, SDL_Quit after it
        logSdlError("SDL_CreateRenderer");
        return nullptr;
    }
    return parts;
}
