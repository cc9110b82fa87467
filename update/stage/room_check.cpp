#include "update/stage/room_check.h"

#include "launcher/run_log.h"
#include "platform/free_space.h"

namespace {

constexpr std::uint64_t blockBytes = 4096;
constexpr std::uint64_t mebibyte = 1024 * 1024;

} // namespace

std::uint64_t bytesOnDisk(std::uint64_t size) {
    return (size + blockBytes - 1) / blockBytes * blockBytes;
}

bool roomForUpdate(const std::string& dataFolder, std::uint64_t neededBytes,
                   std::uint64_t alreadyWritten) {
    auto freeBytes = freeBytesAt(dataFolder);
    if (freeBytes) {
        *freeBytes += alreadyWritten;
    }
    if (!freeBytes || *freeBytes >= neededBytes) {
        return true;
    }
    const std::uint64_t neededMiB = (neededBytes + mebibyte - 1) / mebibyte;
    writeToLog("Not enough free space in " + dataFolder + ": the update needs " +
               std::to_string(neededMiB) + " MiB, " + std::to_string(*freeBytes / mebibyte) +
               " MiB are free");
    return false;
}
