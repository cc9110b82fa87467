#pragma once
#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// The values a signed manifest adds for the launcher's checks, read with the manifest parser's
// rules (top-level keys only, exact names, the last of a repeated key).
struct SignedReleaseValues {
    std::string ApplicationSha256;
    std::string LauncherInstallerSha256;
    std::string ApplicationIndexSha256;
    std::string ManifestSerial;
    // Only the mirrors the signatures cover are fetched from by a checking launcher.
    std::string ApplicationDownloadMirrorUrls;
};
SignedReleaseValues readSignedReleaseValues(const std::string& manifestText);

// A manifest split at its last line: the bytes the signature covers, and that line.
struct SignatureSplit {
    std::string signedBytes;
    std::string lastLine; // without its line end
};
SignatureSplit splitAtLastLine(const std::string& manifestText);

// The base64 signature of a "ManifestSignature=..." line; none for any other line. The line
// has to start with the key: an indented one would continue the key above it when parsed.
std::optional<std::string> signatureOfLine(const std::string& line);

// The Ed25519 public key from its base64 form (32 raw bytes); none when it is not that.
std::optional<std::string> decodePublicKey(const std::string& base64Key);

// RFC 8032 Ed25519 over message, no pre-hash, with libcrypto.
bool ed25519Verifies(const std::string& rawPublicKey, const std::string& message,
                     const std::string& rawSignature);

// A serial as the manifest writes it: decimal digits only.
std::optional<std::uint64_t> parseManifestSerial(const std::string& text);
// ManifestSerial of the CurrentVersion.ini at path, read as the record is read; 0 when the
// record or the key is absent.
std::uint64_t installedManifestSerial(const std::string& recordPath);

// One check of a signed manifest, in the order the launcher makes them; detail says why a
// failed one failed.
struct ManifestCheck {
    std::string name;
    bool passed = false;
    std::string detail;
};
// What a manifest is checked against: the keys trusted (releaseSigningPublicKey, one or more
// separated by commas), how many of them must have signed (releaseSigningThreshold), the serial
// of the installed release and the highest serial ever accepted, and the time of the check.
struct ManifestCheckContext {
    std::string publicKeys;
    std::int32_t threshold = 0;
    std::uint64_t installedSerial = 0;
    std::uint64_t highestAcceptedSerial = 0;
    std::chrono::sys_seconds now;
};
std::vector<ManifestCheck> checkSignedManifest(const std::string& manifestText,
                                               const ManifestCheckContext& context);
// One key, one signature required, checked at the current time.
std::vector<ManifestCheck> checkSignedManifest(const std::string& manifestText,
                                               const std::string& base64PublicKey,
                                               std::uint64_t installedSerial);
