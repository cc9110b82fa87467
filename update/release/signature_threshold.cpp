#include "update/release/signature_threshold.h"

#include "update/release/release_signature.h"

#include <algorithm>

namespace {

std::string trimmed(const std::string& text) {
    constexpr const char* blanks = " \t\r\n";
    const std::size_t first = text.find_first_not_of(blanks);
    if (first == std::string::npos) {
        return {};
    }
    return text.substr(first, text.find_last_not_of(blanks) - first + 1);
}

} // namespace

std::vector<std::string> splitKeyList(const std::string& configValue) {
    std::vector<std::string> keys;
    std::size_t start = 0;
    while (true) {
        const std::size_t comma = configValue.find(',', start);
        keys.push_back(trimmed(configValue.substr(start, comma - start)));
        if (comma == std::string::npos) {
            return keys;
        }
        start = comma + 1;
    }
}

std::size_t requiredSignatureCount(std::int32_t threshold) {
    return threshold > 1 ? static_cast<std::size_t>(threshold) : 1;
}

SignatureBlock splitAtSignatureBlock(const std::string& manifestText) {
    SignatureBlock block;
    std::string rest = manifestText;
    // Each step takes the last line off; the lines found are read bottom to top.
    while (true) {
        SignatureSplit split = splitAtLastLine(rest);
        const auto signature = signatureOfLine(split.lastLine);
        if (!signature) {
            break;
        }
        block.signatures.insert(block.signatures.begin(), *signature);
        rest = std::move(split.signedBytes);
    }
    block.signedBytes = std::move(rest);
    return block;
}

std::size_t countSigningKeys(const std::vector<std::string>& rawKeys,
                             const std::vector<std::string>& rawSignatures,
                             const std::string& signedBytes) {
    std::vector<std::string> keys = rawKeys;
    std::sort(keys.begin(), keys.end());
    keys.erase(std::unique(keys.begin(), keys.end()), keys.end());
    return static_cast<std::size_t>(std::count_if(keys.begin(), keys.end(), [&](const auto& key) {
        return std::any_of(rawSignatures.begin(), rawSignatures.end(), [&](const auto& signature) {
            return ed25519Verifies(key, signedBytes, signature);
        });
    }));
}
