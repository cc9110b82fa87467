#pragma once
#include "platform/file_descriptor.h"
#include "update/release/release_index.h"

#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <vector>
#include <zip.h>

// The patches pack --patch-from adds to a release: for each file of the new release whose path
// an older archive holds with other content, a zstd patch from the older file to the new one.

// A file of the new release that may get patches.
struct PatchTarget {
    std::string name; // its entry name
    std::filesystem::path source;
    std::uint64_t size = 0;
    std::string sha256;
    std::uint64_t compressedSize = 0; // of its entry in the new archive
};

struct ZipReadCloser {
    void operator()(zip_t* archive) const { zip_discard(archive); }
};

// An older archive opened for reading, with its release index when it has one.
struct OlderRelease {
    std::string path;
    std::unique_ptr<zip_t, ZipReadCloser> archive;
    std::map<std::string, ReleaseIndexEntry> index; // by name; empty without an index
};

// Opens every older archive; none, with problem set, when one cannot be read as a ZIP archive
// or its index cannot be read.
std::optional<std::vector<OlderRelease>> openOlderReleases(const std::vector<std::string>& paths,
                                                           std::string& problem);

// One older file that may make a patch for a target.
struct PatchCandidate {
    std::size_t target = 0; // position among the targets
    std::size_t older = 0;  // position among the older releases
    zip_uint64_t entry = 0; // its index in that archive
    std::string baseSha256; // from the older index; empty when it has none
};

// Files of at least minimumSize (and at most the largest patched size) whose path an older
// archive holds as a file that is not known to be the same.
std::vector<PatchCandidate> findPatchCandidates(const std::vector<PatchTarget>& targets,
                                                const std::vector<OlderRelease>& older,
                                                std::uint64_t minimumSize);

// A patch worth its place: smaller than half of its target's compressed entry.
struct KeptPatch {
    std::string name; // its entry name
    Descriptor file;  // its bytes, in an unnamed scratch file
    std::uint64_t bytes = 0;
    std::string sha256; // of its bytes, for the release index
};

// Makes one patch per distinct pair of older and new content, with scratch files in
// scratchFolder, and reports each on report. None, with problem set, when an older file cannot
// be read or a patch cannot be made.
std::optional<std::vector<KeptPatch>>
makeReleasePatches(const std::vector<PatchTarget>& targets, const std::vector<OlderRelease>& older,
                   const std::vector<PatchCandidate>& candidates,
                   const std::filesystem::path& scratchFolder, std::ostream& report,
                   std::string& problem);
