#include "platform/application_bundle.h"

#include "platform/property_list.h"

#include <filesystem>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

bool isExecutableFile(const fs::path& path) {
    std::error_code error;
    return fs::is_regular_file(path, error) && access(path.c_str(), X_OK) == 0;
}

// The first of keys that the bundle's Info.plist holds as a non-empty string; empty when none.
std::string infoPlistString(const fs::path& bundle, std::initializer_list<const char*> keys) {
    std::string problem;
    const auto info =
        loadPropertyListDictionary((bundle / "Contents" / "Info.plist").string(), problem);
    if (!info) {
        return {};
    }
    for (const char* key : keys) {
        std::string value = propertyListString(*info, key).value_or(std::string());
        if (!value.empty()) {
            return value;
        }
    }
    return {};
}

} // namespace

std::string applicationExecutablePath(const std::string& application) {
    if (application.empty()) {
        return {};
    }
    const fs::path path(application);
    if (isExecutableFile(path)) {
        return path.string();
    }
    std::error_code error;
    if (!fs::is_directory(path, error)) {
        return {};
    }
    std::string name = infoPlistString(path, {"CFBundleExecutable"});
    if (name.empty() || name.find('/') != std::string::npos) {
        name = path.filename().empty() ? path.parent_path().stem().string() : path.stem().string();
    }
    const fs::path executable = path / "Contents" / "MacOS" / name;
    return isExecutableFile(executable) ? executable.string() : std::string();
}

std::string bundleContainingExecutable(const std::string& executable) {
    const fs::path macos = fs::path(executable).parent_path();
    const fs::path contents = macos.parent_path();
    const fs::path bundle = contents.parent_path();
    if (macos.filename() != "MacOS" || contents.filename() != "Contents" ||
        bundle.extension() != ".app") {
        return {};
    }
    return bundle.string();
}

std::string bundleDisplayName(const std::string& bundle) {
    const std::string name = infoPlistString(bundle, {"CFBundleDisplayName", "CFBundleName"});
    return name.empty() ? fs::path(bundle).stem().string() : name;
}
