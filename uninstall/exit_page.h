#pragma once
#include <string>

// Opens url in the user's default handler (xdg-open, found on PATH) and waits for the opener to
// end; its result is not looked at. The URL is the opener's one argument and never reaches a
// shell, so no character in it can run anything else.
void openExitPage(const std::string& url);
