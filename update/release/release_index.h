#pragma once
#include <optional>
#include <string>
#include <vector>

// ReleaseIndex.sha256: the record of every file and link a packed release holds, one line per
// entry in the form sha256sum writes, sorted by name (byte order):
//   "<hex>  <name>"  a file, hashed over its contents;
//   "<hex> @<name>"  a link, hashed over its target text ("@" where sha256sum puts its mode);
// a name holding "\" or a line feed is written with "\\" and "\n" and its line starts with "\",
// as sha256sum does. Folders are not listed, nor is the index itself.
inline constexpr char releaseIndexName[] = "ReleaseIndex.sha256";

struct ReleaseIndexEntry {
    std::string name;
    std::string sha256;
    bool link = false;
};

std::string formatReleaseIndex(std::vector<ReleaseIndexEntry> entries);
// None when a line is not of the form above.
std::optional<std::vector<ReleaseIndexEntry>> parseReleaseIndex(const std::string& text);
