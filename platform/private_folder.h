#pragma once
#include <string>

// Empty when path is a folder itself (not a link to one) that belongs to the calling user and
// that nobody else may write to; otherwise why not, as a short phrase.
std::string ownFolderProblem(const std::string& path);

// As ownFolderProblem, and nobody else may read or enter it either (mode 0700 or stricter).
std::string privateFolderProblem(const std::string& path);

// Creates path with mode 0700 unless something stands there, then checks it as
// privateFolderProblem does. Empty on success, else why the folder cannot be used.
std::string makePrivateFolder(const std::string& path);
