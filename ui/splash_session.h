#pragma once
#include <atomic>

// The splash as the launcher flow uses it: window, picture, SDL_ttf and font together, shown
// while the launcher checks for updates and closed when the content step begins.

// Opens it; false after logging which step failed (nothing of it stays open then).
bool openSplash();
// Draws frames until ended is raised or a close request raises launcherDone. Nothing when the
// splash is not open.
void showSplashUntil(const std::atomic<bool>& ended);
// Closes it when it is open; SDL's video stays up for a window that has taken its place.
void closeSplash();
bool splashIsOpen();
