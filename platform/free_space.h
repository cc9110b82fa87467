#pragma once
#include <cstdint>
#include <optional>
#include <string>

// The bytes that an unprivileged program may still write on the file system holding path; none
// when that cannot be learnt.
std::optional<std::uint64_t> freeBytesAt(const std::string& path);
