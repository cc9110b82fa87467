#pragma once
#include <cstdint>
#include <string>

// What a file of size bytes takes on disk: whole blocks of the usual 4 KiB.
std::uint64_t bytesOnDisk(std::uint64_t size);

// Whether the data folder's file system has neededBytes free. When not, logs "Not enough free
// space in <data folder>: the update needs <N> MiB, <M> MiB are free" (needs rounded up, free
// rounded down) and answers false. A file system that does not say is given the benefit of the
// doubt: a disk that fills anyway fails the update as any write failure does.
// alreadyWritten: bytes of that need already on the disk (a downloaded archive), free again for
// the comparison.
bool roomForUpdate(const std::string& dataFolder, std::uint64_t neededBytes,
                   std::uint64_t alreadyWritten = 0);
