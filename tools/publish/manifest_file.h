#pragma once
#include <optional>
#include <string>

// A manifest file's bytes: only a regular file of manifest size (a pipe or a device would block
// or never end).
std::optional<std::string> readManifestFile(const std::string& path, std::string& problem);

// Writes beside the target and renames, so a web server never serves a half-written file.
bool writeFileAtomically(const std::string& target, const std::string& text, std::string& problem);
