// CPU time the two windows use while they are on screen, as a share of one core:
//   window_cpu installer [seconds]   the installer animation with the percentage over it
//   window_cpu splash [seconds]      the splash frame loop with its text
// Built inside a bundle of its own whose Assets are the launcher's, so the windows draw exactly
// what the launcher ships.
#include "launcher/launcher_config.h"
#include "launcher/launcher_flow.h"
#include "launcher/run_log.h"
#include "ui/asset_path.h"
#include "ui/installer_window.h"
#include "ui/splash_window.h"
#include "update/content_install_worker.h"
#include "update/http/transfer_progress.h"

#include <SDL.h>
#include <SDL_ttf.h>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <sys/resource.h>
#include <thread>
#include <unistd.h>

namespace {

// The report's own stream: the run log takes standard output over.
FILE* reportStream = stdout;

double cpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

double wallSeconds() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

void report(const char* what, double cpu, double wall, long frames) {
    std::fprintf(reportStream, "%s: %.2f s CPU over %.2f s on screen = %.1f %% of one core", what,
                 cpu, wall, 100.0 * cpu / wall);
    if (frames >= 0) {
        std::fprintf(reportStream, ", %ld frames (%.1f per second)", frames, frames / wall);
    }
    std::fprintf(reportStream, "\n");
    std::fflush(reportStream);
}

int measureInstaller(double seconds) {
    if (openInstallerWindow("Drift Moor") != 0) {
        std::fprintf(stderr, "cannot open the installer window: %s\n", SDL_GetError());
        return 1;
    }
    TTF_Font* font = openAssetFont(launcherConfig.contentInstallerFontFileName,
                                   launcherConfig.contentInstallerFontPointSizeOrIndex);
    std::thread progress([seconds] {
        // A download moving along, so every frame renders a fresh percentage.
        const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
        while (std::chrono::steady_clock::now() < end) {
            downloadProgressPercent = (downloadProgressPercent + 1) % 101;
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        installerDone.store(true, std::memory_order_release);
    });
    const long framesBefore = installerFramesShown;
    const double cpuBefore = cpuSeconds();
    const double wallBefore = wallSeconds();
    InstallerAnimation installerGif;
    runInstallerAnimation(installerGif, font, SDL_Color{255, 255, 255, 0});
    const double cpu = cpuSeconds() - cpuBefore;
    const double wall = wallSeconds() - wallBefore;
    progress.join();
    if (font != nullptr) {
        TTF_CloseFont(font);
    }
    TTF_Quit();
    closeInstallerWindow();
    report("installer window", cpu, wall, installerFramesShown - framesBefore);
    return 0;
}

int measureSplash(double seconds) {
    if (!openSplashWindow() || !loadSplashImage() || TTF_Init() < 0) {
        std::fprintf(stderr, "cannot open the splash window: %s\n", SDL_GetError());
        return 1;
    }
    TTF_Font* font = openAssetFont(launcherConfig.launcherFontFileName,
                                   launcherConfig.launcherFontPointSizeOrIndex);
    std::thread closer([seconds] {
        std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
        SDL_Event quit{};
        quit.type = SDL_QUIT;
        SDL_PushEvent(&quit);
    });
    launcherDone = false;
    const double cpuBefore = cpuSeconds();
    const double wallBefore = wallSeconds();
    SDL_Surface* text = runSplashFrameLoop(font);
    const double cpu = cpuSeconds() - cpuBefore;
    const double wall = wallSeconds() - wallBefore;
    closer.join();
    closeSplashWindow();
    SDL_FreeSurface(text);
    if (font != nullptr) {
        TTF_CloseFont(font);
    }
    TTF_Quit();
    report("splash loop", cpu, wall, -1);
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    const std::string mode = argc > 1 ? argv[1] : "installer";
    const double seconds = argc > 2 ? std::atof(argv[2]) : 10.0;
    loadLauncherConfig("en");
    loadContentInstallerConfig();
    reportStream = fdopen(dup(STDOUT_FILENO), "w");
    char logFolder[] = "/tmp/window-cpu-XXXXXX";
    setupLogFile(mkdtemp(logFolder));
    if (mode == "installer") {
        return measureInstaller(seconds);
    }
    if (mode == "splash") {
        return measureSplash(seconds);
    }
    std::fprintf(stderr, "usage: window_cpu installer|splash [seconds]\n");
    return 2;
}
