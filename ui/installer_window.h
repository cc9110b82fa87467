#pragma once
#include <SDL.h>
#include <SDL_ttf.h>
#include <atomic>
#include <string>

#include "gif/gif_image.h"
#include "ui/installer_animation.h"

// The content installer's borderless window and its accelerated, vertically synced renderer.
extern SDL_Window* installerWindow;
extern SDL_Renderer* installerRenderer;

// 0 when SDL, SDL_ttf, the window and its renderer are ready; 1 after a logged failure.
int openInstallerWindow(const std::string& title);
// Destroys renderer and window, then shuts SDL down.
void closeInstallerWindow();

// "<download / 2 + unzip / 2>%", each half truncated before the sum.
std::string installerPercentText(int downloadPercent, int unzipPercent);

// One frame: the frame stretched over the whole window and, with a font, the percentage scaled
// into its rectangle. Does not present.
void drawInstallerFrame(const GIF_Frame& frame, TTF_Font* font, SDL_Color colour);

// Plays installer.gif pass after pass until installerDone is found set after a pass; without a
// playable animation, waits for installerDone.
void runInstallerAnimation(InstallerAnimation& installerGif, TTF_Font* font, SDL_Color colour);

// Whether the player asked the installer window to close (as opposed to the worker finishing).
extern bool installerCloseRequested;

// Frames shown since the process started; lets tests see how far the animation got.
extern std::atomic<long> installerFramesShown;

// How often the window looks at installerDone when it has no animation to play.
inline constexpr Uint32 installerIdlePollMs = 16;
