#include "update/patch/zstd_patch.h"

#include "platform/mapped_file.h"
#include "platform/regular_file.h"
#include "update/patch/following_hash.h"
#include "update/patch/pages_ahead.h"
#include "update/unpack/unpack_paths.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <fcntl.h>
#include <memory>
#include <optional>
#include <sys/stat.h>
#include <unistd.h>

// The decoder's stable output buffer (it writes straight into the mapped result instead of
// keeping a window of its own) is among libzstd's advanced parameters.
#define ZSTD_STATIC_LINKING_ONLY
#include <zstd.h>

namespace {

// The largest window libzstd decodes on a 64-bit system; the publisher's patches use at most
// this. The window costs no memory here: the decoder reads back from the mapped result.
constexpr int largestWindowLog = 31;

struct DecoderFree {
    void operator()(ZSTD_DCtx* decoder) const { ZSTD_freeDCtx(decoder); }
};
using Decoder = std::unique_ptr<ZSTD_DCtx, DecoderFree>;

struct Applying {
    const PatchReader& readPatch;
    int outputFd;
    std::vector<char> input;
    ZSTD_inBuffer in{nullptr, 0, 0};
    std::string failure;
};

// Reads the next piece of the patch into the input buffer; false at its end or on a failure
// (failure set).
bool readMore(Applying& applying) {
    const std::int64_t got =
        applying.readPatch(applying.input.data(), applying.input.size(), applying.failure);
    if (got < 0) {
        if (applying.failure.empty()) {
            applying.failure = "cannot read the patch";
        }
        return false;
    }
    applying.in = {applying.input.data(), static_cast<std::size_t>(got), 0};
    return got > 0;
}

// Reads until the frame header is whole (or the patch ends) and returns the size of the result
// it announces; none, with failure set, when the patch is no frame of ours or announces another
// size than the file's. Nothing is reserved for a result before its size is the file's: a forged
// header would otherwise have the disk filled for a small file.
std::optional<std::uint64_t> announcedSize(Applying& applying, std::uint64_t expectedBytes) {
    std::size_t have = 0;
    while (have < ZSTD_FRAMEHEADERSIZE_MAX) {
        const std::int64_t got = applying.readPatch(
            applying.input.data() + have, ZSTD_FRAMEHEADERSIZE_MAX - have, applying.failure);
        if (got < 0) {
            if (applying.failure.empty()) {
                applying.failure = "cannot read the patch";
            }
            return std::nullopt;
        }
        if (got == 0) {
            break;
        }
        have += static_cast<std::size_t>(got);
    }
    applying.in = {applying.input.data(), have, 0};
    const unsigned char magic[4] = {0x28, 0xB5, 0x2F, 0xFD};
    if (have < sizeof magic ||
        !std::equal(magic, magic + 4, applying.input.begin(),
                    [](unsigned char a, char b) { return a == static_cast<unsigned char>(b); })) {
        applying.failure = "the patch is not a zstd frame";
        return std::nullopt;
    }
    const unsigned long long size = ZSTD_getFrameContentSize(applying.input.data(), have);
    if (size == ZSTD_CONTENTSIZE_ERROR || size == ZSTD_CONTENTSIZE_UNKNOWN) {
        applying.failure = "the patch's frame header does not give the size of its result";
        return std::nullopt;
    }
    if (size != expectedBytes) {
        applying.failure = "the patch's frame announces a result of " + std::to_string(size) +
                           " bytes, the file has " + std::to_string(expectedBytes);
        return std::nullopt;
    }
    if (size > largestPatchedFile) {
        applying.failure = "the patch's result would be larger than a patched file may be";
        return std::nullopt;
    }
    return size;
}

// Empties the output and reserves its blocks before it is mapped: a full disk then fails here
// instead of as a fault when a page of the mapping is written.
bool prepareOutput(int outputFd, std::uint64_t size, FileMapping& mapping, std::string& failure) {
    const int flags = fcntl(outputFd, F_GETFL);
    if (flags < 0 || (flags & O_ACCMODE) != O_RDWR) {
        failure = "the output is not open for reading and writing";
        return false;
    }
    if (ftruncate(outputFd, 0) != 0) {
        failure = errorText("cannot empty the output");
        return false;
    }
    if (size > 0) {
        const int error = posix_fallocate(outputFd, 0, static_cast<off_t>(size));
        if (error != 0) {
            errno = error;
            failure = errorText("cannot make room for the result");
            return false;
        }
    }
    if (!mapFile(outputFd, size, true, mapping)) {
        failure = errorText("cannot map the output");
        return false;
    }
    return true;
}

Decoder makeDecoder(const FileMapping& base, std::string& failure) {
    Decoder decoder(ZSTD_createDCtx());
    if (!decoder) {
        failure = "cannot make a zstd decoder";
        return nullptr;
    }
    std::size_t status =
        ZSTD_DCtx_setParameter(decoder.get(), ZSTD_d_windowLogMax, largestWindowLog);
    if (!ZSTD_isError(status)) {
        status = ZSTD_DCtx_setParameter(decoder.get(), ZSTD_d_stableOutBuffer, 1);
    }
    if (!ZSTD_isError(status) && base.size > 0) {
        status = ZSTD_DCtx_refPrefix(decoder.get(), base.address, base.size);
    }
    if (ZSTD_isError(status)) {
        failure = std::string("cannot set up the zstd decoder: ") + ZSTD_getErrorName(status);
        return nullptr;
    }
    return decoder;
}

// Sends the made part of the result to the disk a stretch at a time, without waiting for it:
// the result's pages are written while the decoder runs instead of all at once by the commit's
// sync. The decoder only reads back what it made: no page but the one at a stretch's edge is
// written to the disk twice.
void writeBehind(int outputFd, std::size_t made, std::size_t& sent, bool last) {
    constexpr std::size_t stretch = 32 << 20;
    if (made < sent + stretch && !(last && made > sent)) {
        return;
    }
    sync_file_range(outputFd, static_cast<off_t>(sent), static_cast<off_t>(made - sent),
                    SYNC_FILE_RANGE_WRITE);
    sent = made;
}

// Hands the decoder the patch a little at a time: a few bytes of it can make hundreds of MiB of
// the result (a long stretch of the base), and between two calls the hash, the pages made
// ahead and the writing behind all catch up with the decoder instead of waiting for it.
std::size_t decodeStep(ZSTD_DCtx* decoder, ZSTD_outBuffer& out, ZSTD_inBuffer& in) {
    constexpr std::size_t inputStep = 1024;
    ZSTD_inBuffer piece{in.src, std::min(in.size, in.pos + inputStep), in.pos};
    const std::size_t left = ZSTD_decompressStream(decoder, &out, &piece);
    in.pos = piece.pos;
    return left;
}

// Decodes the frame into out, reporting to the hash how far the result is made, then makes
// sure that nothing follows the frame (reading to the end also lets libzip check the entry's
// CRC-32).
bool decode(Applying& applying, ZSTD_DCtx* decoder, ZSTD_outBuffer& out, FollowingHash& hash) {
    PagesAhead pages(static_cast<char*>(out.dst), out.size);
    std::size_t sent = 0;
    while (true) {
        pages.writerAt(out.pos);
        const std::size_t before = applying.in.pos + out.pos;
        const std::size_t left = decodeStep(decoder, out, applying.in);
        if (ZSTD_isError(left)) {
            applying.failure = std::string("the patch does not apply: ") + ZSTD_getErrorName(left);
            return false;
        }
        hash.madeUpTo(out.pos);
        writeBehind(applying.outputFd, out.pos, sent, left == 0);
        if (left == 0) {
            break;
        }
        if (applying.in.pos < applying.in.size) {
            if (applying.in.pos + out.pos == before) {
                applying.failure = "the patch does not apply: the decoder makes no progress";
                return false;
            }
            continue;
        }
        if (!readMore(applying)) {
            if (applying.failure.empty()) {
                applying.failure = "the patch ends before its result is whole";
            }
            return false;
        }
    }
    if (applying.in.pos < applying.in.size || readMore(applying)) {
        applying.failure = "the patch holds more than one zstd frame";
        return false;
    }
    return applying.failure.empty();
}

// The seconds since start, which moves on to now: one phase after another.
double lap(std::chrono::steady_clock::time_point& start) {
    const auto now = std::chrono::steady_clock::now();
    const std::chrono::duration<double> took = now - start;
    start = now;
    return took.count();
}

PatchOutcome apply(int baseFd, const PatchReader& readPatch, int outputFd,
                   std::uint64_t expectedBytes) {
    PatchOutcome outcome;
    struct stat status {};
    FileMapping base;
    if (fstat(baseFd, &status) != 0 || !S_ISREG(status.st_mode)) {
        outcome.failure = "the base is not a regular file";
        return outcome;
    }
    if (!mapFile(baseFd, static_cast<std::size_t>(status.st_size), false, base)) {
        outcome.failure = errorText("cannot map the base");
        return outcome;
    }
    Applying applying{readPatch, outputFd, std::vector<char>(ZSTD_DStreamInSize()), {}, {}};
    const auto size = announcedSize(applying, expectedBytes);
    FileMapping result;
    auto phase = std::chrono::steady_clock::now();
    if (!size || !prepareOutput(outputFd, *size, result, applying.failure)) {
        outcome.failure = applying.failure;
        return outcome;
    }
    outcome.preparingSeconds = lap(phase);
    const Decoder decoder = makeDecoder(base, applying.failure);
    char nothing = 0; // where an empty result "goes": the decoder wants an address
    ZSTD_outBuffer out{*size > 0 ? result.address : &nothing, static_cast<std::size_t>(*size), 0};
    FollowingHash hash(static_cast<const unsigned char*>(out.dst));
    if (!decoder || !decode(applying, decoder.get(), out, hash)) {
        outcome.failure = applying.failure;
        return outcome;
    }
    outcome.decodingSeconds = lap(phase);
    outcome.sha256 = hash.finish(out.pos);
    outcome.hashTailSeconds = lap(phase);
    outcome.bytes = out.pos;
    if (outcome.sha256.empty()) {
        outcome.failure = "cannot hash the result";
    }
    return outcome;
}

} // namespace

