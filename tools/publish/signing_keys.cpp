#include "tools/publish/signing_keys.h"

#include "update/release/base64_text.h"
#include "update/release/release_signature.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <openssl/err.h>
#include <openssl/pem.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

struct ContextFree {
    void operator()(EVP_MD_CTX* context) const { EVP_MD_CTX_free(context); }
};
struct FileClose {
    void operator()(std::FILE* file) const { std::fclose(file); }
};

std::string libcryptoError() {
    const unsigned long code = ERR_get_error();
    if (code == 0) {
        return "unknown libcrypto error";
    }
    char text[256];
    ERR_error_string_n(code, text, sizeof text);
    return text;
}

} // namespace

SigningKey generateSigningKey(std::string& problem) {
    SigningKey key(EVP_PKEY_Q_keygen(nullptr, nullptr, "ED25519"));
    if (!key) {
        problem = "cannot make an Ed25519 key: " + libcryptoError();
    }
    return key;
}

bool writePrivateKeyFile(const EVP_PKEY* key, const std::string& path, std::string& problem) {
    // O_EXCL: a key that signs releases is never overwritten by accident.
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0) {
        problem = errno == EEXIST ? path + " already exists; not overwriting it"
                                  : "cannot create " + path + ": " + std::strerror(errno);
        return false;
    }
    fchmod(fd, 0600); // whatever the umask
    std::unique_ptr<std::FILE, FileClose> file(fdopen(fd, "w"));
    if (!file) {
        close(fd);
        problem = "cannot write " + path;
        return false;
    }
    if (PEM_write_PrivateKey(file.get(), key, nullptr, nullptr, 0, nullptr, nullptr) != 1 ||
        std::fflush(file.get()) != 0 || fsync(fd) != 0) {
        problem = "cannot write " + path + ": " + libcryptoError();
        return false;
    }
    if (std::fclose(file.release()) != 0) {
        problem = "cannot write " + path;
        return false;
    }
    return true;
}

SigningKey readPrivateKeyFile(const std::string& path, std::string& problem) {
    std::unique_ptr<std::FILE, FileClose> file(std::fopen(path.c_str(), "r"));
    if (!file) {
        problem = "cannot open " + path + ": " + std::strerror(errno);
        return nullptr;
    }
    SigningKey key(PEM_read_PrivateKey(file.get(), nullptr, nullptr, nullptr));
    if (!key) {
        problem = path + " holds no PEM private key: " + libcryptoError();
        return nullptr;
    }
    if (EVP_PKEY_get_id(key.get()) != EVP_PKEY_ED25519) {
        problem = path + " is not an Ed25519 key";
        return nullptr;
    }
    return key;
}

std::string publicKeyBase64(const EVP_PKEY* key) {
    unsigned char raw[32];
    std::size_t length = sizeof raw;
    if (EVP_PKEY_get_raw_public_key(key, raw, &length) != 1) {
        return {};
    }
    return encodeBase64(std::string(reinterpret_cast<const char*>(raw), length));
}

std::optional<std::string> signMessage(EVP_PKEY* key, const std::string& message) {
    const std::unique_ptr<EVP_MD_CTX, ContextFree> context(EVP_MD_CTX_new());
    if (!context || EVP_DigestSignInit(context.get(), nullptr, nullptr, nullptr, key) != 1) {
        return std::nullopt;
    }
    const auto* bytes = reinterpret_cast<const unsigned char*>(message.data());
    std::size_t length = 0;
    if (EVP_DigestSign(context.get(), nullptr, &length, bytes, message.size()) != 1) {
        return std::nullopt;
    }
    std::vector<unsigned char> signature(length);
    if (EVP_DigestSign(context.get(), signature.data(), &length, bytes, message.size()) != 1) {
        return std::nullopt;
    }
    return std::string(reinterpret_cast<const char*>(signature.data()), length);
}
