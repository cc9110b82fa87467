#include "update/release/release_signature.h"

#include "update/release/base64_text.h"

#include <INIReader.h>
#include <charconv>
#include <cstring>
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
        {"ManifestSerial", &values.ManifestSerial}};
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

ManifestCheck serialCheck(const SignedReleaseValues& values, std::uint64_t installedSerial) {
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
    return passed("serial");
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
    const INIReader reader(recordPath);
    if (reader.ParseError() < 0) {
        return 0;
    }
    return parseManifestSerial(reader.Get("", "ManifestSerial", "")).value_or(0);
}

std::vector<ManifestCheck> checkSignedManifest(const std::string& manifestText,
                                               const std::string& base64PublicKey,
                                               std::uint64_t installedSerial) {
    std::vector<ManifestCheck> checks;
    const auto key = decodePublicKey(base64PublicKey);
    checks.push_back(key ? passed("public key")
                         : failed("public key", "releaseSigningPublicKey is not base64 of "
                                                "32 bytes"));

    const SignatureSplit split = splitAtLastLine(manifestText);
    const auto signatureText = signatureOfLine(split.lastLine);
    const auto signature = signatureText ? decodeBase64(*signatureText) : std::nullopt;
    if (!signatureText) {
        checks.push_back(failed("signature line", "the last line is not a ManifestSignature line"));
    } else if (!signature || signature->size() != signatureSize) {
        checks.push_back(failed("signature line", "ManifestSignature is not base64 of 64 bytes"));
    } else {
        checks.push_back(passed("signature line"));
    }

    if (key && signature && ed25519Verifies(*key, split.signedBytes, *signature)) {
        checks.push_back(passed("signature"));
    } else {
        checks.push_back(failed("signature", "the signature does not verify with "
                                             "releaseSigningPublicKey"));
    }
    // Only signed bytes count: the serial is read from what the signature covers.
    checks.push_back(serialCheck(readSignedReleaseValues(split.signedBytes), installedSerial));
    return checks;
}
