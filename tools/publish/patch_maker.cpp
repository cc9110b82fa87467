#include "tools/publish/patch_maker.h"

#include "platform/write_all.h"
#include "update/release/sha256_stream.h"

#include <cerrno>
#include <cstring>
#include <memory>
#include <vector>

// The encoder reads the new file straight from its mapping (a stable input buffer) instead of
// copying it into a window of its own; that parameter is among libzstd's advanced ones.
#define ZSTD_STATIC_LINKING_ONLY
#include <zstd.h>

namespace {

constexpr int largestWindowLog = 31; // libzstd's limit on a 64-bit system

struct EncoderFree {
    void operator()(ZSTD_CCtx* encoder) const { ZSTD_freeCCtx(encoder); }
};
using Encoder = std::unique_ptr<ZSTD_CCtx, EncoderFree>;

Encoder makeEncoder(const FileMapping& reference, const FileMapping& target, std::string& problem) {
    Encoder encoder(ZSTD_createCCtx());
    if (!encoder) {
        problem = "cannot make a zstd encoder";
        return nullptr;
    }
    ZSTD_CCtx* e = encoder.get();
    const std::pair<ZSTD_cParameter, int> parameters[] = {
        {ZSTD_c_compressionLevel, patchCompressionLevel},
        {ZSTD_c_enableLongDistanceMatching, 1},
        {ZSTD_c_windowLog, patchWindowLog(reference.size, target.size)},
        {ZSTD_c_checksumFlag, 1}, // a patch applied to another base fails in the decoder
        {ZSTD_c_contentSizeFlag, 1},
        {ZSTD_c_stableInBuffer, 1}};
    std::size_t status = 0;
    for (const auto& [parameter, value] : parameters) {
        status = ZSTD_isError(status) ? status : ZSTD_CCtx_setParameter(e, parameter, value);
    }
    if (!ZSTD_isError(status)) {
        status = ZSTD_CCtx_setPledgedSrcSize(e, target.size);
    }
    if (!ZSTD_isError(status) && reference.size > 0) {
        status = ZSTD_CCtx_refPrefix(e, reference.address, reference.size);
    }
    if (ZSTD_isError(status)) {
        problem = std::string("cannot set up the zstd encoder: ") + ZSTD_getErrorName(status);
        return nullptr;
    }
    return encoder;
}

} // namespace

int patchWindowLog(std::uint64_t referenceBytes, std::uint64_t targetBytes) {
    const std::uint64_t span = referenceBytes + targetBytes;
    int log = ZSTD_WINDOWLOG_MIN;
    while (log < largestWindowLog && (std::uint64_t{1} << log) < span) {
        ++log;
    }
    return log;
}

MadePatch makeZstdPatch(const FileMapping& reference, const FileMapping& target, int outputFd,
                        std::uint64_t limit) {
    MadePatch made;
    const Encoder encoder = makeEncoder(reference, target, made.problem);
    if (!encoder) {
        return made;
    }
    char nothing = 0; // an empty file's "address": the encoder wants one
    ZSTD_inBuffer in{target.size > 0 ? target.address : &nothing, target.size, 0};
    std::vector<char> buffer(ZSTD_CStreamOutSize());
    Sha256Stream hash;
    while (true) {
        ZSTD_outBuffer out{buffer.data(), buffer.size(), 0};
        const std::size_t left = ZSTD_compressStream2(encoder.get(), &out, &in, ZSTD_e_end);
        if (ZSTD_isError(left)) {
            made.problem = std::string("zstd failed: ") + ZSTD_getErrorName(left);
            return made;
        }
        if (!writeAll(outputFd, buffer.data(), out.pos)) {
            made.problem = std::string("cannot write the patch: ") + std::strerror(errno);
            return made;
        }
        hash.update(buffer.data(), out.pos);
        made.bytes += out.pos;
        if (made.bytes >= limit) {
            made.outcome = PatchMade::TooLarge;
            return made;
        }
        if (left == 0) {
            break;
        }
    }
    made.sha256 = hash.finishHex();
    made.outcome = made.sha256.empty() ? PatchMade::Failed : PatchMade::Made;
    if (made.sha256.empty()) {
        made.problem = "cannot hash the patch";
    }
    return made;
}
