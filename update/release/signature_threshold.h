#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// Several keys and several signatures: a launcher may trust more than one publisher key (while
// players move from an old key to a new one) and may require more than one of them to have
// signed a manifest.

// The entries of releaseSigningPublicKey: texts separated by commas, blanks and line breaks
// around each dropped. An empty entry stays, as an entry that is no key.
std::vector<std::string> splitKeyList(const std::string& configValue);

// How many different trusted keys must have signed: releaseSigningThreshold, where 0 (the
// compiled-in value), 1 and anything below both mean one.
std::size_t requiredSignatureCount(std::int32_t threshold);

// A manifest split before the ManifestSignature lines that end it: every one of them signs
// signedBytes. No line of another kind may stand between them or after them; a signature line
// higher up belongs to the signed bytes like any other line.
struct SignatureBlock {
    std::string signedBytes;
    std::vector<std::string> signatures; // the base64 text of each line, top to bottom
};
SignatureBlock splitAtSignatureBlock(const std::string& manifestText);

// The different keys among rawKeys (32-byte Ed25519 public keys; a key given twice counts once)
// for which some signature among rawSignatures verifies over signedBytes.
std::size_t countSigningKeys(const std::vector<std::string>& rawKeys,
                             const std::vector<std::string>& rawSignatures,
                             const std::string& signedBytes);
