#include "tools/publish/download_estimate.h"

#include "update/patch/patch_names.h"

#include <map>

std::optional<std::vector<ReleaseEntry>> readReleaseEntries(zip_t* archive, std::string& problem) {
    const zip_int64_t count = zip_get_num_entries(archive, 0);
    std::vector<ReleaseEntry> entries;
    for (zip_int64_t i = 0; i < count; ++i) {
        zip_stat_t status;
        if (zip_stat_index(archive, static_cast<zip_uint64_t>(i), 0, &status) != 0 ||
            (status.valid & (ZIP_STAT_NAME | ZIP_STAT_COMP_SIZE)) !=
                (ZIP_STAT_NAME | ZIP_STAT_COMP_SIZE)) {
            problem = std::string("cannot read entry ") + std::to_string(i) + ": " +
                      zip_strerror(archive);
            return std::nullopt;
        }
        entries.push_back({status.name, status.comp_size});
    }
    return entries;
}

PlayersDownload newPlayersDownload(const std::vector<ReleaseEntry>& entries) {
    PlayersDownload download{"new players"};
    for (const ReleaseEntry& entry : entries) {
        if (parsePatchEntryName(entry.name)) {
            continue;
        }
        download.bytes += entry.compressedBytes;
        ++download.entries;
    }
    return download;
}

PlayersDownload olderPlayersDownload(const std::vector<ReleaseEntry>& entries,
                                     const std::vector<ReleaseIndexEntry>& index,
                                     const OlderRelease& older) {
    std::vector<std::string> names;
    std::map<std::string, std::uint64_t> sizes;
    for (const ReleaseEntry& entry : entries) {
        names.push_back(entry.name);
        sizes[entry.name] = entry.compressedBytes;
    }
    const PatchEntries patches = findPatchEntries(names);
    PlayersDownload download{older.path};
    const auto fetch = [&](const std::string& name) {
        download.bytes += sizes[name];
        ++download.entries;
    };
    fetch(releaseIndexName);
    for (const ReleaseIndexEntry& file : index) {
        const auto installed = older.index.find(file.name);
        const bool same = installed != older.index.end() && installed->second.link == file.link &&
                          installed->second.sha256 == file.sha256;
        if (same || parsePatchEntryName(file.name)) {
            continue;
        }
        const auto patch = installed == older.index.end() || file.link
                               ? patches.end()
                               : patches.find({installed->second.sha256, file.sha256});
        if (patch == patches.end()) {
            fetch(file.name);
            continue;
        }
        fetch(names[patch->second]);
        ++download.patched;
    }
    return download;
}
