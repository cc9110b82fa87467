#include "update/unpack/zip_entries.h"

#include "launcher/run_log.h"
#include "platform/write_all.h"
#include "update/release/sha256_stream.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>
#include <utility>

namespace {

// A link's target is a path; anything longer than a path can be is not a link we make.
constexpr zip_uint64_t longestLinkTarget = 4096;

constexpr char sha256MismatchProblem[] = "its SHA-256 differs from the release index's";

// Entries are written under this name beside their own and then renamed into place: a failed
// entry never leaves a half-written file under its real name, a link already standing there is
// replaced instead of written through, and a running program's file is swapped, not rewritten.
std::string partialName(zip_uint64_t index) {
    return ".unzip-" + std::to_string(getpid()) + "-" + std::to_string(index) + ".partial";
}

Descriptor createPartial(int folder, const std::string& name, Problem& problem) {
    // Readable too: a patched file is read back while it is made.
    constexpr int flags = O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC;
    Descriptor file(openat(folder, name.c_str(), flags, 0600));
    if (!file.valid() && errno == EEXIST && unlinkat(folder, name.c_str(), 0) == 0) {
        file = Descriptor(openat(folder, name.c_str(), flags, 0600));
    }
    if (!file.valid()) {
        problem = errorText("cannot create a file");
    }
    return file;
}

// libzip compares what an entry inflates to with its declared size only once its data have
// ended, if at all: an entry whose headers claim ten bytes could fill the disk first. Reading
// stops as soon as more has arrived than the entry declared, and the entry is refused.
Problem pastDeclaredSize(const ZipEntry& entry, zip_uint64_t before, zip_int64_t read) {
    if (static_cast<zip_uint64_t>(read) <= entry.size - before) {
        return {};
    }
    return "it inflates past its declared size of " + std::to_string(entry.size) + " bytes";
}

// libzip checks the entry's CRC as the last bytes are read, so a damaged entry fails here rather
// than landing on disk as if whole. With a required SHA-256 the bytes are hashed on their way to
// the file and checked once the last has passed.
Problem copyEntryData(zip_file_t* data, const ZipEntry& entry, int fd, std::vector<char>& buffer,
                      const std::string& requiredSha256) {
    Sha256Stream hash;
    zip_uint64_t written = 0;
    while (true) {
        // One byte more than the rest it declared is enough to tell that it goes on.
        const zip_uint64_t rest = entry.size - written;
        const zip_uint64_t wanted = rest >= buffer.size() ? buffer.size() : rest + 1;
        const zip_int64_t read = zip_fread(data, buffer.data(), wanted);
        if (read < 0) {
            return std::string("cannot read it from the archive: ") + zip_file_strerror(data);
        }
        Problem tooMuch = pastDeclaredSize(entry, written, read);
        if (!tooMuch.empty()) {
            return tooMuch;
        }
        written += static_cast<zip_uint64_t>(read);
        if (read == 0) {
            return requiredSha256.empty() || hash.finishHex() == requiredSha256
                       ? Problem{}
                       : Problem{sha256MismatchProblem};
        }
        if (!requiredSha256.empty()) {
            hash.update(buffer.data(), static_cast<std::size_t>(read));
        }
        if (!writeAll(fd, buffer.data(), static_cast<std::size_t>(read))) {
            return errorText("cannot write it");
        }
    }
}

timespec fileTime(const ZipEntry& entry) {
    return entry.modified ? timespec{*entry.modified, 0} : timespec{0, UTIME_OMIT};
}

Problem finishFile(Descriptor& file, const ZipEntry& entry) {
    const timespec times[2] = {fileTime(entry), fileTime(entry)};
    if (fchmod(file.fd, entry.permissions) != 0 || futimens(file.fd, times) != 0) {
        return errorText("cannot set its attributes");
    }
    const int fd = std::exchange(file.fd, -1);
    // A delayed write error (a full disk, a quota) shows only here.
    if (::close(fd) != 0) {
        return errorText("cannot write it");
    }
    return {};
}

// The file under its temporary name, filled, given its attributes and put in place.
Problem fillFileEntry(const ZipEntry& entry, int folder, const EntryFiller& fill) {
    const std::string partial = partialName(entry.index);
    Problem problem;
    Descriptor file = createPartial(folder, partial, problem);
    if (!file.valid()) {
        return problem;
    }
    problem = fill(file.fd);
    if (problem.empty()) {
        problem = finishFile(file, entry);
    }
    if (problem.empty()) {
        problem = putInPlace(folder, partial, entry.components.back());
    }
    if (!problem.empty()) {
        file.reset();
        unlinkat(folder, partial.c_str(), 0);
    }
    return problem;
}

Problem writeFileEntry(zip_t* archive, const ZipEntry& entry, int folder, std::vector<char>& buffer,
                       const std::string& requiredSha256) {
    EntryHandle data(zip_fopen_index(archive, entry.index, 0));
    if (!data) {
        return std::string("cannot open it in the archive: ") + zip_strerror(archive);
    }
    return fillFileEntry(entry, folder, [&](int fd) {
        return copyEntryData(data.get(), entry, fd, buffer, requiredSha256);
    });
}

Problem readLinkTarget(zip_t* archive, const ZipEntry& entry, std::string& target) {
    if (entry.size >= longestLinkTarget) {
        return "its link target is too long";
    }
    EntryHandle data(zip_fopen_index(archive, entry.index, 0));
    if (!data) {
        return std::string("cannot open it in the archive: ") + zip_strerror(archive);
    }
    char chunk[longestLinkTarget];
    while (true) {
        const zip_int64_t read = zip_fread(data.get(), chunk, sizeof chunk);
        if (read < 0) {
            return std::string("cannot read it from the archive: ") + zip_file_strerror(data.get());
        }
        if (read == 0) {
            return {};
        }
        Problem tooMuch = pastDeclaredSize(entry, target.size(), read);
        if (!tooMuch.empty()) {
            return tooMuch;
        }
        target.append(chunk, static_cast<std::size_t>(read));
        if (target.size() >= longestLinkTarget) {
            return "its link target is too long";
        }
    }
}

// A link must lead to a place inside the destination. ".." may only open the target: after a
// name it could climb back out through a link that the name turns out to be.
bool linkStaysInside(const ZipEntry& entry, const std::string& target) {
    if (target.empty() || target.front() == '/' || target.find('\0') != std::string::npos) {
        return false;
    }
    long depth = static_cast<long>(entry.components.size()) - 1;
    bool descended = false;
    for (const std::string& piece : split(target, "/")) {
        if (piece.empty() || piece == ".") {
            continue;
        }
        if (piece != "..") {
            descended = true;
            continue;
        }
        if (descended || --depth < 0) {
            return false;
        }
    }
    return true;
}

Problem writeLinkEntry(zip_t* archive, const ZipEntry& entry, int folder, MadeLinks& madeLinks,
                       const std::string& requiredSha256) {
    std::string target;
    Problem problem = readLinkTarget(archive, entry, target);
    if (!problem.empty()) {
        return problem;
    }
    if (!requiredSha256.empty() && sha256Hex(target) != requiredSha256) {
        return sha256MismatchProblem;
    }
    if (!linkStaysInside(entry, target)) {
        return "its link target '" + target + "' leads outside the destination";
    }
    const std::string partial = partialName(entry.index);
    const std::string& leaf = entry.components.back();
    unlinkat(folder, partial.c_str(), 0);
    if (symlinkat(target.c_str(), folder, partial.c_str()) != 0) {
        return errorText("cannot create the link");
    }
    problem = putInPlace(folder, partial, leaf);
    if (!problem.empty()) {
        unlinkat(folder, partial.c_str(), 0);
        return problem;
    }
    const timespec times[2] = {fileTime(entry), fileTime(entry)};
    utimensat(folder, leaf.c_str(), times, AT_SYMLINK_NOFOLLOW);
    madeLinks.insert(joined(entry.components, entry.components.size()));
    return {};
}

} // namespace

