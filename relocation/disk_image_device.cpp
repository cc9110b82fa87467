#include "relocation/disk_image_device.h"

#include <plist/plist.h>

namespace {

// The walk stops at the first node of a wrong kind; a match ends it too.
enum class Walk { Continue, Found, WrongKind };

plist_t entryOfKind(plist_t dictionary, const char* key, plist_type kind) {
    const plist_t entry = plist_dict_get_item(dictionary, key);
    return entry && plist_get_node_type(entry) == kind ? entry : nullptr;
}

// The key of kind in the dictionary at index of array; none when either is of another kind.
plist_t entryAt(plist_t array, std::uint32_t index, const char* key, plist_type kind) {
    const plist_t item = plist_array_get_item(array, index);
    if (!item || plist_get_node_type(item) != PLIST_DICT) {
        return nullptr;
    }
    return entryOfKind(item, key, kind);
}

Walk walkSystemEntities(plist_t entities, const std::string& mountSource) {
    for (std::uint32_t i = 0; i < plist_array_get_size(entities); ++i) {
        const plist_t device = entryAt(entities, i, "dev-entry", PLIST_STRING);
        if (!device) {
            return Walk::WrongKind;
        }
        std::uint64_t length = 0;
        const char* text = plist_get_string_ptr(device, &length);
        if (text && std::string(text, length) == mountSource) {
            return Walk::Found;
        }
    }
    return Walk::Continue;
}

} // namespace

std::optional<std::string> deviceInHdiutilInfo(const PropertyList& info,
                                               const std::string& mountSource) {
    const plist_t root = static_cast<plist_t>(info.get());
    if (!root || plist_get_node_type(root) != PLIST_DICT) {
        return std::nullopt;
    }
    const plist_t images = entryOfKind(root, "images", PLIST_ARRAY);
    if (!images) {
        return std::nullopt;
    }
    for (std::uint32_t i = 0; i < plist_array_get_size(images); ++i) {
        const plist_t entities = entryAt(images, i, "system-entities", PLIST_ARRAY);
        if (!entities) {
            return std::nullopt;
        }
        const Walk walk = walkSystemEntities(entities, mountSource);
        if (walk == Walk::Found) {
            return mountSource;
        }
        if (walk == Walk::WrongKind) {
            return std::nullopt;
        }
    }
    return std::nullopt;
}
