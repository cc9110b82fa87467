#pragma once
#include <string>

// Joins folder and name as text with exactly one "/" between them, the way
// stringByAppendingPathComponent: does. Unlike std::filesystem's "/", a name that starts with
// "/" does not replace the folder.
std::string appendPathComponent(const std::string& folder, const std::string& name);
