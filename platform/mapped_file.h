#pragma once
#include <cstddef>
#include <utility>

// A file's bytes mapped into memory, unmapped when it goes. The pages belong to the file (the
// page cache), not to the process's own memory, so a file of any size can be read or written
// through a mapping without the process growing by its size.
struct FileMapping {
    void* address = nullptr;
    std::size_t size = 0;

    FileMapping() = default;
    FileMapping(void* at, std::size_t length) : address(at), size(length) {}
    FileMapping(FileMapping&& other) noexcept
        : address(std::exchange(other.address, nullptr)), size(std::exchange(other.size, 0)) {}
    FileMapping& operator=(FileMapping&& other) noexcept {
        if (this != &other) {
            reset();
            address = std::exchange(other.address, nullptr);
            size = std::exchange(other.size, 0);
        }
        return *this;
    }
    FileMapping(const FileMapping&) = delete;
    FileMapping& operator=(const FileMapping&) = delete;
    ~FileMapping() { reset(); }

    unsigned char* bytes() const { return static_cast<unsigned char*>(address); }
    void reset();
};

// Maps the first size bytes of fd: for reading only, or (writable) for reading and writing,
// where what is written reaches the file. fd must be open for what is asked. Nothing is mapped
// when size is 0; false with errno set when the mapping fails.
bool mapFile(int fd, std::size_t size, bool writable, FileMapping& mapping);
