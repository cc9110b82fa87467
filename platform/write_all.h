#pragma once
#include <cstddef>

// Writes all size bytes to fd, going on after a short write or an interruption; false (errno
// set) when the system refuses.
bool writeAll(int fd, const void* data, std::size_t size);
