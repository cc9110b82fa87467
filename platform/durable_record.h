#pragma once
#include <string>
#include <string_view>

// Small files written whole or not at all (read them with readRegularFile, which never follows
// a link nor waits on a pipe).

// Writes text to partialName in folder (never through a link standing there), makes it durable,
// renames it to name and makes the rename durable: a reader finds the old record or the new
// one, never a part, and a link at name is replaced, not written through. False (partial
// removed, errno set) on any failure.
bool writeRecordDurably(int folder, const std::string& name, const std::string& partialName,
                        std::string_view text);
