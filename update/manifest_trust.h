#pragma once
#include <cstdint>
#include <string>

// What a manifest is trusted by: the launcher's keys and the records it must not go back behind.
struct ReleaseTrust {
    // releaseSigningPublicKey: base64 of the publisher's Ed25519 keys, separated by commas;
    // empty: nothing is checked.
    std::string publicKey;
    // The data folder, whose CurrentVersion.ini and highest-serial record hold the serial a
    // manifest may not go below.
    std::string dataFolder;
    // releaseSigningThreshold: how many different trusted keys must sign (0 and 1: one).
    std::int32_t threshold = 0;
};

// With no key every manifest passes. With keys, the manifest must pass every check of
// checkSignedManifest against the serial of the installed CurrentVersion.ini, the highest serial
// accepted before and the current time; a refused one gets one run-log line saying which check
// failed. An accepted one raises the highest accepted serial to its own.
// Expired: signed as it should be, but too old to be taken; only a stale copy is being served.
enum class ManifestTrust { Trusted, Refused, Expired };
ManifestTrust checkManifestTrust(const std::string& manifestText, const ReleaseTrust& trust);
bool manifestIsTrusted(const std::string& manifestText, const ReleaseTrust& trust);
