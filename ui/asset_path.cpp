#include "ui/asset_path.h"

#include "platform/main_bundle.h"

#include <SDL_ttf.h>
#include <filesystem>
#include <system_error>

namespace fs = std::filesystem;

std::string bundleAssetPath(const std::string& name) {
    return mainBundleResourcePath() + "/Assets/" + name;
}

std::string resolveResourceRelativePath(const std::string& relativePath) {
    if (relativePath.empty() || relativePath.front() == '/') {
        return relativePath;
    }
    const std::string inBundle = mainBundleResourcePath() + "/" + relativePath;
    std::error_code error;
    return fs::exists(inBundle, error) ? inBundle : relativePath;
}

TTF_Font* openAssetFont(const std::string& fileName, int pointSize) {
    TTF_Font* font =
        TTF_OpenFont(resolveResourceRelativePath("Assets/" + fileName).c_str(), pointSize);
    if (font != nullptr) {
        TTF_SetFontKerning(font, 0);
    }
    return font;
}
