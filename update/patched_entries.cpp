#include "update/patched_entries.h"

#include "launcher/run_log.h"
#include "update/patch/patch_names.h"
#include "update/patch/zstd_patch.h"
#include "update/release/sha256_stream.h"

#include <algorithm>
#include <optional>
#include <set>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr std::string_view sha256Prefix = "sha256:";

std::optional<std::string> sha256OfOpenFile(int fd) {
    Sha256Stream hash;
    std::vector<char> buffer(entryCopyBufferBytes);
    while (true) {
        const ssize_t got = ::read(fd, buffer.data(), buffer.size());
        if (got < 0) {
            return std::nullopt;
        }
        if (got == 0) {
            break;
        }
        hash.update(buffer.data(), static_cast<std::size_t>(got));
    }
    std::string hex = hash.finishHex();
    return hex.empty() ? std::nullopt : std::optional<std::string>(std::move(hex));
}

// The installed file at the entry's path as it is now, with its SHA-256 in hash: from the record
// while the file is still the one recorded, from planning when it read the file, else read here.
// None when no regular file stands there or it cannot be read.
std::optional<InstalledFile> installedBase(const PatchPlanning& planning, const InstallPlan& plan,
                                           std::size_t position) {
    const ZipEntry& entry = *plan.entries[position].entry;
    const std::string path = joined(entry.components, entry.components.size());
    auto base = describeInstalledFile(planning.installedRoot, path, "");
    if (!base || !S_ISREG(base->mode)) {
        return std::nullopt;
    }
    if (planning.recorded != nullptr) {
        const auto found = planning.recorded->find(path);
        if (found != planning.recorded->end() && found->second.hash.starts_with(sha256Prefix) &&
            stillAsInstalled(planning.installedRoot, found->second)) {
            base->hash = found->second.hash.substr(sha256Prefix.size());
            return base;
        }
    }
    if (!plan.entries[position].installedSha256.empty()) {
        base->hash = plan.entries[position].installedSha256;
        return base;
    }
    std::string failure;
    const Descriptor file = openPatchBase(planning.installedRoot, entry.components, failure);
    const auto hash = file.valid() ? sha256OfOpenFile(file.fd) : std::nullopt;
    if (!hash) {
        return std::nullopt;
    }
    base->hash = *hash;
    return base;
}

// The paths of the release's links: a patched file is never staged below one.
// The patch for the entry at position, if the release has a usable one from the installed copy.
std::optional<PatchedEntry> choosePatch(const PatchPlanning& planning, const InstallPlan& plan,
                                        const PatchEntries& patches,
                                        const std::set<std::string>& resultsWithPatches,
                                        std::size_t position) {
    const ZipEntry& entry = *plan.entries[position].entry;
    const std::string& result = plan.entries[position].requiredSha256;
    if (entry.kind != EntryKind::File || result.empty() || !resultsWithPatches.contains(result) ||
        entry.size > largestPatchedFile) {
        return std::nullopt;
    }
    const auto base = installedBase(planning, plan, position);
    if (!base) {
        return std::nullopt; // nothing installed to patch: a first install of this file
    }
    const auto patch = patches.find(PatchKey{base->hash, result});
    if (patch == patches.end()) {
        logFetchedWhole(planning.url, entry.name,
                        "the release has no patch from the installed file");
        return std::nullopt;
    }
    const auto listed = planning.index.find(patchEntryName(patch->first));
    if (listed == planning.index.end() || listed->second.link || listed->second.sha256.empty()) {
        logFetchedWhole(planning.url, entry.name,
                        std::string("its patch is not listed in ") + releaseIndexName);
        return std::nullopt;
    }
    return PatchedEntry{position, patch->second, listed->second.sha256, *base};
}

// The chosen patches in archive order, neighbours up to mergeGapBytes apart in one run.
std::vector<PatchRun> patchRuns(zip_t* archive, std::vector<PatchedEntry> chosen) {
    std::sort(chosen.begin(), chosen.end(), [](const PatchedEntry& a, const PatchedEntry& b) {
        return a.patchIndex < b.patchIndex;
    });
    std::vector<PatchRun> runs;
    for (PatchedEntry& patched : chosen) {
        std::uint64_t gap = 0;
        if (!runs.empty()) {
            const zip_uint64_t last = runs.back().entries.back().patchIndex;
            for (zip_uint64_t index = last + 1; index < patched.patchIndex; ++index) {
                gap += entrySpan(archive, index);
            }
        }
        const bool sameAsLast =
            !runs.empty() && runs.back().entries.back().patchIndex == patched.patchIndex;
        if (runs.empty() || gap > mergeGapBytes) {
            runs.emplace_back();
            gap = 0;
        }
        const std::uint64_t span = sameAsLast ? 0 : entrySpan(archive, patched.patchIndex);
        runs.back().bytes += gap + span;
        runs.back().entries.push_back(std::move(patched));
    }
    return runs;
}

} // namespace

void logFetchedWhole(const std::string& url, const std::string& name, const std::string& why) {
    writeToLog("entry-wise install of " + url + ": fetching " + name + " whole: " + why);
}

PatchPlan planPatches(const PatchPlanning& planning, InstallPlan& plan) {
    const PatchEntries patches = findPatchEntries(planning.archive);
    if (patches.empty()) {
        return {};
    }
    std::set<std::string> resultsWithPatches;
    for (const auto& [key, index] : patches) {
        resultsWithPatches.insert(key.resultSha256);
    }
    const MadeLinks links = releaseLinks(plan.entries);
    std::vector<PatchedEntry> chosen;
    for (std::size_t position = 0; position < plan.entries.size(); ++position) {
        if (plan.entries[position].source != EntrySource::Fetched ||
            !linkAbove(*plan.entries[position].entry, links).empty()) {
            continue;
        }
        if (auto patched = choosePatch(planning, plan, patches, resultsWithPatches, position)) {
            chosen.push_back(std::move(*patched));
        }
    }
    if (chosen.empty()) {
        return {};
    }
    PatchPlan patchPlan;
    patchPlan.entries = chosen.size();
    for (const PatchedEntry& patched : chosen) {
        zip_stat_t status;
        if (zip_stat_index(planning.archive, patched.patchIndex, 0, &status) == 0 &&
            (status.valid & ZIP_STAT_SIZE) != 0) {
            // A patch larger than its file is refused before it is kept.
            const std::uint64_t kept =
                std::min<std::uint64_t>(status.size, plan.entries[patched.position].entry->size);
            patchPlan.largestPatchBytes = std::max(patchPlan.largestPatchBytes, kept);
        }
    }
    for (const PatchedEntry& patched : chosen) {
        plan.entries[patched.position].source = EntrySource::Patched;
    }
    patchPlan.runs = patchRuns(planning.archive, std::move(chosen));
    plan.runs = plannedRuns(plan.entries);
    plan.fetchedBytes = runBytes(plan.runs);
    for (const PatchRun& run : patchPlan.runs) {
        plan.fetchedBytes += run.bytes;
    }
    return patchPlan;
}

void fetchWholeAfterPatches(const std::vector<std::size_t>& staged, InstallPlan& plan) {
    const std::set<std::size_t> patched(staged.begin(), staged.end());
    for (std::size_t position = 0; position < plan.entries.size(); ++position) {
        if (plan.entries[position].source == EntrySource::Patched && !patched.contains(position)) {
            plan.entries[position].source = EntrySource::Fetched;
        }
    }
    plan.runs = plannedRuns(plan.entries);
}
