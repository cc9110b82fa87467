#include "update/stored_entry_resume.h"

#include "launcher/run_log.h"
#include "platform/write_all.h"
#include "update/release/sha256_stream.h"
#include "update/unpack/launcher_records.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <set>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

namespace {

// CRC-32 and SHA-256 of an entry's bytes, fed in order from the first.
struct EntryDigest {
    Sha256Stream sha256;
    uLong crc = crc32(0, nullptr, 0);

    void add(const char* data, std::size_t bytes) {
        sha256.update(data, bytes);
        crc = crc32(crc, reinterpret_cast<const Bytef*>(data), static_cast<uInt>(bytes));
    }
};

// The staged bytes as they are on the disk now, whatever was written before the cut.
Problem digestStaged(int fd, std::uint64_t staged, std::vector<char>& buffer, EntryDigest& digest) {
    std::uint64_t done = 0;
    while (done < staged) {
        const auto wanted =
            static_cast<std::size_t>(std::min<std::uint64_t>(buffer.size(), staged - done));
        const ssize_t read = pread(fd, buffer.data(), wanted, static_cast<off_t>(done));
        if (read < 0 && errno == EINTR) {
            continue;
        }
        if (read <= 0) {
            return errorText("cannot read back its staged bytes");
        }
        digest.add(buffer.data(), static_cast<std::size_t>(read));
        done += static_cast<std::uint64_t>(read);
    }
    return {};
}

// Opens the entry's data at offset staged. A resumed entry's local header is read outside any
// run, so that the run's request starts at its first missing byte rather than at its header.
EntryHandle openDataAt(const StoredEntryFetch& fetch, std::uint64_t staged) {
    if (staged > 0) {
        fetch.remote.endRun();
    }
    EntryHandle data(zip_fopen_index(fetch.archive, fetch.entry.index, ZIP_FL_COMPRESSED));
    if (!data || staged == 0) {
        return data;
    }
    if (zip_fseek(data.get(), static_cast<zip_int64_t>(staged), SEEK_SET) != 0) {
        return {};
    }
    fetch.remote.beginRun(fetch.runBytes);
    return data;
}

Problem appendRest(const StoredEntryFetch& fetch, zip_file_t* data, int fd, std::uint64_t staged,
                   EntryDigest& digest) {
    std::vector<char>& buffer = fetch.buffer;
    std::uint64_t written = staged;
    while (true) {
        const zip_int64_t read = zip_fread(data, buffer.data(), buffer.size());
        if (read < 0) {
            return std::string("cannot read it from the archive: ") + zip_file_strerror(data);
        }
        if (read == 0) {
            return written == fetch.entry.size ? Problem{} : Problem{"it ends before its size"};
        }
        written += static_cast<std::uint64_t>(read);
        if (written > fetch.entry.size) {
            return "it is longer than its declared size of " + std::to_string(fetch.entry.size) +
                   " bytes";
        }
        digest.add(buffer.data(), static_cast<std::size_t>(read));
        if (!writeAll(fd, buffer.data(), static_cast<std::size_t>(read))) {
            return errorText("cannot write it");
        }
    }
}

Problem checkDigest(const StoredEntryFetch& fetch, EntryDigest& digest) {
    zip_stat_t status;
    if (zip_stat_index(fetch.archive, fetch.entry.index, 0, &status) != 0 ||
        (status.valid & ZIP_STAT_CRC) == 0 || status.crc != digest.crc) {
        return "its CRC-32 differs from the archive's";
    }
    const std::string sha256 = digest.sha256.finishHex();
    if (!fetch.requiredSha256.empty() && sha256 != fetch.requiredSha256) {
        return "its SHA-256 differs from the release index's";
    }
    return {};
}

// Fills the unfinished file from staged bytes on: those already there are hashed, the rest
// fetched, appended and hashed, and the whole checked.
Problem fillFrom(const StoredEntryFetch& fetch, int fd, std::uint64_t staged, bool& keep) {
    EntryDigest digest;
    if (ftruncate(fd, static_cast<off_t>(staged)) != 0 ||
        lseek(fd, static_cast<off_t>(staged), SEEK_SET) < 0) {
        return errorText("cannot prepare its unfinished file");
    }
    Problem problem = digestStaged(fd, staged, fetch.buffer, digest);
    if (!problem.empty()) {
        return problem;
    }
    const EntryHandle data = openDataAt(fetch, staged);
    if (!data) {
        keep = fetch.remote.state() != RangeReader::State::Ready;
        return std::string("cannot open it in the archive: ") + zip_strerror(fetch.archive);
    }
    problem = appendRest(fetch, data.get(), fd, staged, digest);
    if (!problem.empty()) {
        keep = fetch.remote.state() != RangeReader::State::Ready;
        return problem;
    }
    return checkDigest(fetch, digest);
}

Problem stageFrom(const StoredEntryFetch& fetch, std::uint64_t staged) {
    return resumeFileEntryWith(
        fetch.entry, fetch.root, fetch.madeLinks, resumablePartialName(fetch.entry.index),
        [&](int fd, bool& keep) { return fillFrom(fetch, fd, staged, keep); });
}

} // namespace

