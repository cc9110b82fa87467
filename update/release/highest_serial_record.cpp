#include "update/release/highest_serial_record.h"

#include "platform/durable_record.h"
#include "platform/file_descriptor.h"
#include "platform/regular_file.h"
#include "update/release/release_signature.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>

namespace {

// A serial is at most 20 digits; a record much longer than that is no record of ours.
constexpr std::size_t largestRecord = 64;

std::string errorText(const std::string& what, const std::string& path) {
    return what + " " + path + ": " + std::strerror(errno);
}

} // namespace

std::optional<std::uint64_t> readHighestSerial(const std::string& folder, std::string& problem) {
    const std::string path = folder + "/" + highestSerialRecordName;
    const Descriptor file = openRegularFile(AT_FDCWD, path);
    if (!file.valid()) {
        if (errno == ENOENT) {
            return 0;
        }
        problem =
            errno == EINVAL ? path + " is not a regular file" : errorText("cannot open", path);
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
    const Descriptor directory(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!directory.valid() ||
        !writeRecordDurably(directory.fd, highestSerialRecordName, highestSerialPartialName,
                            std::to_string(serial) + "\n")) {
        problem = errorText("cannot write", folder + "/" + highestSerialPartialName);
        return false;
    }
    return true;
}
