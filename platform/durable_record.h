#pragma once
#include <optional>
#include <string>
#include <string_view>

// Small files written whole or not at all, and read only when they are what they claim: a
// regular file, never reached through a link, never a pipe or a device that would hold the
// reader up.

// Writes text to partialName in folder (never through a link standing there), makes it durable,
// renames it to name and makes the rename durable: a reader finds the old record or the new
// one, never a part, and a link at name is replaced, not written through. False (partial
// removed, errno set) on any failure.
bool writeRecordDurably(int folder, const std::string& name, const std::string& partialName,
                        std::string_view text);

// The whole regular file name in folder (a link is not followed; a pipe, socket or device is
// not waited on); none when it cannot be read, with why in problem (when given). A missing file
// leaves errno ENOENT.
std::optional<std::string> readRecord(int folder, const std::string& name,
                                      std::string* problem = nullptr);
