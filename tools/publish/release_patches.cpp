#include "tools/publish/release_patches.h"

#include "platform/mapped_file.h"
#include "platform/write_all.h"
#include "tools/publish/archive_index.h"
#include "tools/publish/patch_maker.h"
#include "update/patch/patch_names.h"
#include "update/patch/zstd_patch.h"
#include "update/release/sha256_stream.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <set>
#include <sys/stat.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

struct EntryCloser {
    void operator()(zip_file_t* entry) const { zip_fclose(entry); }
};

std::string systemError(const std::string& what) {
    return what + ": " + std::strerror(errno);
}

// A file without a name in folder (on the same disk as the archive, where there is room for an
// older release's largest file), gone as soon as it is closed.
Descriptor scratchFile(const fs::path& folder, std::string& problem) {
    Descriptor file(open(folder.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600));
    if (!file.valid()) {
        std::string pattern = (folder / ".launcher-publish-XXXXXX").string();
        file = Descriptor(mkostemp(pattern.data(), O_CLOEXEC));
        if (file.valid()) {
            unlink(pattern.c_str());
        }
    }
    if (!file.valid()) {
        problem = systemError("cannot make a scratch file in " + folder.string());
    }
    return file;
}

// Unpacks an older file into fd, hashing it on the way; its SHA-256, or none with problem set.
std::optional<std::string> extractOlder(const OlderRelease& older, zip_uint64_t entry, int fd,
                                        std::string& problem) {
    const char* name = zip_get_name(older.archive.get(), entry, 0);
    const std::string label = std::string(name != nullptr ? name : "?") + " of " + older.path;
    const std::unique_ptr<zip_file_t, EntryCloser> data(
        zip_fopen_index(older.archive.get(), entry, 0));
    if (!data) {
        problem = "cannot read " + label + ": " + zip_strerror(older.archive.get());
        return std::nullopt;
    }
    std::vector<char> buffer(256 * 1024);
    Sha256Stream hash;
    while (true) {
        const zip_int64_t got = zip_fread(data.get(), buffer.data(), buffer.size());
        if (got < 0) {
            problem = "cannot read " + label + ": " + zip_file_strerror(data.get());
            return std::nullopt;
        }
        if (got == 0) {
            break;
        }
        hash.update(buffer.data(), static_cast<std::size_t>(got));
        if (!writeAll(fd, buffer.data(), static_cast<std::size_t>(got))) {
            problem = systemError("cannot keep " + label + " in a scratch file");
            return std::nullopt;
        }
    }
    std::string sha256 = hash.finishHex();
    if (sha256.empty()) {
        problem = "cannot hash " + label;
        return std::nullopt;
    }
    return sha256;
}

// Whether an older entry is a file (not a folder or a link) of a size a patch may start from.
bool isPatchableOlderFile(zip_t* archive, zip_uint64_t entry) {
    zip_stat_t status;
    zip_uint8_t system = 0;
    zip_uint32_t attributes = 0;
    if (zip_stat_index(archive, entry, 0, &status) != 0 || (status.valid & ZIP_STAT_SIZE) == 0 ||
        (status.valid & ZIP_STAT_NAME) == 0 ||
        zip_file_get_external_attributes(archive, entry, 0, &system, &attributes) != 0) {
        return false;
    }
    const auto mode = static_cast<mode_t>(attributes >> 16);
    const bool notAFile = system == ZIP_OPSYS_UNIX && mode != 0 && !S_ISREG(mode);
    const std::string name = status.name;
    return !notAFile && !name.empty() && name.back() != '/' && status.size <= largestPatchedFile;
}

bool mapWhole(int fd, FileMapping& mapping, const std::string& label, std::string& problem) {
    struct stat status {};
    if (fstat(fd, &status) != 0 ||
        !mapFile(fd, static_cast<std::size_t>(status.st_size), false, mapping)) {
        problem = systemError("cannot map " + label);
        return false;
    }
    return true;
}

struct Making {
    const std::vector<PatchTarget>& targets;
    const std::vector<OlderRelease>& older;
    const fs::path& scratchFolder;
    std::ostream& report;
    std::set<PatchKey> made;
    std::vector<KeptPatch> kept;
};

