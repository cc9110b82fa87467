#include "update/release/sha256_stream.h"

#include <array>
#include <fstream>

Sha256Stream::Sha256Stream() : context(EVP_MD_CTX_new()) {
    good = context != nullptr && EVP_DigestInit_ex(context.get(), EVP_sha256(), nullptr) == 1;
}

void Sha256Stream::update(const void* data, std::size_t size) {
    if (good && size > 0) {
        good = EVP_DigestUpdate(context.get(), data, size) == 1;
    }
}

std::string Sha256Stream::finishHex() {
    std::array<unsigned char, EVP_MAX_MD_SIZE> digest{};
    unsigned int length = 0;
    if (!good || EVP_DigestFinal_ex(context.get(), digest.data(), &length) != 1) {
        good = false;
        return {};
    }
    good = false; // a finished context takes no more bytes
    static constexpr char digits[] = "0123456789abcdef";
    std::string hex;
    for (unsigned int i = 0; i < length; ++i) {
        hex += digits[digest[i] >> 4];
        hex += digits[digest[i] & 0x0F];
    }
    return hex;
}

std::string sha256Hex(std::string_view bytes) {
    Sha256Stream stream;
    stream.update(bytes.data(), bytes.size());
    return stream.finishHex();
}

std::optional<std::string> sha256FileHex(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        return std::nullopt;
    }
    Sha256Stream stream;
    std::array<char, 1 << 16> block{};
    while (file) {
        file.read(block.data(), block.size());
        stream.update(block.data(), static_cast<std::size_t>(file.gcount()));
    }
    if (file.bad()) {
        return std::nullopt;
    }
    std::string hex = stream.finishHex();
    if (hex.empty()) {
        return std::nullopt;
    }
    return hex;
}

bool isSha256Hex(std::string_view text) {
    if (text.size() != 64) {
        return false;
    }
    for (const char c : text) {
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) {
            return false;
        }
    }
    return true;
}
