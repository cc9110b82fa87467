#pragma once
#include <SDL.h>
#include <SDL_ttf.h>
#include <string>

#include "gif/gif_image.h"
#include "ui/installer_animation.h"

// How long the installer window keeps a failed install's text up. Tests lower it.
extern Uint32 installFailedNoticeMs;

// When the worker has failed, the player has not closed the window and text is not empty: plays
// installer.gif (the decode the percentage frames used, when they ran) with text over it in
// place of the percentage for installFailedNoticeMs, or until a close request. Returns at once
// otherwise, and without a font, which could not draw the text.
void showInstallFailedNotice(InstallerAnimation& installerGif, TTF_Font* font, SDL_Color colour,
                             const std::string& text);

// One frame of the notice: frame (or black when none) stretched over the window, text centred on
// a darkened band. Does not present.
void drawInstallFailedFrame(const GIF_Frame* frame, SDL_Texture* text);
