#include "ui/sdl_error.h"

#include "launcher/run_log.h"

#include <SDL.h>

std::string sdlError() {
    return SDL_GetError();
}

void logSdlError(const std::string& function) {
    writeToLog(function + " Error: " + sdlError());
}
