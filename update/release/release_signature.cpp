#include "update/release/release_signature.h"

#include "update/release/base64_text.h"
#include "update/release/manifest_expiry.h"
#include "update/release/signature_threshold.h"

#include "platform/regular_file.h"

#include <INIReader.h>
#include <charconv>
#include <cstring>
#include <fcntl.h>
#include <ini.h>
#include <memory>
#include <openssl/evp.h>

namespace {

constexpr std::size_t publicKeySize = 32;
constexpr std::size_t signatureSize = 64;
constexpr char signatureKey[] = "ManifestSignature";

int signedValueHandler(void* user, const char* section, const char* name, const char* value) {
    if (section[0] != '\0') {
        return 1;
    }
    auto& values = *static_cast<SignedReleaseValues*>(user);
    const std::pair<const char*, std::string*> fields[] = {
        {"ApplicationSha256", &values.ApplicationSha256},
        {"LauncherInstallerSha256", &values.LauncherInstallerSha256},
        {"ApplicationIndexSha256", &values.ApplicationIndexSha256},
        {"ManifestSerial", &values.ManifestSerial},
        {"ApplicationDownloadMirrorUrls", &values.ApplicationDownloadMirrorUrls}};
    for (const auto& [key, field] : fields) {
        if (std::strcmp(name, key) == 0) {
            *field = value;
        }
    }
    return 1;
}

bool isBlank(char c) {
    return c == ' ' || c == '\t';
}

struct KeyFree {
    void operator()(EVP_PKEY* key) const { EVP_PKEY_free(key); }
};
struct ContextFree {
    void operator()(EVP_MD_CTX* context) const { EVP_MD_CTX_free(context); }
};

ManifestCheck passed(const std::string& name) {
    return {name, true, ""};
}
ManifestCheck failed(const std::string& name, const std::string& detail) {
    return {name, false, detail};
}

ManifestCheck serialCheck(const SignedReleaseValues& values, std::uint64_t installedSerial,
                          std::uint64_t highestAcceptedSerial) {
    if (values.ManifestSerial.empty()) {
        return failed("serial", "ManifestSerial is missing");
    }
    const auto serial = parseManifestSerial(values.ManifestSerial);
    if (!serial) {
        return failed("serial", "ManifestSerial is not a decimal number: " + values.ManifestSerial);
    }
    if (*serial < installedSerial) {
        return failed("serial", "ManifestSerial " + values.ManifestSerial +
                                    " is lower than the installed serial " +
                                    std::to_string(installedSerial));
    }
    // The installed record goes when an install begins; this one stays through a failed one.
    if (*serial < highestAcceptedSerial) {
        return failed("serial", "ManifestSerial " + values.ManifestSerial +
                                    " is lower than the highest accepted serial " +
                                    std::to_string(highestAcceptedSerial));
    }
    return passed("serial");
}

// Every entry of releaseSigningPublicKey decoded into rawKeys; one that is no key fails the
// check, so that a typing error can never quietly leave a key out.
ManifestCheck keyCheck(const std::vector<std::string>& entries, std::vector<std::string>& rawKeys) {
    std::optional<std::string> notAKey;
    for (const std::string& entry : entries) {
        if (auto raw = decodePublicKey(entry)) {
            rawKeys.push_back(std::move(*raw));
        } else if (!notAKey) {
            notAKey = entry;
        }
    }
    if (!notAKey) {
        return passed("public key");
    }
    if (entries.size() == 1) {
        return failed("public key", "releaseSigningPublicKey is not base64 of 32 bytes");
    }
    return failed("public key", "releaseSigningPublicKey holds an entry that is not base64 of "
                                "32 bytes: \"" +
                                    *notAKey + "\"");
}

ManifestCheck signatureLineCheck(const SignatureBlock& block,
                                 std::vector<std::string>& rawSignatures) {
    if (block.signatures.empty()) {
        return failed("signature line", "the last line is not a ManifestSignature line");
    }
    for (const std::string& text : block.signatures) {
        auto signature = decodeBase64(text);
        if (!signature || signature->size() != signatureSize) {
            return failed("signature line", "ManifestSignature is not base64 of 64 bytes");
        }
        rawSignatures.push_back(std::move(*signature));
    }
    return passed("signature line");
}

ManifestCheck signatureCheck(const std::vector<std::string>& rawKeys, std::size_t keyEntries,
                             const std::vector<std::string>& rawSignatures,
                             const SignatureBlock& block, std::int32_t threshold) {
    const std::size_t required = requiredSignatureCount(threshold);
    const std::size_t signers = countSigningKeys(rawKeys, rawSignatures, block.signedBytes);
    if (signers >= required) {
        return passed("signature");
    }
    // One key and one signature read as they always have.
    if (keyEntries == 1 && block.signatures.size() == 1 && required == 1) {
        return failed("signature", "the signature does not verify with releaseSigningPublicKey");
    }
    return failed("signature", std::to_string(signers) + " of the " + std::to_string(required) +
                                   " required signatures verify");
}

} // namespace

SignedReleaseValues readSignedReleaseValues(const std::string& manifestText) {
    SignedReleaseValues values;
    ini_parse_string(manifestText.c_str(), signedValueHandler, &values);
    return values;
}

