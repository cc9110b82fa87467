#pragma once
#include <optional>
#include <string>

// The ReleaseIndex.sha256 entry of a packed archive; none (with problem set) when the archive
// cannot be read or carries no index.
std::optional<std::string> readArchiveIndex(const std::string& archivePath, std::string& problem);