// The patch from one older file to its target, kept when it is small enough.
bool makeOne(Making& making, const PatchCandidate& candidate, std::string& problem) {
    const PatchTarget& target = making.targets[candidate.target];
    const OlderRelease& older = making.older[candidate.older];
    if (!candidate.baseSha256.empty() &&
        making.made.count({candidate.baseSha256, target.sha256}) != 0) {
        return true;
    }
    Descriptor base = scratchFile(making.scratchFolder, problem);
    const auto baseSha256 =
        base.valid() ? extractOlder(older, candidate.entry, base.fd, problem) : std::nullopt;
    if (!baseSha256) {
        return false;
    }
    if (!candidate.baseSha256.empty() && *baseSha256 != candidate.baseSha256) {
        problem = target.name + " of " + older.path + " differs from its " + releaseIndexName;
        return false;
    }
    const PatchKey key{*baseSha256, target.sha256};
    if (*baseSha256 == target.sha256 || !making.made.insert(key).second) {
        return true;
    }
    FileMapping reference;
    FileMapping wanted;
    const Descriptor source(open(target.source.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
    if (!mapWhole(base.fd, reference, target.name + " of " + older.path, problem) ||
        !source.valid() || !mapWhole(source.fd, wanted, target.source.string(), problem)) {
        problem = problem.empty() ? systemError("cannot read " + target.source.string()) : problem;
        return false;
    }
    Descriptor patch = scratchFile(making.scratchFolder, problem);
    const std::uint64_t limit = target.compressedSize / 2;
    const MadePatch made = patch.valid() ? makeZstdPatch(reference, wanted, patch.fd, limit)
                                         : MadePatch{PatchMade::Failed, 0, {}, problem};
    if (made.outcome == PatchMade::Failed) {
        problem = "cannot make the patch for " + target.name + ": " + made.problem;
        return false;
    }
    making.report << "patch for " << target.name << " from " << older.path << ": ";
    if (made.outcome == PatchMade::TooLarge) {
        making.report << "not kept, it is not smaller than half of the whole entry ("
                      << target.compressedSize << " bytes)\n";
        return true;
    }
    making.report << made.bytes << " bytes, the whole entry " << target.compressedSize
                  << " bytes\n";
    making.kept.push_back({patchEntryName(key), std::move(patch), made.bytes, made.sha256});
    return true;
}

} // namespace

std::optional<std::vector<OlderRelease>> openOlderReleases(const std::vector<std::string>& paths,
                                                           std::string& problem) {
    std::vector<OlderRelease> releases;
    for (const std::string& path : paths) {
        int code = 0;
        OlderRelease older{path, nullptr, {}};
        older.archive.reset(zip_open(path.c_str(), ZIP_RDONLY, &code));
        if (!older.archive) {
            zip_error_t error;
            zip_error_init_with_code(&error, code);
            problem = "--patch-from " + path +
                      ": cannot read it as a ZIP archive: " + zip_error_strerror(&error);
            zip_error_fini(&error);
            return std::nullopt;
        }
        if (zip_name_locate(older.archive.get(), releaseIndexName, 0) >= 0) {
            const auto text = readArchiveIndex(path, problem);
            const auto parsed = text ? parseReleaseIndex(*text) : std::nullopt;
            if (!parsed) {
                problem =
                    "--patch-from " + path + ": " +
                    (text ? "its " + std::string(releaseIndexName) + " cannot be read" : problem);
                return std::nullopt;
            }
            for (const ReleaseIndexEntry& entry : *parsed) {
                older.index[entry.name] = entry;
            }
        }
        releases.push_back(std::move(older));
    }
    return releases;
}

std::vector<PatchCandidate> findPatchCandidates(const std::vector<PatchTarget>& targets,
                                                const std::vector<OlderRelease>& older,
                                                std::uint64_t minimumSize) {
    std::vector<PatchCandidate> candidates;
    for (std::size_t t = 0; t < targets.size(); ++t) {
        const PatchTarget& target = targets[t];
        if (target.size == 0 || target.size < minimumSize || target.size > largestPatchedFile) {
            continue;
        }
        for (std::size_t o = 0; o < older.size(); ++o) {
            const zip_int64_t entry =
                zip_name_locate(older[o].archive.get(), target.name.c_str(), 0);
            if (entry < 0 ||
                !isPatchableOlderFile(older[o].archive.get(), static_cast<zip_uint64_t>(entry))) {
                continue;
            }
            const auto indexed = older[o].index.find(target.name);
            std::string baseSha256;
            if (indexed != older[o].index.end()) {
                if (indexed->second.link || indexed->second.sha256 == target.sha256) {
                    continue;
                }
                baseSha256 = indexed->second.sha256;
            }
            candidates.push_back({t, o, static_cast<zip_uint64_t>(entry), baseSha256});
        }
    }
    return candidates;
}

std::optional<std::vector<KeptPatch>>
makeReleasePatches(const std::vector<PatchTarget>& targets, const std::vector<OlderRelease>& older,
                   const std::vector<PatchCandidate>& candidates, const fs::path& scratchFolder,
                   std::ostream& report, std::string& problem) {
    Making making{targets, older, scratchFolder, report, {}, {}};
    for (const PatchCandidate& candidate : candidates) {
        if (!makeOne(making, candidate, problem)) {
            return std::nullopt;
        }
    }
    return std::move(making.kept);
}
