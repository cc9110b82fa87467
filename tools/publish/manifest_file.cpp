#include "tools/publish/manifest_file.h"

#include <filesystem>
#include <fstream>
#include <sstream>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

constexpr std::uintmax_t largestManifest = 1 << 20;

} // namespace

std::optional<std::string> readManifestFile(const std::string& path, std::string& problem) {
    std::error_code error;
    if (!fs::is_regular_file(path, error)) {
        problem = path + (fs::exists(path, error) ? " is not a regular file" : " does not exist");
        return std::nullopt;
    }
    if (fs::file_size(path, error) > largestManifest) {
        problem = path + " is larger than " + std::to_string(largestManifest) +
                  " bytes; that is no manifest";
        return std::nullopt;
    }
    std::ifstream in(path, std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    if (!in || in.bad()) {
        problem = "cannot read " + path;
        return std::nullopt;
    }
    return bytes.str();
}

bool writeFileAtomically(const std::string& target, const std::string& text, std::string& problem) {
    const fs::path partial = target + ".partial-" + std::to_string(getpid());
    {
        std::ofstream out(partial, std::ios::binary | std::ios::trunc);
        out << text;
        out.close();
        if (!out) {
            problem = "cannot write " + partial.string();
            std::error_code ignored;
            fs::remove(partial, ignored);
            return false;
        }
    }
    std::error_code error;
    fs::rename(partial, target, error);
    if (error) {
        problem = "cannot rename " + partial.string() + " to " + target + ": " + error.message();
        fs::remove(partial, error);
        return false;
    }
    return true;
}
