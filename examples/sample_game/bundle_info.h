#pragma once
#include <filesystem>
#include <string>

struct GameIdentity {
    std::string name = "Sample Game";
    std::string version = "unknown";
};

// The name (CFBundleDisplayName, else CFBundleName) and version (CFBundleShortVersionString) of
// the X.app whose Contents/MacOS holds executable; the defaults outside a bundle.
GameIdentity readGameIdentity(const std::filesystem::path& executable);
