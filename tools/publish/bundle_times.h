#pragma once
#include <filesystem>
#include <string>
#include <vector>

// A bundle made by `bundle` carries the time it was made, so packing it again gives another
// archive even when nothing in it changed. This gives every file, folder and link below bundle
// (and bundle itself) the newest modification time among inputs (files, folders and links, never
// followed): made again from the same inputs, the bundle packs into the same bytes.
bool stampBundleTimes(const std::filesystem::path& bundle,
                      const std::vector<std::filesystem::path>& inputs, std::string& problem);
