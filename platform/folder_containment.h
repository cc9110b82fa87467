#pragma once
#include <string>

// Whether path is folder or lies anywhere below it, with links, "." and ".." resolved in both:
// the same place reached by two spellings counts as the same. A part that does not exist is
// compared as written.
bool folderHoldsPath(const std::string& folder, const std::string& path);
