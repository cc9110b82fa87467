#include "ui/installer_window.h"

#include "launcher/launcher_config.h"
#include "launcher/run_log.h"
#include "ui/sdl_error.h"
#include "ui/sdl_resources.h"
#include "ui/window_events.h"
#include "update/content_install_worker.h"
#include "update/http/transfer_progress.h"
#include "update/unzip_progress.h"

SDL_Window* installerWindow = nullptr;
SDL_Renderer* installerRenderer = nullptr;
std::atomic<long> installerFramesShown{0};
bool installerCloseRequested = false;

namespace {

// A close request raises installerDone, as the worker does when it finishes.
void drainInstallerEvents() {
    if (drainWindowEvents()) {
        installerCloseRequested = true;
        installerDone.store(true, std::memory_order_release);
    }
}

// Without an animation the window still answers a close request and waits for the worker,
// without keeping a core busy.
void waitWithoutAnimation() {
    while (!installerDone.load(std::memory_order_acquire)) {
        drainInstallerEvents();
        SDL_Delay(installerIdlePollMs);
    }
}

void showFrame(const GIF_Frame& frame, TTF_Font* font, SDL_Color colour) {
    drainInstallerEvents();
    drawInstallerFrame(frame, font, colour);
    SDL_RenderPresent(installerRenderer);
    ++installerFramesShown;
    SDL_Delay(static_cast<Uint32>(frame.delay > 0 ? frame.delay : 0));
}

} // namespace

int openInstallerWindow(const std::string& title) {
    if (SDL_Init(SDL_INIT_VIDEO) != 0) {
        logSdlError("SDL_Init");
        return 1;
    }
    if (TTF_Init() < 0) {
        logSdlError("TTF_Init");
        return 1;
    }
    const LauncherConfig& c = launcherConfig;
    installerWindow = SDL_CreateWindow(title.c_str(), SDL_WINDOWPOS_CENTERED,
                                       SDL_WINDOWPOS_CENTERED, c.contentInstallerImageWidth,
                                       c.contentInstallerImageHeight, SDL_WINDOW_BORDERLESS);
    if (installerWindow == nullptr) {
        logSdlError("SDL_CreateWindow");
        return 1;
    }
    installerRenderer = SDL_CreateRenderer(installerWindow, -1,
                                           SDL_RENDERER_ACCELERATED | SDL_RENDERER_PRESENTVSYNC);
    if (installerRenderer == nullptr) {
        SDL_DestroyWindow(installerWindow);
        installerWindow = nullptr;
        logSdlError("SDL_CreateRenderer");
        TTF_Quit();
        SDL_Quit();
        return 1;
    }
    return 0;
}

void closeInstallerWindow() {
    if (installerRenderer != nullptr) {
        SDL_DestroyRenderer(installerRenderer);
        installerRenderer = nullptr;
    }
    if (installerWindow != nullptr) {
        SDL_DestroyWindow(installerWindow);
        installerWindow = nullptr;
    }
    SDL_Quit();
}

std::string installerPercentText(int downloadPercent, int unzipPercent) {
    return std::to_string(downloadPercent / 2 + unzipPercent / 2) + "%";
}

void drawInstallerFrame(const GIF_Frame& frame, TTF_Font* font, SDL_Color colour) {
    const TextureHandle picture(
        frame.surface ? SDL_CreateTextureFromSurface(installerRenderer, frame.surface) : nullptr);
    TextureHandle text;
    const LauncherConfig& c = launcherConfig;
    const SDL_Rect textRect{
        c.contentInstallerPercentDisplayTextX, c.contentInstallerPercentDisplayTextY,
        c.contentInstallerPercentDisplayTextWidth, c.contentInstallerPercentDisplayTextHeight};
    if (font != nullptr) {
        const std::string percent =
            installerPercentText(downloadProgressPercent.load(std::memory_order_relaxed),
                                 unzipProgressPercent.load(std::memory_order_relaxed));
        const SurfaceHandle rendered(TTF_RenderText_Blended(font, percent.c_str(), colour));
        if (rendered) {
            text.reset(SDL_CreateTextureFromSurface(installerRenderer, rendered.get()));
        }
    }
    SDL_RenderClear(installerRenderer);
    if (picture) {
        SDL_RenderCopy(installerRenderer, picture.get(), nullptr, nullptr);
    }
    if (text) {
        SDL_RenderCopy(installerRenderer, text.get(), nullptr, &textRect);
    }
}

void runInstallerAnimation(InstallerAnimation& installerGif, TTF_Font* font, SDL_Color colour) {
    // A missing or broken animation cannot be fixed by loading it again; go on without it.
    const GIF_Image* animation = decodedAnimation(installerGif);
    if (animation == nullptr || animation->frameCount == 0) {
        writeToLog("Installer animation unavailable, waiting without it: " + installerGif.path);
        waitWithoutAnimation();
        return;
    }
    do {
        for (Uint16 i = 0; i < animation->frameCount; ++i) {
            showFrame(*animation->frames[i], font, colour);
        }
    } while (!installerDone.load(std::memory_order_acquire));
}
