#include "tools/publish/patched_pack.h"

#include "tools/publish/release_patches.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <map>

namespace fs = std::filesystem;

namespace {

// The archive being written, beside the output so that it can be renamed into place; removed
// unless it was.
struct PartialArchive {
    fs::path path;
    bool placed = false;
    ~PartialArchive() {
        if (!placed) {
            std::error_code ignored;
            fs::remove(path, ignored);
        }
    }
};

std::vector<PatchTarget> targetsOf(const std::vector<PackEntry>& entries,
                                   const std::vector<ReleaseIndexEntry>& index) {
    std::map<std::string, std::string> hashes;
    for (const ReleaseIndexEntry& entry : index) {
        if (!entry.link) {
            hashes[entry.name] = entry.sha256;
        }
    }
    std::vector<PatchTarget> targets;
    for (const PackEntry& entry : entries) {
        const auto hash = hashes.find(entry.name);
        if (S_ISREG(entry.status.st_mode) && hash != hashes.end()) {
            targets.push_back({entry.name, entry.source,
                               static_cast<std::uint64_t>(entry.status.st_size), hash->second});
        }
    }
    return targets;
}

// Each candidate's target learns the size of its deflated entry in the archive at path.
bool learnCompressedSizes(const fs::path& path, std::vector<PatchTarget>& targets,
                          const std::vector<PatchCandidate>& candidates, std::string& problem) {
    std::vector<std::string> names;
    for (const PatchCandidate& candidate : candidates) {
        names.push_back(targets[candidate.target].name);
    }
    std::vector<std::uint64_t> sizes;
    if (!readCompressedSizes(path, names, sizes, problem)) {
        return false;
    }
    for (std::size_t i = 0; i < candidates.size(); ++i) {
        targets[candidates[i].target].compressedSize = sizes[i];
    }
    return true;
}

} // namespace

bool writePatchedArchive(const fs::path& output, const std::vector<PackEntry>& entries,
                         std::vector<ReleaseIndexEntry> index, const PatchOptions& options,
                         std::ostream& report, std::string& problem) {
    const auto older = openOlderReleases(options.olderArchives, problem);
    if (!older) {
        return false;
    }
    std::vector<PatchTarget> targets = targetsOf(entries, index);
    const auto candidates = findPatchCandidates(targets, *older, options.minimumSize);
    if (candidates.empty()) {
        report << "no patches: no file of at least " << options.minimumSize
               << " bytes is in an older archive with other content\n";
        return writeArchive(output, entries, formatReleaseIndex(std::move(index)), problem);
    }
    const fs::path folder = fs::absolute(output).parent_path();
    PartialArchive partial{folder / ("." + output.filename().string() + ".packing")};
    if (!writeBundleArchive(partial.path, entries, problem) ||
        !learnCompressedSizes(partial.path, targets, candidates, problem)) {
        return false;
    }
    const auto patches = makeReleasePatches(targets, *older, candidates, folder, report, problem);
    if (!patches) {
        return false;
    }
    std::vector<StoredAddition> stored;
    for (const KeptPatch& patch : *patches) {
        stored.push_back({patch.name, patch.file.fd});
        index.push_back({patch.name, patch.sha256, false});
    }
    if (!appendAndClose(partial.path, stored, formatReleaseIndex(std::move(index)),
                        entries.front().status.st_mtime, problem)) {
        return false;
    }
    if (std::rename(partial.path.c_str(), output.c_str()) != 0) {
        problem = "cannot write " + output.string() + ": " + std::strerror(errno);
        return false;
    }
    partial.placed = true;
    report << "patches added: " << patches->size() << "\n";
    return true;
}
