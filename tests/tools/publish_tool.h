#pragma once
#include "tests/support/child_process.h"

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

// Runs the built launcher-publish with arguments.
ChildResult publish(const std::vector<std::string>& arguments,
                    const std::map<std::string, std::string>& environment = {});

// One archive entry as libzip reads it back.
struct ArchiveEntry {
    std::string name;
    std::uint32_t mode = 0;  // Unix type and permission bits from the external attributes
    time_t modified = 0;     // from the DOS time, 2-second steps
    std::int32_t method = 0; // ZIP_CM_STORE, ZIP_CM_DEFLATE...
    std::string data;
};
std::vector<ArchiveEntry> readArchive(const std::filesystem::path& archive);

// Sets a file's (or, with link, a link's own) modification time.
void setModified(const std::filesystem::path& path, time_t seconds, bool link = false);
