#pragma once
#include <string>

// Whether a file or folder stands at path; a link counts when what it points to exists.
bool fileExistsAtPath(const std::string& path);

// Creates the folder at path with its missing parents unless something already stands there
// (a plain file with that name is taken as the folder). Empty on success, else the reason.
std::string createFolderWhenMissing(const std::string& path);
