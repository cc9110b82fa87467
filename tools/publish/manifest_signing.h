#pragma once
#include "tools/publish/signing_keys.h"

#include <optional>
#include <string>
#include <vector>

// A "ManifestExpires=" or "ManifestExpires:" line as the launcher reads it: the key at the very
// start (an indented line would continue the key above it). Without its line end.
bool isExpiresLine(const std::string& line);

// The private keys in the files, in their order; empty with problem set when one cannot be read.
std::vector<SigningKey> readSigningKeys(const std::vector<std::string>& paths,
                                        std::string& problem);

// The manifest with every ManifestSignature line removed and, when expires is given, its
// ManifestExpires lines replaced by one with that value after all other lines. None, with
// problem set, when the launcher would not read the new value (a section header above it).
std::optional<std::string> unsignedManifestText(const std::string& manifestText,
                                                const std::optional<std::string>& expires,
                                                std::string& problem);

// The unsigned text followed by one ManifestSignature line per key, each over all of that text.
std::optional<std::string> signedManifestText(const std::vector<SigningKey>& keys,
                                              const std::string& unsignedText,
                                              std::string& problem);

// The manifest with one more ManifestSignature line per key after those that end it, each over
// the bytes they sign (all before the first of them), which stay as they are. None, with problem
// set, when a key has a signature there already (a second one counts nothing), or when
// signature lines stand elsewhere than at the end (the launcher would not read them as such).
std::optional<std::string> withAddedSignatures(const std::vector<SigningKey>& keys,
                                               const std::string& manifestText,
                                               std::string& problem);
