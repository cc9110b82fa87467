#pragma once
#include "platform/property_list.h"

#include <optional>
#include <string>

// Finds mountSource among the "dev-entry" strings of `hdiutil info -plist` output
// (root dictionary -> "images" array -> dictionaries -> "system-entities" array ->
// dictionaries -> "dev-entry" string). Any node of the wrong kind ends the whole search.
std::optional<std::string> deviceInHdiutilInfo(const PropertyList& info,
                                               const std::string& mountSource);
