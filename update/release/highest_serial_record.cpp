#include "update/release/highest_serial_record.h"

#include "platform/file_descriptor.h"
#include "platform/regular_file.h"
#include "update/release/release_signature.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <string_view>

namespace {

// A serial is at most 20 digits; a record much longer than that is no record of ours.
constexpr std::size_t largestRecord = 64;

std::string errorText(const std::string& what, const std::string& path) {
    return what + " " + path + ": " + std::strerror(errno);
}

bool writeAll(int fd, std::string_view text) {
    while (!text.empty()) {
        const ssize_t written = ::write(fd, text.data(), text.size());
        if (written < 0 && errno == EINTR) {
            continue;
        }
        if (written <= 0) {
            return false;
        }
        text.remove_prefix(static_cast<std::size_t>(written));
    }
    return true;
}

} // namespace

std::optional<std::uint64_t> readHighestSerial(const std::string& folder, std::string& problem) {
    const std::string path = folder + "/" + highestSerialRecordName;
    const Descriptor file = openRegularFile(AT_FDCWD, path);
    if (!file.valid()) {
        if (errno == ENOENT) {
            return 0;
        }
        problem = errorText("cannot open", path);
        return std::nullopt;
    }
    char buffer[largestRecord + 1];
    std::size_t length = 0;
    while (length < sizeof buffer) {
        const ssize_t got = ::read(file.fd, buffer + length, sizeof buffer - length);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got < 0) {
            problem = errorText("cannot read", path);
            return std::nullopt;
        }
        if (got == 0) {
            break;
        }
        length += static_cast<std::size_t>(got);
    }
    std::string text(buffer, length);
    if (!text.empty() && text.back() == '\n') {
        text.pop_back();
    }
    const auto serial = parseManifestSerial(text);
    if (!serial) {
        problem = path + " holds no serial";
    }
    return serial;
}

bool writeHighestSerial(const std::string& folder, std::uint64_t serial, std::string& problem) {
    const std::string path = folder + "/" + highestSerialRecordName;
    const std::string partial = folder + "/" + highestSerialPartialName;
    {
        const Descriptor file(
            ::open(partial.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0644));
        if (!file.valid()) {
            problem = errorText("cannot create", partial);
            return false;
        }
        if (!writeAll(file.fd, std::to_string(serial) + "\n") || ::fsync(file.fd) != 0) {
            problem = errorText("cannot write", partial);
            std::remove(partial.c_str());
            return false;
        }
    }
    if (std::rename(partial.c_str(), path.c_str()) != 0) {
        problem = errorText("cannot rename " + partial + " to", path);
        std::remove(partial.c_str());
        return false;
    }
    // The rename itself is only durable once the folder's entry is on disk. A file system that
    // cannot sync a folder (EINVAL) keeps its entries as it keeps them.
    const Descriptor directory(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!directory.valid() || (::fsync(directory.fd) != 0 && errno != EINVAL)) {
        problem = errorText("cannot sync the folder", folder);
        return false;
    }
    return true;
}
