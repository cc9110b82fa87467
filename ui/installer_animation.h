#pragma once
#include <string>

#include "ui/asset_path.h"
#include "ui/sdl_resources.h"

// installer.gif, decoded the first time the installer window needs it and then kept for the
// rest of the installer's run: the failure notice plays the frames the percentage was drawn on
// instead of decoding the file a second time.
struct InstallerAnimation {
    std::string path = bundleAssetPath("installer.gif");
    GifImageHandle image;
    bool decodeTried = false;
};

// The decoded animation, decoding it on the first call only; none when the file is missing or
// cannot be decoded (a second try would fail the same way).
const GIF_Image* decodedAnimation(InstallerAnimation& animation);
