#include "ui/window_events.h"

#include <SDL.h>

bool drainWindowEvents() {
    bool closeRequested = false;
    SDL_Event event;
    while (SDL_PollEvent(&event)) {
        closeRequested |= event.type == SDL_QUIT;
    }
    return closeRequested;
}
