#pragma once
#include "platform/file_descriptor.h"

#include <optional>
#include <string>

// Opens name below folder for reading, following no link at the end, without waiting on what
// stands there: opening a named pipe for reading blocks until a writer comes, which may be never.
// Invalid when nothing can be opened there (errno says why) or when it is not a regular file
// (errno is then EINVAL).
Descriptor openRegularFile(int folder, const std::string& name);

// All of the regular file name below folder, opened as above; none when it cannot be opened or
// read, with why in problem (when given). errno stays ENOENT for a missing file, so that callers
// tell a record never written from one they cannot read.
std::optional<std::string> readRegularFile(int folder, const std::string& name,
                                           std::string* problem = nullptr);
