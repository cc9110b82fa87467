#include "platform/folder_containment.h"

#include <algorithm>
#include <filesystem>
#include <system_error>

namespace fs = std::filesystem;

namespace {

fs::path resolved(const std::string& path) {
    std::error_code error;
    const fs::path canonical = fs::weakly_canonical(path, error);
    return error ? fs::path(path).lexically_normal() : canonical;
}

} // namespace

bool folderHoldsPath(const std::string& folder, const std::string& path) {
    if (folder.empty() || path.empty()) {
        return false;
    }
    // Compared component by component: "/tmp/App" does not hold "/tmp/App 2".
    const fs::path outer = resolved(folder);
    const fs::path inner = resolved(path);
    auto outerPart = outer.begin();
    auto innerPart = inner.begin();
    for (; outerPart != outer.end(); ++outerPart, ++innerPart) {
        // A trailing separator leaves an empty last component, which any remainder matches.
        if (outerPart->empty() && std::next(outerPart) == outer.end()) {
            return true;
        }
        if (innerPart == inner.end() || *outerPart != *innerPart) {
            return false;
        }
    }
    return true;
}