SignatureSplit splitAtLastLine(const std::string& manifestText) {
    // One line end after the last line is part of it; a second one would make an empty last line.
    std::size_t end = manifestText.size();
    if (end > 0 && manifestText[end - 1] == '\n') {
        --end;
    }
    const std::size_t newline = end == 0 ? std::string::npos : manifestText.rfind('\n', end - 1);
    const std::size_t start = newline == std::string::npos ? 0 : newline + 1;
    std::string line = manifestText.substr(start, end - start);
    if (!line.empty() && line.back() == '\r') {
        line.pop_back();
    }
    return {manifestText.substr(0, start), line};
}

std::optional<std::string> signatureOfLine(const std::string& line) {
    const std::size_t keyLength = std::strlen(signatureKey);
    if (line.compare(0, keyLength, signatureKey) != 0) {
        return std::nullopt;
    }
    std::size_t at = keyLength;
    while (at < line.size() && isBlank(line[at])) {
        ++at;
    }
    if (at == line.size() || (line[at] != '=' && line[at] != ':')) {
        return std::nullopt;
    }
    ++at;
    while (at < line.size() && isBlank(line[at])) {
        ++at;
    }
    std::size_t end = line.size();
    while (end > at && isBlank(line[end - 1])) {
        --end;
    }
    return line.substr(at, end - at);
}

std::optional<std::string> decodePublicKey(const std::string& base64Key) {
    auto raw = decodeBase64(base64Key);
    if (!raw || raw->size() != publicKeySize) {
        return std::nullopt;
    }
    return raw;
}

bool ed25519Verifies(const std::string& rawPublicKey, const std::string& message,
                     const std::string& rawSignature) {
    if (rawPublicKey.size() != publicKeySize || rawSignature.size() != signatureSize) {
        return false;
    }
    const std::unique_ptr<EVP_PKEY, KeyFree> key(EVP_PKEY_new_raw_public_key(
        EVP_PKEY_ED25519, nullptr, reinterpret_cast<const unsigned char*>(rawPublicKey.data()),
        rawPublicKey.size()));
    const std::unique_ptr<EVP_MD_CTX, ContextFree> context(EVP_MD_CTX_new());
    if (!key || !context) {
        return false;
    }
    // Ed25519 hashes inside the algorithm: no digest is named, and the message goes in whole.
    if (EVP_DigestVerifyInit(context.get(), nullptr, nullptr, nullptr, key.get()) != 1) {
        return false;
    }
    return EVP_DigestVerify(
               context.get(), reinterpret_cast<const unsigned char*>(rawSignature.data()),
               rawSignature.size(), reinterpret_cast<const unsigned char*>(message.data()),
               message.size()) == 1;
}

std::optional<std::uint64_t> parseManifestSerial(const std::string& text) {
    if (text.empty()) {
        return std::nullopt;
    }
    for (const char c : text) {
        if (c < '0' || c > '9') {
            return std::nullopt;
        }
    }
    std::uint64_t serial = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), serial);
    if (error != std::errc() || end != text.data() + text.size()) {
        return std::nullopt;
    }
    return serial;
}

std::uint64_t installedManifestSerial(const std::string& recordPath) {
    // Read whole first: INIReader's fopen would wait on a pipe standing at the name.
    const auto text = readRegularFile(AT_FDCWD, recordPath);
    if (!text) {
        return 0;
    }
    const INIReader reader(text->data(), text->size());
    if (reader.ParseError() < 0) {
        return 0;
    }
    return parseManifestSerial(reader.Get("", "ManifestSerial", "")).value_or(0);
}

std::vector<ManifestCheck> checkSignedManifest(const std::string& manifestText,
                                               const ManifestCheckContext& context) {
    std::vector<ManifestCheck> checks;
    const std::vector<std::string> keyEntries = splitKeyList(context.publicKeys);
    std::vector<std::string> rawKeys;
    checks.push_back(keyCheck(keyEntries, rawKeys));

    const SignatureBlock block = splitAtSignatureBlock(manifestText);
    std::vector<std::string> rawSignatures;
    checks.push_back(signatureLineCheck(block, rawSignatures));
    checks.push_back(
        signatureCheck(rawKeys, keyEntries.size(), rawSignatures, block, context.threshold));
    // Only signed bytes count: the serial and the expiry are read from what the signatures cover.
    checks.push_back(serialCheck(readSignedReleaseValues(block.signedBytes),
                                 context.installedSerial, context.highestAcceptedSerial));
    const std::string expired = expiryProblem(readManifestExpires(block.signedBytes), context.now);
    checks.push_back(expired.empty() ? passed("expiry") : failed("expiry", expired));
    return checks;
}

std::vector<ManifestCheck> checkSignedManifest(const std::string& manifestText,
                                               const std::string& base64PublicKey,
                                               std::uint64_t installedSerial) {
    ManifestCheckContext context;
    context.publicKeys = base64PublicKey;
    context.installedSerial = installedSerial;
    context.now = utcNow();
    return checkSignedManifest(manifestText, context);
}