Problem unpackEntry(zip_t* archive, const ZipEntry& entry, int root, std::vector<char>& buffer,
                    MadeLinks& madeLinks, const std::string& requiredSha256) {
    Problem problem;
    const std::size_t depth = entry.components.size();
    const std::size_t folderDepth = entry.kind == EntryKind::Folder ? depth : depth - 1;
    const Descriptor folder = openFolder(root, entry.components, folderDepth, madeLinks, problem);
    if (!folder.valid() || entry.kind == EntryKind::Folder) {
        return problem;
    }
    if (entry.kind == EntryKind::Link) {
        return writeLinkEntry(archive, entry, folder.fd, madeLinks, requiredSha256);
    }
    return writeFileEntry(archive, entry, folder.fd, buffer, requiredSha256);
}

Problem writeFileEntryWith(const ZipEntry& entry, int root, const MadeLinks& madeLinks,
                           const EntryFiller& fill) {
    Problem problem;
    const Descriptor folder =
        openFolder(root, entry.components, entry.components.size() - 1, madeLinks, problem);
    if (!folder.valid()) {
        return problem;
    }
    return fillFileEntry(entry, folder.fd, fill);
}

Problem resumeFileEntryWith(const ZipEntry& entry, int root, const MadeLinks& madeLinks,
                            const std::string& partial, const ResumingFiller& fill) {
    Problem problem;
    const Descriptor folder =
        openFolder(root, entry.components, entry.components.size() - 1, madeLinks, problem);
    if (!folder.valid()) {
        return problem;
    }
    Descriptor file(
        openat(folder.fd, partial.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600));
    struct stat status {};
    if (!file.valid() || fstat(file.fd, &status) != 0 || !S_ISREG(status.st_mode)) {
        return errorText("cannot open its unfinished file");
    }
    bool keep = false;
    problem = fill(file.fd, keep);
    if (problem.empty()) {
        problem = finishFile(file, entry);
    }
    if (problem.empty()) {
        problem = putInPlace(folder.fd, partial, entry.components.back());
    }
    if (!problem.empty() && !keep) {
        file.reset();
        unlinkat(folder.fd, partial.c_str(), 0);
    }
    return problem;
}

Problem finishFolders(int root, std::vector<const ZipEntry*> folders) {
    std::sort(folders.begin(), folders.end(), [](const ZipEntry* a, const ZipEntry* b) {
        return a->components.size() > b->components.size();
    });
    for (const ZipEntry* entry : folders) {
        // A later entry of the archive may have put a file or a link in the folder's place.
        const Descriptor folder =
            openExistingFolder(root, entry->components, entry->components.size());
        if (!folder.valid()) {
            continue;
        }
        const timespec times[2] = {fileTime(*entry), fileTime(*entry)};
        if (fchmod(folder.fd, entry->permissions) != 0 || futimens(folder.fd, times) != 0) {
            return errorText("cannot set the attributes of " + entry->name);
        }
    }
    return {};
}

void logEntryProblem(const std::string& archivePath, const std::string& name,
                     const Problem& problem) {
    writeToLog("unzip: entry '" + name + "' of " + archivePath + " not unpacked: " + problem);
}