bool isStoredEntry(zip_t* archive, const ZipEntry& entry) {
    zip_stat_t status;
    constexpr zip_uint64_t needed = ZIP_STAT_SIZE | ZIP_STAT_COMP_SIZE | ZIP_STAT_COMP_METHOD |
                                    ZIP_STAT_ENCRYPTION_METHOD | ZIP_STAT_CRC;
    return entry.kind == EntryKind::File && zip_stat_index(archive, entry.index, 0, &status) == 0 &&
           (status.valid & needed) == needed && status.comp_method == ZIP_CM_STORE &&
           status.encryption_method == ZIP_EM_NONE && status.size == entry.size &&
           status.comp_size == entry.size;
}

std::uint64_t stagedPrefixOf(const ZipEntry& entry, int stagingRoot) {
    const Descriptor folder =
        openExistingFolder(stagingRoot, entry.components, entry.components.size() - 1);
    const std::string name = resumablePartialName(entry.index);
    struct stat status {};
    if (!folder.valid() || fstatat(folder.fd, name.c_str(), &status, AT_SYMLINK_NOFOLLOW) != 0 ||
        !S_ISREG(status.st_mode) || status.st_size <= 0 ||
        static_cast<std::uint64_t>(status.st_size) > entry.size) {
        return 0;
    }
    return static_cast<std::uint64_t>(status.st_size);
}

void findStagedPrefixes(zip_t* archive, InstallPlan& plan, int stagingRoot) {
    std::set<std::string> kept;
    for (PlannedEntry& planned : plan.entries) {
        const ZipEntry& entry = *planned.entry;
        // A patched entry keeps its prefix until its patch has applied: it may be fetched yet.
        const bool fetched =
            planned.source == EntrySource::Fetched || planned.source == EntrySource::Patched;
        if (!fetched || !isStoredEntry(archive, entry)) {
            continue;
        }
        planned.stagedBytes = stagedPrefixOf(entry, stagingRoot);
        if (planned.stagedBytes > 0) {
            kept.insert(resumablePartialName(entry.index));
        }
    }
    removeFilesNamed(stagingRoot, [&](const std::string& name) {
        return isResumablePartialName(name) && !kept.contains(name);
    });
    const std::uint64_t staged = stagedPrefixBytes(plan);
    plan.fetchedBytes -= std::min(plan.fetchedBytes, staged);
}

std::uint64_t stagedPrefixBytes(const InstallPlan& plan) {
    std::uint64_t bytes = 0;
    for (const PlannedEntry& planned : plan.entries) {
        bytes += planned.stagedBytes;
    }
    return bytes;
}

void settleStagedPrefixes(InstallPlan& plan, int stagingRoot) {
    for (PlannedEntry& planned : plan.entries) {
        if (planned.stagedBytes == 0 || planned.source == EntrySource::Fetched) {
            continue;
        }
        const ZipEntry& entry = *planned.entry;
        const Descriptor folder =
            openExistingFolder(stagingRoot, entry.components, entry.components.size() - 1);
        if (folder.valid()) {
            unlinkat(folder.fd, resumablePartialName(entry.index).c_str(), 0);
        }
        planned.stagedBytes = 0;
    }
    for (PlannedRun& run : plan.runs) {
        for (const std::size_t position : run.entries) {
            run.bytes -= std::min(run.bytes, plan.entries[position].stagedBytes);
        }
    }
}

Problem stageStoredEntry(const StoredEntryFetch& fetch) {
    if (fetch.staged == 0) {
        return stageFrom(fetch, 0);
    }
    writeToLog("unzip: entry '" + fetch.entry.name + "' carries on after its " +
               std::to_string(fetch.staged) + " staged bytes");
    const Problem problem = stageFrom(fetch, fetch.staged);
    if (problem.empty() || fetch.remote.state() != RangeReader::State::Ready) {
        return problem;
    }
    // The bytes staged before were wrong (the partial file was removed with them), or the
    // transfer could not be resumed there: the entry whole, from its first byte.
    writeToLog("unzip: entry '" + fetch.entry.name + "' not resumed: " + problem +
               "; fetching it whole");
    return stageFrom(fetch, 0);
}
