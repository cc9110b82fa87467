#include "relocation/bundle_paths.h"

#include <filesystem>

namespace fs = std::filesystem;

namespace {

std::string withoutTrailingSlashes(std::string path) {
    while (path.size() > 1 && path.back() == '/') {
        path.pop_back();
    }
    return path;
}

bool componentHasAppExtension(const fs::path& component) {
    return component.extension() == ".app";
}

} // namespace

std::string parentFolder(const std::string& path) {
    return fs::path(withoutTrailingSlashes(path)).parent_path().string();
}

std::string lastPathComponent(const std::string& path) {
    return fs::path(withoutTrailingSlashes(path)).filename().string();
}

bool hasAppExtension(const std::string& path) {
    return componentHasAppExtension(fs::path(withoutTrailingSlashes(path)).filename());
}

bool bundleIsNested(const std::string& bundlePath) {
    for (const fs::path& component : fs::path(parentFolder(bundlePath))) {
        if (componentHasAppExtension(component)) {
            return true;
        }
    }
    return false;
}

bool isInApplicationsFolder(const std::string& bundlePath,
                            const std::vector<std::string>& folders) {
    for (const std::string& folder : folders) {
        // An empty entry would be a prefix of every path.
        if (!folder.empty() && bundlePath.starts_with(folder)) {
            return true;
        }
    }
    for (const fs::path& component : fs::path(bundlePath)) {
        if (component == "Applications") {
            return true;
        }
    }
    return false;
}

std::string standardizedPath(const std::string& path) {
    if (path.empty()) {
        return path;
    }
    return withoutTrailingSlashes(fs::path(path).lexically_normal().string());
}
