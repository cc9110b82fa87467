#include "platform/path_component.h"

std::string appendPathComponent(const std::string& folder, const std::string& name) {
    std::string joined = folder;
    while (joined.size() > 1 && joined.back() == '/') {
        joined.pop_back();
    }
    std::size_t start = 0;
    while (start < name.size() && name[start] == '/') {
        ++start;
    }
    if (start == name.size()) {
        return joined;
    }
    if (!joined.empty() && joined.back() != '/') {
        joined += '/';
    }
    return joined + name.substr(start);
}

std::string withTrailingSlash(const std::string& folder) {
    if (folder.empty() || folder.back() == '/') {
        return folder;
    }
    return folder + '/';
}
