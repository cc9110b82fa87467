#pragma once
#include <string>

// Joins folder and name as text with exactly one "/" between them, the way
// stringByAppendingPathComponent: does. Unlike std::filesystem's "/", a name that starts with
// "/" does not replace the folder.
std::string appendPathComponent(const std::string& folder, const std::string& name);

// A folder as download folders are written in texts and joined to file names: with a trailing
// "/" unless it has one already; an empty folder stays empty.
std::string withTrailingSlash(const std::string& folder);
