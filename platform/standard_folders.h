#pragma once
#include <string>

// The system temporary folder, always ending in "/" ($TMPDIR, else /tmp).
std::string temporaryDirectory();

// The user's home folder: $HOME, else the password database's entry; empty when unknown.
std::string homeFolder();

// The user's Application Support folder: $XDG_DATA_HOME when absolute, else ~/.local/share.
// Empty when neither that nor $HOME is known.
std::string userApplicationSupportFolder();
