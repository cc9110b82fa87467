#include "platform/main_bundle.h"

#include "platform/application_bundle.h"

#include <filesystem>
#include <system_error>

namespace fs = std::filesystem;

std::string executablePath() {
    std::error_code error;
    const fs::path path = fs::read_symlink("/proc/self/exe", error);
    return error ? std::string() : path.string();
}

std::string bundlePathForExecutable(const std::string& executable) {
    const std::string bundle = bundleContainingExecutable(executable);
    return bundle.empty() ? fs::path(executable).parent_path().string() : bundle;
}

std::string resourcePathForExecutable(const std::string& executable) {
    const std::string bundle = bundleContainingExecutable(executable);
    return bundle.empty() ? fs::path(executable).parent_path().string()
                          : (fs::path(bundle) / "Contents" / "Resources").string();
}

std::string mainBundlePath() {
    return bundlePathForExecutable(executablePath());
}

std::string mainBundleResourcePath() {
    return resourcePathForExecutable(executablePath());
}
