#pragma once
#include "platform/file_descriptor.h"

#include <cstddef>
#include <functional>
#include <set>
#include <string>
#include <vector>

// Folder walking for the unpacker. Everything works relative to an open folder and never follows
// a link, so nothing reaches outside the destination whatever an archive or an earlier install
// left in it.

// Why an entry could not be unpacked; empty while all is well.
using Problem = std::string;

// what + ": " + the text of errno.
std::string errorText(const std::string& what);

// The pieces of text between any of separators (empty pieces included).
std::vector<std::string> split(const std::string& text, const char* separators);

// The first count components joined with "/".
std::string joined(const std::vector<std::string>& components, std::size_t count);

// The paths (below the destination, joined) of the links this unpack has made. An archive does
// not get to write through its own links; a link that an earlier install left is replaced.
using MadeLinks = std::set<std::string>;

// Opens the folder made of the first count components below root, creating what is missing and
// replacing a file or an earlier install's link that stands where a folder belongs. Group and
// other write bits are cleared on every folder passed.
Descriptor openFolder(int root, const std::vector<std::string>& components, std::size_t count,
                      const MadeLinks& madeLinks, Problem& problem);

// Opens that folder only when it is one; creates and replaces nothing.
Descriptor openExistingFolder(int root, const std::vector<std::string>& components,
                              std::size_t count);

// Renames partial to leaf inside folder; a folder standing at leaf is removed first, with all
// it holds.
Problem putInPlace(int folder, const std::string& partial, const std::string& leaf);

// The same from one folder into another of the same file system (a staged file into the game).
Problem moveInPlace(int fromFolder, const std::string& from, int toFolder, const std::string& leaf);

// Removes the folder name in parent with everything in it, never following a link. False when
// it is still there.
bool removeFolderNamed(int parent, const std::string& name);

// Opens the folder an unpack writes into and removes the unfinished files that a killed unpack
// left anywhere below it (some as large as the largest asset), with a run-log line when there
// were any. Invalid after a run-log line when the folder cannot be opened.
Descriptor openUnpackDestination(const std::string& destination);

// Removes the unpacker's unfinished files (see isUnpackPartialName) anywhere below root, as a
// killed unpack leaves them. Returns how many went.
std::size_t removeLeftoverPartials(int root);

// Removes every file (not folder) anywhere below root whose name matches; how many went.
std::size_t removeFilesNamed(int root, const std::function<bool(const std::string&)>& matches);
