#pragma once
#include "update/release_signature.h"

#include <optional>
#include <string>

// The signed values of the last manifest the launcher accepted; the archive checks use them.
extern SignedReleaseValues acceptedRelease;

// With no releaseSigningPublicKey configured every manifest passes. With one, the manifest must
// pass every check of checkSignedManifest against the serial of the installed CurrentVersion.ini,
// the highest serial accepted before and the current time; a refused one gets one run-log line
// saying which check failed. An accepted one raises the highest accepted serial to its own.
// Expired: signed as it should be, but too old to be taken; only a stale copy is being served.
enum class ManifestTrust { Trusted, Refused, Expired };
ManifestTrust checkManifestTrust(const std::string& manifestText);
bool manifestIsTrusted(const std::string& manifestText);

// Whether this launcher checks what it installs against its publisher's signature.
bool checksReleaseSignatures();

// The SHA-256 a download has to have: none when nothing is checked; otherwise the manifest's
// value, where an empty one (the key was missing) matches no archive.
std::optional<std::string> requiredArchiveSha256(const std::string& manifestValue);
