#pragma once
#include <cstddef>
#include <memory>
#include <openssl/evp.h>
#include <optional>
#include <string>
#include <string_view>

// SHA-256 over bytes handed in piece by piece, so that a download is hashed while it arrives
// and never read a second time.
class Sha256Stream {
  public:
    Sha256Stream();
    // False once libcrypto failed; the digest is then never reported.
    bool ok() const { return good; }
    void update(const void* data, std::size_t size);
    // Lower-case hex of the digest of everything fed so far; empty when libcrypto failed.
    std::string finishHex();

  private:
    struct ContextFree {
        void operator()(EVP_MD_CTX* context) const { EVP_MD_CTX_free(context); }
    };
    std::unique_ptr<EVP_MD_CTX, ContextFree> context;
    bool good = false;
};

// Lower-case hex SHA-256 of a whole byte string.
std::string sha256Hex(std::string_view bytes);
// Lower-case hex SHA-256 of a file's contents; none when it cannot be read.
std::optional<std::string> sha256FileHex(const std::string& path);
// Whether text is 64 lower-case hex digits, the form the manifest carries.
bool isSha256Hex(std::string_view text);
