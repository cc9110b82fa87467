#pragma once
#include <string>

// The user's own temporary folder, ending in "/": $TMPDIR when set (the user's choice), else
// the private folder below for $XDG_RUNTIME_DIR and /tmp. Empty when no private one can be had.
std::string temporaryDirectory();

// runtimeFolder when it is absolute and private to the user (mode 0700, the user's own, no
// link), else sharedRoot/launcher-<uid>, created with mode 0700 and refused (empty, after a
// platform log line) when it belongs to someone else, others have access or it is a link.
std::string privateTemporaryDirectory(const std::string& runtimeFolder,
                                      const std::string& sharedRoot);

// Where temporary files go by convention, whoever may write there: $TMPDIR, else /tmp; ends
// in "/". For telling whether something lies in a temporary place, never for writing.
std::string sharedTemporaryDirectory();

// The user's home folder: $HOME, else the password database's entry; empty when unknown.
std::string homeFolder();

// The user's Application Support folder: $XDG_DATA_HOME when absolute, else ~/.local/share.
// Empty when neither that nor $HOME is known.
std::string userApplicationSupportFolder();
