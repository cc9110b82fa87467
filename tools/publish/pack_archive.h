#pragma once
#include <ctime>
#include <filesystem>
#include <string>
#include <sys/stat.h>
#include <vector>

// Writing the archive that pack makes: the bundle's entries with their Unix modes, times and
// links, then ReleaseIndex.sha256 last.

struct PackEntry {
    std::string name; // inside the archive, "/"-separated, folders ending with "/"
    std::filesystem::path source;
    struct stat status;
};

// A file added as it is (not deflated) from an open descriptor, as patches are.
struct StoredAddition {
    std::string name;
    int fd = -1; // read from its start when the archive is written
};

// Writes entries and then the index into a new archive at output, replacing what was there.
bool writeArchive(const std::filesystem::path& output, const std::vector<PackEntry>& entries,
                  const std::string& index, std::string& problem);

// Writes entries alone into a new archive at output; appendAndClose adds the rest.
bool writeBundleArchive(const std::filesystem::path& output, const std::vector<PackEntry>& entries,
                        std::string& problem);

// Adds stored files and then the index to the archive at path, all stamped with modified (the
// bundle's own time, so that packing twice gives the same archive).
bool appendAndClose(const std::filesystem::path& path, const std::vector<StoredAddition>& stored,
                    const std::string& index, time_t modified, std::string& problem);

// The compressed size of each named entry of the archive at path; false with problem when one
// cannot be read.
bool readCompressedSizes(const std::filesystem::path& path, const std::vector<std::string>& names,
                         std::vector<std::uint64_t>& sizes, std::string& problem);
