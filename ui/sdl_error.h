#pragma once
#include <string>

// SDL's text for the last failure of one of its calls (SDL_image's and SDL_ttf's included).
std::string sdlError();

// Logs a failed SDL start-up call as function + " Error: " + SDL's text.
void logSdlError(const std::string& function);
