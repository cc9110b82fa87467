#include "ui/splash_window.h"

#include "launcher/launcher_config.h"
#include "launcher/launcher_flow.h"
#include "launcher/run_log.h"
#include "ui/asset_path.h"
#include "ui/sdl_error.h"
#include "ui/sdl_resources.h"
#include "ui/window_events.h"

#include <SDL_image.h>
#include <string>

namespace {

WindowHandle splashWindow;
SDL_Surface* splashWindowSurface = nullptr; // owned by the window
SurfaceHandle splashPicture;

SDL_Color splashTextColour() {
    const LauncherConfig& c = launcherConfig;
    return SDL_Color{static_cast<Uint8>(c.launcherFontColorR & 0xFF),
                     static_cast<Uint8>(c.launcherFontColorG & 0xFF),
                     static_cast<Uint8>(c.launcherFontColorB & 0xFF), 0};
}

} // namespace

bool openSplashWindow() {
    if (SDL_Init(SDL_INIT_VIDEO) < 0) {
        writeToLog("SDL could not initialize! SDL Error: " + sdlError());
        return false;
    }
    const LauncherConfig& c = launcherConfig;
    splashWindow.reset(SDL_CreateWindow(c.appDisplayName.c_str(), SDL_WINDOWPOS_UNDEFINED,
                                        SDL_WINDOWPOS_UNDEFINED, c.launcherImageWidth,
                                        c.launcherImageHeight, SDL_WINDOW_BORDERLESS));
    if (!splashWindow) {
        writeToLog("Window could not be created! SDL Error: " + sdlError());
        return false;
    }
    if ((IMG_Init(IMG_INIT_PNG) & IMG_INIT_PNG) == 0) {
        writeToLog("SDL_image could not initialize! SDL_image Error: " + sdlError());
        return false;
    }
    // A window surface is drawn in software; left to itself SDL would back it with an OpenGL
    // texture and, to do so, destroy and create the window again while it is on the screen.
    SDL_SetHint(SDL_HINT_FRAMEBUFFER_ACCELERATION, "0");
    splashWindowSurface = SDL_GetWindowSurface(splashWindow.get());
    return true;
}

bool loadSplashImage() {
    // A missing or broken picture fails at once: retrying the same file can never succeed.
    const SurfaceHandle loaded(IMG_Load(bundleAssetPath("launcher.gif").c_str()));
    if (loaded && splashWindowSurface != nullptr) {
        splashPicture.reset(SDL_ConvertSurface(loaded.get(), splashWindowSurface->format, 0));
    }
    if (!splashPicture) {
        writeToLog("Unable to optimize image launcher.gif! SDL Error: " + sdlError());
        writeToLog("Failed to load image!");
        return false;
    }
    return true;
}

SDL_Surface* runSplashFrameLoop(TTF_Font* font) {
    static const std::atomic<bool> never{false};
    return runSplashFrameLoop(font, never);
}

SDL_Surface* runSplashFrameLoop(TTF_Font* font, const std::atomic<bool>& ended) {
    const SDL_Color colour = splashTextColour();
    if (launcherDone || ended.load(std::memory_order_acquire)) {
        return nullptr;
    }
    const LauncherConfig& c = launcherConfig;
    SurfaceHandle text;
    while (true) {
        if (drainWindowEvents()) {
            launcherDone = true;
        }
        SDL_Rect textRect{c.launcherDisplayTextX, c.launcherDisplayTextY,
                          c.launcherDisplayTextWidth, c.launcherDisplayTextHeight};
        if (font != nullptr) {
            text.reset(
                TTF_RenderUTF8_Blended_Wrapped(font, c.checkingForUpdatesText.c_str(), colour,
                                               static_cast<Uint32>(c.launcherDisplayTextWidth)));
        }
        SDL_BlitSurface(splashPicture.get(), nullptr, splashWindowSurface, nullptr);
        if (text) {
            SDL_BlitSurface(text.get(), nullptr, splashWindowSurface, &textRect);
        }
        SDL_UpdateWindowSurface(splashWindow.get());
        if (launcherDone || ended.load(std::memory_order_acquire)) {
            break;
        }
        SDL_Delay(splashPassPauseMs);
    }
    return text.release();
}

void closeSplashWindow() {
    splashPicture.reset();
    splashWindowSurface = nullptr;
    splashWindow.reset();
    IMG_Quit();
    // SDL counts its video start-ups: this ends SDL unless the installer window, opened to take
    // the splash's place, has started it too.
    SDL_QuitSubSystem(SDL_INIT_VIDEO);
}
