#include "bundle_info.h"

#include <fstream>
#include <memory>
#include <optional>
#include <plist/plist.h>
#include <sstream>

namespace fs = std::filesystem;

namespace {

struct PlistFree {
    void operator()(plist_t node) const { plist_free(node); }
};
using Plist = std::unique_ptr<void, PlistFree>;

struct CharFree {
    void operator()(char* text) const { free(text); }
};

Plist loadDictionary(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        return nullptr;
    }
    std::ostringstream bytes;
    bytes << in.rdbuf();
    const std::string data = bytes.str();
    plist_t root = nullptr;
    plist_from_memory(data.data(), static_cast<uint32_t>(data.size()), &root);
    Plist owned(root);
    if (!owned || plist_get_node_type(owned.get()) != PLIST_DICT) {
        return nullptr;
    }
    return owned;
}

std::optional<std::string> stringValue(const Plist& dictionary, const char* key) {
    plist_t node = plist_dict_get_item(dictionary.get(), key);
    if (node == nullptr || plist_get_node_type(node) != PLIST_STRING) {
        return std::nullopt;
    }
    char* raw = nullptr;
    plist_get_string_val(node, &raw);
    std::unique_ptr<char, CharFree> text(raw);
    if (!text || text.get()[0] == '\0') {
        return std::nullopt;
    }
    return std::string(text.get());
}

} // namespace

GameIdentity readGameIdentity(const fs::path& executable) {
    GameIdentity identity;
    const fs::path contents = executable.parent_path().parent_path();
    if (executable.parent_path().filename() != "MacOS" || contents.filename() != "Contents") {
        return identity;
    }
    const Plist info = loadDictionary(contents / "Info.plist");
    if (!info) {
        return identity;
    }
    identity.name = stringValue(info, "CFBundleDisplayName")
                        .value_or(stringValue(info, "CFBundleName").value_or(identity.name));
    identity.version = stringValue(info, "CFBundleShortVersionString").value_or(identity.version);
    return identity;
}
