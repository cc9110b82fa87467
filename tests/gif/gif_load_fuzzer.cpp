// libFuzzer entry: any bytes given to GIF_LoadImage, and whatever loads is saved again, must end
// in a defined result without memory errors or leaks.
#include "gif/gif_image.h"

#include <cstdint>
#include <cstdlib>
#include <string>
#include <sys/mman.h>
#include <unistd.h>

namespace {

// The module reads and writes named files; memory-backed ones keep the fuzzer off the disk.
struct MemoryFile {
    int fd = memfd_create("gif-fuzz", 0);
    std::string path = "/proc/self/fd/" + std::to_string(fd);
    MemoryFile() {
        if (fd < 0) {
            std::abort();
        }
    }
};

void fill(const MemoryFile& file, const uint8_t* data, size_t size) {
    if (ftruncate(file.fd, 0) != 0 ||
        pwrite(file.fd, data, size, 0) != static_cast<ssize_t>(size)) {
        std::abort();
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static MemoryFile input;
    static MemoryFile output;
    fill(input, data, size);
    GIF_Image* image = GIF_LoadImage(input.path.c_str());
    if (image != nullptr) {
        GIF_SaveImage(image, output.path.c_str());
        GIF_FreeImage(image);
    }
    return 0;
}
