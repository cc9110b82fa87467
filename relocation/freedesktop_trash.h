#pragma once
#include <string>

// Moves path into the freedesktop.org trash: the user's own trash ($XDG_DATA_HOME/Trash) when
// path lies on the same mount, else <mount point>/.Trash-<uid>. Writes the .trashinfo record
// first, under a name no other trashed item uses. False (and nothing moved) on any failure.
bool moveToTrash(const std::string& path);

// The Path= value of a .trashinfo record: bytes outside the URL-safe set written as %XX.
std::string trashInfoPathValue(const std::string& path);
