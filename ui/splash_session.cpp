#include "ui/splash_session.h"

#include "launcher/launcher_config.h"
#include "launcher/run_log.h"
#include "ui/asset_path.h"
#include "ui/sdl_error.h"
#include "ui/sdl_resources.h"
#include "ui/splash_window.h"

#include <SDL_ttf.h>
#include <string>

namespace {

bool splashOpen = false;
bool fontLibraryStarted = false;
FontHandle splashFont;

} // namespace

bool openSplash() {
    if (splashOpen) {
        return true;
    }
    if (!openSplashWindow()) {
        writeToLog("Failed to initialize SDLImage!");
        closeSplashWindow();
        return false;
    }
    if (!loadSplashImage()) {
        writeToLog("Failed to load SDLImage media!");
        closeSplashWindow();
        return false;
    }
    if (TTF_Init() < 0) {
        logSdlError("TTF_Init");
        closeSplashWindow();
        return false;
    }
    fontLibraryStarted = true;
    splashFont.reset(openAssetFont(launcherConfig.launcherFontFileName,
                                   launcherConfig.launcherFontPointSizeOrIndex));
    if (!splashFont) {
        logSdlError("TTF_OpenFont");
    }
    splashOpen = true;
    return true;
}

void showSplashUntil(const std::atomic<bool>& ended) {
    if (!splashOpen) {
        return;
    }
    const SurfaceHandle lastText(runSplashFrameLoop(splashFont.get(), ended));
}

void closeSplash() {
    if (!splashOpen) {
        return;
    }
    splashOpen = false;
    splashFont.reset();
    if (fontLibraryStarted) {
        TTF_Quit();
        fontLibraryStarted = false;
    }
    closeSplashWindow();
}

bool splashIsOpen() {
    return splashOpen;
}
