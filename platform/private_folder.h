#pragma once
#include <string>

// Makes path, a folder of the calling user's own, writable by the user alone (group and other
// write permission are taken away). Empty on success; otherwise why the folder is not to be
// used: it is a link, not a folder, or another user's.
std::string secureOwnFolder(const std::string& path);

// Empty when path is a folder itself (not a link to one) that belongs to the calling user and
// that nobody else may read, write or enter (mode 0700 or stricter); otherwise why not.
std::string privateFolderProblem(const std::string& path);

// Creates path with mode 0700 unless something stands there, then checks it as
// privateFolderProblem does. Empty on success, else why the folder cannot be used.
std::string makePrivateFolder(const std::string& path);
