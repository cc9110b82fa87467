#pragma once
#include <INIReader.h>
#include <optional>
#include <string>

// The installed content version read from CurrentVersion.ini; "1.0.1" until read.
extern std::string currentAppVersion;
// The manifest text exactly as the content installer fetched it; saved as CurrentVersion.ini.
extern std::string latestVersionText;

// folder + "/CurrentVersion.ini" parsed, when it is a regular file (a link is not followed, a
// pipe not waited on) that INIReader reads; none otherwise.
std::optional<INIReader> readCurrentVersionIni(const std::string& folder);

// False when folder + "/CurrentVersion.ini" cannot be opened; otherwise sets currentAppVersion.
bool loadCurrentVersionIni(const std::string& folder);

// ApplicationIndexSha256 of folder + "/CurrentVersion.ini", read as the record is read; empty
// when the record or the key is absent.
std::string installedIndexSha256(const std::string& folder);

// Records manifestText (the content installer's: latestVersionText) as folder +
// "/CurrentVersion.ini": 0 on success, 1 (after a log line) when the record could not be written
// whole.
int saveCurrentVersionIni(const std::string& folder, const std::string& manifestText);
