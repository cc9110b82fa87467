#pragma once
#include "update/release/base64_text.h"

#include <memory>
#include <openssl/evp.h>
#include <string>

// A throw-away Ed25519 key pair, made with libcrypto as the publishing tool makes one.
struct TestKey {
    struct KeyFree {
        void operator()(EVP_PKEY* key) const { EVP_PKEY_free(key); }
    };
    struct ContextFree {
        void operator()(EVP_MD_CTX* context) const { EVP_MD_CTX_free(context); }
    };

    std::unique_ptr<EVP_PKEY, KeyFree> key{EVP_PKEY_Q_keygen(nullptr, nullptr, "ED25519")};

    std::string publicBase64() const {
        unsigned char raw[32];
        std::size_t length = sizeof raw;
        EVP_PKEY_get_raw_public_key(key.get(), raw, &length);
        return encodeBase64(std::string(reinterpret_cast<char*>(raw), length));
    }

    // "ManifestSignature=<base64 of the signature of text>" with its line end.
    std::string signatureLine(const std::string& text) const {
        std::unique_ptr<EVP_MD_CTX, ContextFree> context(EVP_MD_CTX_new());
        EVP_DigestSignInit(context.get(), nullptr, nullptr, nullptr, key.get());
        unsigned char signature[64];
        std::size_t length = sizeof signature;
        EVP_DigestSign(context.get(), signature, &length,
                       reinterpret_cast<const unsigned char*>(text.data()), text.size());
        return "ManifestSignature=" +
               encodeBase64(std::string(reinterpret_cast<char*>(signature), length)) + "\n";
    }

    std::string sign(const std::string& text) const { return text + signatureLine(text); }
};
