#include "update/release/base64_text.h"

#include <openssl/evp.h>
#include <vector>

namespace {

bool isAlphabet(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '+' ||
           c == '/';
}

// EVP_DecodeBlock skips surrounding white space and accepts "=" anywhere it can decode; the
// text is held to the plain form first so that one value has exactly one spelling.
std::optional<std::size_t> paddingOf(std::string_view text) {
    if (text.empty() || text.size() % 4 != 0) {
        return std::nullopt;
    }
    std::size_t padding = 0;
    while (padding < 2 && text[text.size() - 1 - padding] == '=') {
        ++padding;
    }
    for (std::size_t i = 0; i < text.size() - padding; ++i) {
        if (!isAlphabet(text[i])) {
            return std::nullopt;
        }
    }
    return padding;
}

} // namespace

std::optional<std::string> decodeBase64(std::string_view text) {
    const auto padding = paddingOf(text);
    if (!padding) {
        return std::nullopt;
    }
    std::vector<unsigned char> bytes(text.size() / 4 * 3 + 1);
    const int decoded =
        EVP_DecodeBlock(bytes.data(), reinterpret_cast<const unsigned char*>(text.data()),
                        static_cast<int>(text.size()));
    if (decoded < 0 || static_cast<std::size_t>(decoded) < *padding) {
        return std::nullopt;
    }
    // The block decoder counts the bytes that the padding stands for; they are not data.
    return std::string(reinterpret_cast<const char*>(bytes.data()),
                       static_cast<std::size_t>(decoded) - *padding);
}

std::string encodeBase64(std::string_view bytes) {
    std::vector<unsigned char> text((bytes.size() + 2) / 3 * 4 + 1);
    const int written =
        EVP_EncodeBlock(text.data(), reinterpret_cast<const unsigned char*>(bytes.data()),
                        static_cast<int>(bytes.size()));
    return std::string(reinterpret_cast<const char*>(text.data()),
                       static_cast<std::size_t>(written));
}
