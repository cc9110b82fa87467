#pragma once
#include <unistd.h>
#include <utility>

// An owned file descriptor, closed when it goes.
struct Descriptor {
    int fd = -1;

    Descriptor() = default;
    explicit Descriptor(int value) : fd(value) {}
    Descriptor(Descriptor&& other) noexcept : fd(std::exchange(other.fd, -1)) {}
    Descriptor& operator=(Descriptor&& other) noexcept {
        if (this != &other) {
            reset();
            fd = std::exchange(other.fd, -1);
        }
        return *this;
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    ~Descriptor() { reset(); }

    bool valid() const { return fd >= 0; }
    void reset() {
        if (fd >= 0) {
            ::close(fd);
        }
        fd = -1;
    }
};
