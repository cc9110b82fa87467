#include "tools/publish/manifest_signing.h"

#include "update/release/base64_text.h"
#include "update/release/manifest_expiry.h"
#include "update/release/release_signature.h"
#include "update/release/signature_threshold.h"

#include <algorithm>

#include <sstream>

bool isExpiresLine(const std::string& line) {
    const std::string key = "ManifestExpires";
    if (line.compare(0, key.size(), key) != 0) {
        return false;
    }
    const std::size_t separator = line.find_first_not_of(" \t", key.size());
    return separator != std::string::npos && (line[separator] == '=' || line[separator] == ':');
}

std::vector<SigningKey> readSigningKeys(const std::vector<std::string>& paths,
                                        std::string& problem) {
    std::vector<SigningKey> keys;
    for (const std::string& path : paths) {
        SigningKey key = readPrivateKeyFile(path, problem);
        if (!key) {
            return {};
        }
        keys.push_back(std::move(key));
    }
    return keys;
}

std::optional<std::string> unsignedManifestText(const std::string& manifestText,
                                                const std::optional<std::string>& expires,
                                                std::string& problem) {
    std::string kept;
    std::istringstream lines(manifestText);
    for (std::string line; std::getline(lines, line);) {
        std::string bare = line;
        if (!bare.empty() && bare.back() == '\r') {
            bare.pop_back();
        }
        if (!signatureOfLine(bare) && !(expires && isExpiresLine(bare))) {
            kept += line + "\n";
        }
    }
    if (!expires) {
        return kept;
    }
    kept += "ManifestExpires=" + *expires + "\n";
    if (readManifestExpires(kept) != expires) {
        problem = "the launcher would not read a ManifestExpires line at the end of this manifest "
                  "(it would fall under a section header); move the header's lines above the "
                  "first section by hand";
        return std::nullopt;
    }
    return kept;
}

std::optional<std::string> signedManifestText(const std::vector<SigningKey>& keys,
                                              const std::string& unsignedText,
                                              std::string& problem) {
    std::string text = unsignedText;
    for (const SigningKey& key : keys) {
        const auto signature = signMessage(key.get(), unsignedText);
        if (!signature) {
            problem = "libcrypto could not sign the manifest";
            return std::nullopt;
        }
        text += "ManifestSignature=" + encodeBase64(*signature) + "\n";
    }
    return text;
}

namespace {

bool holdsSignatureLine(const std::string& text) {
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);) {
        if (signatureOfLine(line)) {
            return true;
        }
    }
    return false;
}

} // namespace

std::optional<std::string> withAddedSignatures(const std::vector<SigningKey>& keys,
                                               const std::string& manifestText,
                                               std::string& problem) {
    const SignatureBlock block = splitAtSignatureBlock(manifestText);
    if (holdsSignatureLine(block.signedBytes)) {
        problem = "a ManifestSignature line stands above other lines, inside the text the "
                  "signatures cover; sign it anew without --add";
        return std::nullopt;
    }
    std::vector<std::string> signatures;
    for (const std::string& signature : block.signatures) {
        signatures.push_back(decodeBase64(signature).value_or(""));
    }
    std::string text = manifestText;
    if (!text.empty() && text.back() != '\n') {
        text += "\n";
    }
    for (const SigningKey& key : keys) {
        const std::string publicKey = publicKeyBase64(key.get());
        const std::string raw = decodePublicKey(publicKey).value_or("");
        if (std::any_of(signatures.begin(), signatures.end(), [&](const std::string& signature) {
                return ed25519Verifies(raw, block.signedBytes, signature);
            })) {
            problem = "the manifest carries a signature by the key " + publicKey +
                      " already; a second one by the same key counts nothing";
            return std::nullopt;
        }
        const auto signature = signMessage(key.get(), block.signedBytes);
        if (!signature) {
            problem = "libcrypto could not sign the manifest";
            return std::nullopt;
        }
        signatures.push_back(*signature);
        text += "ManifestSignature=" + encodeBase64(*signature) + "\n";
    }
    return text;
}
