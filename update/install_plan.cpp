#include "update/install_plan.h"

#include "platform/regular_file.h"
#include "update/release/sha256_stream.h"

#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

namespace {

// The local header's fixed part and a data descriptor; the local extra fields are taken to be
// about as long as the central directory's.
constexpr std::uint64_t localHeaderBytes = 30;
constexpr std::uint64_t descriptorBytes = 16;

std::uint64_t estimatedSpan(zip_t* archive, zip_uint64_t index, std::size_t nameBytes) {
    zip_stat_t status;
    std::uint64_t compressed = 0;
    if (zip_stat_index(archive, index, 0, &status) == 0 &&
        (status.valid & ZIP_STAT_COMP_SIZE) != 0) {
        compressed = status.comp_size;
    }
    std::uint64_t extra = 0;
    const zip_int16_t fields = zip_file_extra_fields_count(archive, index, ZIP_FL_CENTRAL);
    for (zip_int16_t field = 0; field < fields; ++field) {
        zip_uint16_t length = 0;
        if (zip_file_extra_field_get(archive, index, static_cast<zip_uint16_t>(field), nullptr,
                                     &length, ZIP_FL_CENTRAL) != nullptr) {
            extra += 4 + length;
        }
    }
    return localHeaderBytes + nameBytes + extra + descriptorBytes + compressed + descriptorBytes;
}

std::uint64_t estimatedSpan(zip_t* archive, const ZipEntry& entry) {
    return estimatedSpan(archive, entry.index, entry.name.size());
}

// Hashes (SHA-256 hex, or CRC-32) everything fd holds.
struct LocalDigest {
    std::string sha256;
    std::uint32_t crc = 0;
};

bool digestFile(int fd, bool wantSha, LocalDigest& digest) {
    Sha256Stream hash;
    uLong crc = crc32(0L, Z_NULL, 0);
    std::vector<unsigned char> buffer(entryCopyBufferBytes);
    while (true) {
        const ssize_t got = ::read(fd, buffer.data(), buffer.size());
        if (got < 0) {
            return false;
        }
        if (got == 0) {
            break;
        }
        if (wantSha) {
            hash.update(buffer.data(), static_cast<std::size_t>(got));
        } else {
            crc = crc32(crc, buffer.data(), static_cast<uInt>(got));
        }
    }
    digest.sha256 = wantSha ? hash.finishHex() : "";
    digest.crc = static_cast<std::uint32_t>(crc);
    return true;
}

bool matchesArchive(zip_t* archive, const ZipEntry& entry, std::uint64_t size,
                    const LocalDigest& digest, const std::string& indexSha256) {
    if (!indexSha256.empty()) {
        return digest.sha256 == indexSha256;
    }
    zip_stat_t status;
    if (zip_stat_index(archive, entry.index, 0, &status) != 0 ||
        (status.valid & ZIP_STAT_CRC) == 0 || (status.valid & ZIP_STAT_SIZE) == 0) {
        return false;
    }
    return status.size == size && status.crc == digest.crc;
}

bool fileMatches(zip_t* archive, const ZipEntry& entry, int folder, const std::string& indexSha256,
                 std::string* installedSha256) {
    const std::string& leaf = entry.components.back();
    // Whatever else stands at the name (a pipe, a device) is not the release's copy, and is
    // not waited on.
    const Descriptor file = openRegularFile(folder, leaf);
    struct stat status {};
    if (!file.valid() || fstat(file.fd, &status) != 0 ||
        (status.st_mode & 07777) != entry.permissions ||
        static_cast<std::uint64_t>(status.st_size) != entry.size) {
        return false;
    }
    LocalDigest digest;
    if (!digestFile(file.fd, !indexSha256.empty(), digest)) {
        return false;
    }
    if (installedSha256 != nullptr) {
        *installedSha256 = digest.sha256;
    }
    return matchesArchive(archive, entry, entry.size, digest, indexSha256);
}

bool linkMatches(zip_t* archive, const ZipEntry& entry, int folder,
                 const std::string& indexSha256) {
    char target[4096];
    const ssize_t length =
        readlinkat(folder, entry.components.back().c_str(), target, sizeof target);
    if (length < 0 || static_cast<std::size_t>(length) == sizeof target) {
        return false;
    }
    const std::string text(target, static_cast<std::size_t>(length));
    LocalDigest digest;
    digest.sha256 = sha256Hex(text);
    digest.crc = static_cast<std::uint32_t>(crc32(crc32(0L, Z_NULL, 0),
                                                  reinterpret_cast<const Bytef*>(text.data()),
                                                  static_cast<uInt>(text.size())));
    return matchesArchive(archive, entry, text.size(), digest, indexSha256);
}

} // namespace

bool installedCopyMatches(zip_t* archive, const ZipEntry& entry, int root,
                          const std::string& indexSha256, std::string* installedSha256) {
    if (entry.kind == EntryKind::Folder) {
        return true;
    }
    const Descriptor folder =
        openExistingFolder(root, entry.components, entry.components.size() - 1);
    if (!folder.valid()) {
        return false;
    }
    if (entry.kind == EntryKind::Link) {
        return linkMatches(archive, entry, folder.fd, indexSha256);
    }
    return fileMatches(archive, entry, folder.fd, indexSha256, installedSha256);
}