Descriptor openPatchBase(int root, const std::vector<std::string>& components,
                         std::string& failure) {
    if (components.empty()) {
        failure = "no base file is named";
        return {};
    }
    const Descriptor folder = openExistingFolder(root, components, components.size() - 1);
    if (!folder.valid()) {
        failure = "the base's folder is not there";
        return {};
    }
    Descriptor file = openRegularFile(folder.fd, components.back());
    if (!file.valid()) {
        failure =
            errno == EINVAL ? "the base is not a regular file" : errorText("cannot open the base");
    }
    return file;
}

PatchOutcome applyZstdPatch(int baseFd, const PatchReader& readPatch, int outputFd,
                            std::uint64_t expectedBytes) {
    PatchOutcome outcome = apply(baseFd, readPatch, outputFd, expectedBytes);
    if (!outcome.applied()) {
        // Nothing of a failed result stays behind to be taken for whole.
        outcome.sha256.clear();
        outcome.bytes = 0;
        if (ftruncate(outputFd, 0) != 0) {
            outcome.failure += "; " + errorText("cannot empty the output");
        }
    }
    return outcome;
}

PatchOutcome applyZstdPatch(int baseFd, zip_file_t* patch, int outputFd,
                            std::uint64_t expectedBytes) {
    const PatchReader read = [patch](void* buffer, std::size_t size, std::string& failure) {
        const zip_int64_t got = zip_fread(patch, buffer, size);
        if (got < 0) {
            failure =
                std::string("cannot read the patch from the archive: ") + zip_file_strerror(patch);
            return std::int64_t{-1};
        }
        return static_cast<std::int64_t>(got);
    };
    return applyZstdPatch(baseFd, read, outputFd, expectedBytes);
}
