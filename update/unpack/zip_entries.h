#pragma once
#include "update/unpack/unpack_paths.h"

#include <cstddef>
#include <ctime>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <sys/types.h>
#include <vector>
#include <zip.h>

// The entries of an open archive, checked and written one at a time. Both the unpack of a
// downloaded archive and the entry-wise install read through these, so that every road applies
// the same protections.

struct ArchiveCloser {
    void operator()(zip_t* archive) const { zip_discard(archive); }
};
struct EntryCloser {
    void operator()(zip_file_t* entry) const { zip_fclose(entry); }
};
using ArchiveHandle = std::unique_ptr<zip_t, ArchiveCloser>;
using EntryHandle = std::unique_ptr<zip_file_t, EntryCloser>;

// Streaming through one buffer of this size keeps memory flat whatever the entries weigh.
constexpr std::size_t entryCopyBufferBytes = 256 * 1024;

enum class EntryKind { Folder, File, Link };

struct ZipEntry {
    zip_uint64_t index = 0;
    std::string name;
    std::vector<std::string> components; // the path below the destination
    EntryKind kind = EntryKind::File;
    mode_t permissions = 0;
    std::optional<time_t> modified;
    zip_uint64_t size = 0;
};

// Every entry of archive with its name checked, before anything is written, so that an archive
// refused for its names leaves an earlier installation untouched. None (after a run-log line
// naming archiveLabel) when one is refused. Entries under the patch folder are left out: no road
// unpacks them.
std::optional<std::vector<ZipEntry>> describeEntries(zip_t* archive,
                                                     const std::string& archiveLabel);

// Writes one entry below root under a temporary name and puts it in place once it is whole: its
// CRC-32 checked by libzip and, when requiredSha256 is not empty, its bytes (a link: its target)
// hashed to that value. Folders are created only; finishFolders applies their attributes.
Problem unpackEntry(zip_t* archive, const ZipEntry& entry, int root, std::vector<char>& buffer,
                    MadeLinks& madeLinks, const std::string& requiredSha256 = {});

// Writes a file entry below root as unpackEntry does (under a temporary name, its attributes set
// once whole, then put in place, never through madeLinks), its bytes made by fill into the
// empty file, which is open for reading and writing.
using EntryFiller = std::function<Problem(int fd)>;
Problem writeFileEntryWith(const ZipEntry& entry, int root, const MadeLinks& madeLinks,
                           const EntryFiller& fill);

// The same into the file named partial in the entry's folder, which an earlier run may have
// begun: fill gets it open as it stands, and sets keep when what it holds is worth carrying on
// from after a failure (the transfer broke off); otherwise a failed file is removed.
using ResumingFiller = std::function<Problem(int fd, bool& keep)>;
Problem resumeFileEntryWith(const ZipEntry& entry, int root, const MadeLinks& madeLinks,
                            const std::string& partial, const ResumingFiller& fill);

// Folder modes and times, applied last and deepest first: writing into a folder changes its
// time, and a folder stored without write permission would refuse its own files.
Problem finishFolders(int root, std::vector<const ZipEntry*> folders);

void logEntryProblem(const std::string& archiveLabel, const std::string& name,
                     const Problem& problem);
