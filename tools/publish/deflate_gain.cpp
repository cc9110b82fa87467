#include "tools/publish/deflate_gain.h"

#include "platform/file_descriptor.h"

#include <array>
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>
#include <zlib.h>

namespace {

// The trial runs through the file in chunks, each flushed, so that what it has produced so far
// is exactly the compressed size of what it has read: a compressible file is decided long before
// its end.
constexpr std::size_t chunkBytes = 1024 * 1024;

struct Deflater {
    z_stream stream{};
    bool ready = false;
    Deflater() {
        // The level and raw format libzip deflates entries with.
        ready = deflateInit2(&stream, Z_BEST_COMPRESSION, Z_DEFLATED, -MAX_WBITS, 8,
                             Z_DEFAULT_STRATEGY) == Z_OK;
    }
    ~Deflater() {
        if (ready) {
            deflateEnd(&stream);
        }
    }
    Deflater(const Deflater&) = delete;
    Deflater& operator=(const Deflater&) = delete;
};

// Deflates input and flushes, counting the output into the stream's total_out.
bool deflateChunk(z_stream& stream, unsigned char* input, std::size_t bytes, int flush) {
    std::array<unsigned char, 64 * 1024> output;
    stream.next_in = input;
    stream.avail_in = static_cast<uInt>(bytes);
    do {
        stream.next_out = output.data();
        stream.avail_out = static_cast<uInt>(output.size());
        const int result = deflate(&stream, flush);
        if (result == Z_STREAM_ERROR) {
            return false;
        }
    } while (stream.avail_out == 0);
    return true;
}

// At least 1 % saved: the compressed bytes so far, plus the rest if it did not compress at all
// (deflate's stored blocks cost a few bytes each), stay under 99 % of the whole.
bool savesEnough(const z_stream& stream, std::uint64_t size) {
    const std::uint64_t rest = size - stream.total_in;
    const std::uint64_t worstRest = rest + rest / 1024 + 64;
    return (stream.total_out + worstRest) * 100 < size * 99;
}

} // namespace

std::optional<bool> deflateIsWorthIt(const std::filesystem::path& path) {
    const Descriptor file(open(path.c_str(), O_RDONLY | O_CLOEXEC));
    struct stat status {};
    if (!file.valid() || fstat(file.fd, &status) != 0) {
        return std::nullopt;
    }
    const auto size = static_cast<std::uint64_t>(status.st_size);
    Deflater deflater;
    if (!deflater.ready) {
        return std::nullopt;
    }
    std::vector<unsigned char> chunk(chunkBytes);
    while (true) {
        const ssize_t read = ::read(file.fd, chunk.data(), chunk.size());
        if (read < 0 && errno == EINTR) {
            continue;
        }
        if (read < 0) {
            return std::nullopt;
        }
        const int flush = read == 0 ? Z_FINISH : Z_SYNC_FLUSH;
        if (!deflateChunk(deflater.stream, chunk.data(), static_cast<std::size_t>(read), flush)) {
            return std::nullopt;
        }
        if (read == 0) {
            return deflater.stream.total_out * 100 < deflater.stream.total_in * 99;
        }
        if (deflater.stream.total_in <= size && savesEnough(deflater.stream, size)) {
            return true;
        }
    }
}
