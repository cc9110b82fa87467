#pragma once
#include <string>

// What a manifest is trusted by: the launcher's key and the record it must not go back behind.
struct ReleaseTrust {
    // releaseSigningPublicKey: base64 of the publisher's Ed25519 key; empty: nothing is checked.
    std::string publicKey;
    // The data folder, whose CurrentVersion.ini holds the serial a manifest may not go below.
    std::string dataFolder;
};

// With no key every manifest passes. With one, the manifest must pass every check of
// checkSignedManifest against the serial of the installed CurrentVersion.ini; a refused one gets
// one run-log line saying which check failed.
bool manifestIsTrusted(const std::string& manifestText, const ReleaseTrust& trust);
