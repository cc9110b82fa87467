#include "platform/mapped_file.h"

#include <sys/mman.h>

void FileMapping::reset() {
    if (address != nullptr) {
        munmap(address, size);
    }
    address = nullptr;
    size = 0;
}

bool mapFile(int fd, std::size_t size, bool writable, FileMapping& mapping) {
    mapping.reset();
    if (size == 0) {
        return true;
    }
    const int protection = writable ? PROT_READ | PROT_WRITE : PROT_READ;
    void* address = mmap(nullptr, size, protection, MAP_SHARED, fd, 0);
    if (address == MAP_FAILED) {
        return false;
    }
    mapping = FileMapping(address, size);
    return true;
}
