// The sample game: a window that shows the game's name and version for a few seconds.
//
// Environment (the launcher starts the game with no arguments, so tests and the demo steer it
// through the environment it passes on):
//   SAMPLE_GAME_RECORD=FILE   append "<name> <version> <pid>" to FILE once running
//   SAMPLE_GAME_QUIET=1       open no window; just record and stay alive
//   SAMPLE_GAME_SECONDS=N     how long to stay (default 5)
#include "bundle_info.h"
#include "ui/sdl_resources.h"

#include <SDL.h>
#include <SDL_ttf.h>

#include <chrono>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <iostream>
#include <memory>
#include <string>
#include <thread>
#include <unistd.h>

namespace {

constexpr const char* kFontPath = "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf";
constexpr int kDefaultSeconds = 5;
constexpr int kWidth = 520;
constexpr int kHeight = 200;

std::string environmentValue(const char* name) {
    const char* value = std::getenv(name);
    return value == nullptr ? std::string() : std::string(value);
}

int secondsToStay() {
    const std::string text = environmentValue("SAMPLE_GAME_SECONDS");
    char* end = nullptr;
    const long seconds = std::strtol(text.c_str(), &end, 10);
    if (text.empty() || *end != '\0' || seconds < 0 || seconds > 3600) {
        return kDefaultSeconds;
    }
    return static_cast<int>(seconds);
}

// One append of one short line, so that a reader never sees half a record.
bool appendRecord(const std::string& path, const GameIdentity& identity) {
    const std::string line =
        identity.name + " " + identity.version + " " + std::to_string(getpid()) + "\n";
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (fd < 0) {
        return false;
    }
    const bool written = write(fd, line.data(), line.size()) == static_cast<ssize_t>(line.size());
    return close(fd) == 0 && written;
}

struct SdlSession {
    bool ok = SDL_Init(SDL_INIT_VIDEO) == 0;
    ~SdlSession() { SDL_Quit(); }
};
struct TtfSession {
    bool ok = TTF_Init() == 0;
    ~TtfSession() {
        if (ok) {
            TTF_Quit();
        }
    }
};

int sdlError(const char* function) {
    std::cerr << function << " Error: " << SDL_GetError() << "\n";
    return 1;
}

// Draws text centred at height y; a line that cannot be rendered is skipped.
void drawCentred(SDL_Renderer* renderer, TTF_Font* font, const std::string& text, int y) {
    const SDL_Color white{255, 255, 255, 255};
    SurfaceHandle surface(TTF_RenderUTF8_Blended(font, text.c_str(), white));
    if (!surface) {
        return;
    }
    TextureHandle texture(SDL_CreateTextureFromSurface(renderer, surface.get()));
    if (!texture) {
        return;
    }
    const SDL_Rect target{(kWidth - surface->w) / 2, y, surface->w, surface->h};
    SDL_RenderCopy(renderer, texture.get(), nullptr, &target);
}

bool quitRequested() {
    SDL_Event event;
    while (SDL_PollEvent(&event) != 0) {
        if (event.type == SDL_QUIT || event.type == SDL_KEYDOWN) {
            return true;
        }
    }
    return false;
}

int showWindow(const GameIdentity& identity, int seconds) {
    SdlSession sdl;
    if (!sdl.ok) {
        return sdlError("SDL_Init");
    }
    TtfSession ttf;
    if (!ttf.ok) {
        return sdlError("TTF_Init");
    }
    FontHandle large(TTF_OpenFont(kFontPath, 40));
    FontHandle small(TTF_OpenFont(kFontPath, 24));
    if (!large || !small) {
        return sdlError("TTF_OpenFont");
    }
    WindowHandle window(SDL_CreateWindow(identity.name.c_str(), SDL_WINDOWPOS_CENTERED,
                                         SDL_WINDOWPOS_CENTERED, kWidth, kHeight, 0));
    if (!window) {
        return sdlError("SDL_CreateWindow");
    }
    RendererHandle renderer(SDL_CreateRenderer(window.get(), -1, 0));
    if (!renderer) {
        return sdlError("SDL_CreateRenderer");
    }
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    while (std::chrono::steady_clock::now() < end && !quitRequested()) {
        SDL_SetRenderDrawColor(renderer.get(), 24, 40, 64, 255);
        SDL_RenderClear(renderer.get());
        drawCentred(renderer.get(), large.get(), identity.name, 50);
        drawCentred(renderer.get(), small.get(), "version " + identity.version, 115);
        SDL_RenderPresent(renderer.get());
        SDL_Delay(30);
    }
    return 0;
}

} // namespace

int main() {
    std::error_code error;
    const auto executable = std::filesystem::read_symlink("/proc/self/exe", error);
    const GameIdentity identity = readGameIdentity(executable);
    const std::string record = environmentValue("SAMPLE_GAME_RECORD");
    if (!record.empty() && !appendRecord(record, identity)) {
        std::cerr << "sample_game: cannot write " << record << "\n";
    }
    std::cout << identity.name << " " << identity.version << "\n";
    const int seconds = secondsToStay();
    if (environmentValue("SAMPLE_GAME_QUIET") == "1") {
        std::this_thread::sleep_for(std::chrono::seconds(seconds));
        return 0;
    }
    return showWindow(identity, seconds);
}
