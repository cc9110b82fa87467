#pragma once
#include "update/release/release_signature.h"

#include <optional>
#include <string>

// The signed values of the last manifest the launcher accepted; the archive checks use them.
extern SignedReleaseValues acceptedRelease;

// With no releaseSigningPublicKey configured every manifest passes. With one, the manifest must
// pass every check of checkSignedManifest against the serial of the installed CurrentVersion.ini;
// a refused one gets one run-log line saying which check failed.
bool manifestIsTrusted(const std::string& manifestText);

// Whether this launcher checks what it installs against its publisher's signature.
bool checksReleaseSignatures();

// The SHA-256 a download has to have: none when nothing is checked; otherwise the manifest's
// value, where an empty one (the key was missing) matches no archive.
std::optional<std::string> requiredArchiveSha256(const std::string& manifestValue);
