#pragma once
#include <memory>
#include <openssl/evp.h>
#include <optional>
#include <string>

struct KeyFree {
    void operator()(EVP_PKEY* key) const { EVP_PKEY_free(key); }
};
using SigningKey = std::unique_ptr<EVP_PKEY, KeyFree>;

// A new Ed25519 key pair.
SigningKey generateSigningKey(std::string& problem);
// Writes the private key as PEM into a new file of mode 0600; an existing file is never touched.
bool writePrivateKeyFile(const EVP_PKEY* key, const std::string& path, std::string& problem);
// An Ed25519 private key from a PEM file.
SigningKey readPrivateKeyFile(const std::string& path, std::string& problem);
// The public half in the releaseSigningPublicKey form: base64 of its 32 raw bytes.
std::string publicKeyBase64(const EVP_PKEY* key);
// The raw 64-byte Ed25519 signature of message.
std::optional<std::string> signMessage(EVP_PKEY* key, const std::string& message);
