#pragma once
#include <filesystem>
#include <optional>

// Whether deflating the file at path makes it at least 1 % smaller. Files that are compressed
// already (packed assets, video, audio) gain less and are stored as they are: they then install
// without inflating, and an install cut off inside one resumes where it stopped. None when the
// file cannot be read.
std::optional<bool> deflateIsWorthIt(const std::filesystem::path& path);
