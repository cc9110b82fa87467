#pragma once
#include <memory>
#include <string>

#include "ui/sdl_resources.h"

// SDL's video subsystem for as long as the object lives.
struct SdlVideo {
    SdlVideo() = default;
    SdlVideo(const SdlVideo&) = delete;
    SdlVideo& operator=(const SdlVideo&) = delete;
    ~SdlVideo();
    bool started = false;
};

// The empty window that stands on the screen while uninstalling. Members are declared in this
// order so that tearing down runs renderer, window, then SDL_Quit.
struct UninstallWindow {
    SdlVideo video;
    WindowHandle window;
    RendererHandle renderer;
};

// Starts SDL video and opens a centred, borderless 430 x 389 window titled title with an
// accelerated vsync renderer; nothing is ever drawn. None after logging the failing call.
std::unique_ptr<UninstallWindow> openUninstallWindow(const std::string& title);
