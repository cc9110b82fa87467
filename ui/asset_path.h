#pragma once
#include <SDL_ttf.h>
#include <string>

// The bundle's resource folder + "/Assets/" + name: where the windows' pictures live.
std::string bundleAssetPath(const std::string& name);

// A relative path as the windows' font loading expects it to resolve: inside the bundle's
// resource folder first, then against the working folder. Resolving it here leaves the working
// folder alone, which the game started meanwhile inherits.
std::string resolveResourceRelativePath(const std::string& relativePath);

// Opens "Assets/" + fileName at pointSize with kerning off; none on failure (SDL_GetError says
// why).
TTF_Font* openAssetFont(const std::string& fileName, int pointSize);