std::uint64_t entrySpan(zip_t* archive, zip_uint64_t index) {
    const char* name = zip_get_name(archive, index, ZIP_FL_ENC_RAW);
    return estimatedSpan(archive, index, name != nullptr ? std::strlen(name) : 0);
}

std::string entryHashLabel(zip_t* archive, const ZipEntry& entry, const std::string& indexSha256) {
    if (!indexSha256.empty()) {
        return sha256Label(indexSha256);
    }
    zip_stat_t status;
    const bool known =
        zip_stat_index(archive, entry.index, 0, &status) == 0 && (status.valid & ZIP_STAT_CRC) != 0;
    return known ? crc32Label(status.crc) : std::string();
}

namespace {

// The record vouches for a file unchanged since it was installed with the hash now required.
bool recordVouchesFor(zip_t* archive, const ZipEntry& entry, const PlanSources& sources,
                      const std::string& indexSha256) {
    if (sources.recorded == nullptr || entry.kind == EntryKind::Folder) {
        return false;
    }
    const auto found = sources.recorded->find(joined(entry.components, entry.components.size()));
    if (found == sources.recorded->end()) {
        return false;
    }
    const InstalledFile& file = found->second;
    const bool sameKind = entry.kind == EntryKind::Link ? S_ISLNK(file.mode) : S_ISREG(file.mode);
    const bool sameMode = entry.kind == EntryKind::Link || (file.mode & 07777) == entry.permissions;
    return sameKind && sameMode && file.size == entry.size &&
           file.hash == entryHashLabel(archive, entry, indexSha256) &&
           stillAsInstalled(sources.installedRoot, file);
}

} // namespace

std::vector<PlannedRun> plannedRuns(const std::vector<PlannedEntry>& entries) {
    std::vector<PlannedRun> runs;
    PlannedRun run;
    std::uint64_t gap = 0;
    const auto closeRun = [&] {
        if (!run.entries.empty()) {
            runs.push_back(std::move(run));
        }
        run = PlannedRun{};
        gap = 0;
    };
    for (std::size_t position = 0; position < entries.size(); ++position) {
        const PlannedEntry& planned = entries[position];
        if (planned.source != EntrySource::Fetched) {
            gap += planned.span;
            if (gap > mergeGapBytes) {
                closeRun();
            }
            continue;
        }
        if (!run.entries.empty()) {
            run.bytes += gap;
        }
        gap = 0;
        run.entries.push_back(position);
        run.bytes += planned.span;
    }
    closeRun();
    return runs;
}

std::uint64_t runBytes(const std::vector<PlannedRun>& runs) {
    std::uint64_t bytes = 0;
    for (const PlannedRun& run : runs) {
        bytes += run.bytes;
    }
    return bytes;
}

MadeLinks releaseLinks(const std::vector<PlannedEntry>& entries) {
    MadeLinks links;
    for (const PlannedEntry& planned : entries) {
        if (planned.entry->kind == EntryKind::Link) {
            links.insert(joined(planned.entry->components, planned.entry->components.size()));
        }
    }
    return links;
}

std::string linkAbove(const ZipEntry& entry, const MadeLinks& links) {
    for (std::size_t depth = 1; depth < entry.components.size(); ++depth) {
        std::string path = joined(entry.components, depth);
        if (links.contains(path)) {
            return path;
        }
    }
    return {};
}

std::vector<PlannedEntry> entriesToPlan(zip_t* archive, const std::vector<ZipEntry>& entries,
                                        const std::vector<std::string>& requiredSha256) {
    std::vector<PlannedEntry> planned;
    planned.reserve(entries.size());
    for (std::size_t position = 0; position < entries.size(); ++position) {
        PlannedEntry& next = planned.emplace_back();
        next.entry = &entries[position];
        next.requiredSha256 = position < requiredSha256.size() ? requiredSha256[position] : "";
        next.span = estimatedSpan(archive, entries[position]);
    }
    return planned;
}

InstallPlan planInstall(zip_t* archive, std::vector<PlannedEntry> entries,
                        const PlanSources& sources) {
    InstallPlan plan;
    plan.entries = std::move(entries);
    for (PlannedEntry& planned : plan.entries) {
        const ZipEntry& entry = *planned.entry;
        const std::string& sha256 = planned.requiredSha256;
        const std::string path = joined(entry.components, entry.components.size());
        if (recordVouchesFor(archive, entry, sources, sha256) ||
            (!recordedWithOtherSha256(sources.recorded, sources.installedRoot, path, sha256) &&
             installedCopyMatches(archive, entry, sources.installedRoot, sha256,
                                  &planned.installedSha256))) {
            planned.source = EntrySource::Installed;
        } else if (sources.stagingRoot >= 0 &&
                   installedCopyMatches(archive, entry, sources.stagingRoot, sha256)) {
            planned.source = EntrySource::Staged;
        } else {
            planned.source = EntrySource::Fetched;
            ++plan.fetchedEntries;
        }
    }
    plan.runs = plannedRuns(plan.entries);
    plan.fetchedBytes = runBytes(plan.runs);
    return plan;
}
