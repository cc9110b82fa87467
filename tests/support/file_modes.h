#pragma once
#include <filesystem>
#include <sys/types.h>

// The permission bits of path (set-id and sticky bits included), links not followed; 0 when
// there is nothing at path.
mode_t permissionsOf(const std::filesystem::path& path);
