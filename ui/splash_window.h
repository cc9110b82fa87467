#pragma once
#include <SDL.h>
#include <SDL_ttf.h>
#include <atomic>

// The launcher's splash: launcher.gif with the checking-for-updates text over it, drawn in
// software on the window's own surface.
bool openSplashWindow();
bool loadSplashImage();
// Runs passes until launcherDone is set; returns the last pass's text surface (the caller frees
// it after closeSplashWindow), or none.
SDL_Surface* runSplashFrameLoop(TTF_Font* font);
// The same, ending also after the first pass that finds ended raised.
SDL_Surface* runSplashFrameLoop(TTF_Font* font, const std::atomic<bool>& ended);
// Leaves SDL's video running when another window (the installer's) still uses it.
void closeSplashWindow();

// Between two passes, so that the loop does not keep a core busy.
inline constexpr Uint32 splashPassPauseMs = 16;
