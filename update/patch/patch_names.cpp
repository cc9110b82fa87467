#include "update/patch/patch_names.h"

#include "update/release/sha256_stream.h"
#include "update/unpack/launcher_records.h"

namespace {

constexpr std::string_view patchSuffix = ".zst";
constexpr std::size_t hexLength = 64;

} // namespace

std::string patchEntryName(const PatchKey& key) {
    return std::string(patchFolderName) + "/" + key.baseSha256 + "-" + key.resultSha256 +
           std::string(patchSuffix);
}

std::optional<PatchKey> parsePatchEntryName(std::string_view name) {
    const std::string prefix = std::string(patchFolderName) + "/";
    const std::size_t length = prefix.size() + hexLength + 1 + hexLength + patchSuffix.size();
    if (name.size() != length || !name.starts_with(prefix) || !name.ends_with(patchSuffix) ||
        name[prefix.size() + hexLength] != '-') {
        return std::nullopt;
    }
    const std::string_view base = name.substr(prefix.size(), hexLength);
    const std::string_view result = name.substr(prefix.size() + hexLength + 1, hexLength);
    if (!isSha256Hex(base) || !isSha256Hex(result)) {
        return std::nullopt;
    }
    return PatchKey{std::string(base), std::string(result)};
}

PatchEntries findPatchEntries(const std::vector<std::string>& names) {
    PatchEntries patches;
    for (std::size_t index = 0; index < names.size(); ++index) {
        if (const auto key = parsePatchEntryName(names[index])) {
            patches.emplace(*key, index);
        }
    }
    return patches;
}

PatchEntries findPatchEntries(zip_t* archive) {
    const zip_int64_t total = zip_get_num_entries(archive, 0);
    std::vector<std::string> names;
    for (zip_int64_t index = 0; index < total; ++index) {
        const char* name = zip_get_name(archive, static_cast<zip_uint64_t>(index), 0);
        names.emplace_back(name != nullptr ? name : "");
    }
    return findPatchEntries(names);
}
