#include "update/release/install_number_record.h"

#include "platform/durable_record.h"
#include "platform/file_descriptor.h"
#include "platform/regular_file.h"
#include "update/release/rollout.h"

#include <cerrno>
#include <charconv>
#include <cstring>
#include <fcntl.h>
#include <limits>
#include <openssl/rand.h>

InstallNumberReading readInstallNumber(const std::string& folder) {
    const std::string path = folder + "/" + installNumberRecordName;
    std::string problem;
    const auto text = readRegularFile(AT_FDCWD, path, &problem);
    if (!text) {
        return {std::nullopt, errno == ENOENT ? "" : path + ": " + problem};
    }
    std::string digits = *text;
    if (!digits.empty() && digits.back() == '\n') {
        digits.pop_back();
    }
    std::uint32_t number = 0;
    const char* end = digits.data() + digits.size();
    const auto parsed = std::from_chars(digits.data(), end, number);
    if (digits.empty() || parsed.ec != std::errc() || parsed.ptr != end ||
        number >= installNumberCount) {
        return {std::nullopt, path + " holds no install number"};
    }
    return {number, ""};
}

std::optional<std::uint32_t> drawInstallNumber() {
    // Only the draws below the largest multiple of the range map onto it evenly.
    constexpr std::uint32_t limit = std::numeric_limits<std::uint32_t>::max() -
                                    std::numeric_limits<std::uint32_t>::max() % installNumberCount;
    while (true) {
        std::uint32_t draw = 0;
        if (RAND_bytes(reinterpret_cast<unsigned char*>(&draw), sizeof draw) != 1) {
            return std::nullopt;
        }
        if (draw < limit) {
            return draw % installNumberCount;
        }
    }
}

bool writeInstallNumber(const std::string& folder, std::uint32_t number, std::string& problem) {
    const Descriptor directory(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!directory.valid() ||
        !writeRecordDurably(directory.fd, installNumberRecordName, installNumberPartialName,
                            std::to_string(number) + "\n")) {
        problem =
            "cannot write " + folder + "/" + installNumberPartialName + ": " + std::strerror(errno);
        return false;
    }
    return true;
}
