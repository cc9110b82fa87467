#include "tests/tools/patched_release.h"

#include "tests/support/temp_folder.h"
#include "tests/tools/publish_tool.h"
#include "update/unpack/launcher_records.h"

#include <algorithm>
#include <fcntl.h>
#include <memory>
#include <random>
#include <stdexcept>
#include <zip.h>
#include <zstd.h>

namespace fs = std::filesystem;

std::string incompressibleBytes(std::size_t size, unsigned seed) {
    std::mt19937 generator(seed);
    std::string bytes(size, '\0');
    for (char& byte : bytes) {
        byte = static_cast<char>(generator());
    }
    return bytes;
}

std::string changedSlightly(std::string data, unsigned seed) {
    const std::string run = incompressibleBytes(data.size() / 100, seed);
    std::copy(run.begin(), run.end(), data.begin() + static_cast<long>(data.size() * 6 / 10));
    data.insert(std::min<std::size_t>(4096, data.size()), "25 bytes inserted here...");
    return data;
}

fs::path makeGameBundle(const fs::path& folder, const std::map<std::string, std::string>& resources,
                        const std::string& name) {
    const fs::path bundle = folder / (name + ".app");
    const fs::path executable = bundle / "Contents" / "MacOS" / name;
    writeFile(executable, "#!/bin/sh\nexit 0\n");
    fs::permissions(executable, fs::perms(0755));
    for (const auto& [file, contents] : resources) {
        writeFile(bundle / "Contents" / "Resources" / file, contents);
    }
    return bundle;
}

ChildResult packRelease(const fs::path& bundle, const fs::path& archive,
                        const std::vector<std::string>& extra) {
    std::vector<std::string> arguments = {"pack", bundle.string(), "--output", archive.string()};
    arguments.insert(arguments.end(), extra.begin(), extra.end());
    return publish(arguments);
}

std::string resourceEntry(const std::string& file, const std::string& bundle) {
    return bundle + ".app/Contents/Resources/" + file;
}

std::map<std::string, std::string> patchEntriesOf(const fs::path& archive) {
    std::map<std::string, std::string> patches;
    const std::string folder = std::string(patchFolderName) + "/";
    for (const ArchiveEntry& entry : readArchive(archive)) {
        if (entry.name.rfind(folder, 0) == 0) {
            patches[entry.name] = entry.data;
        }
    }
    return patches;
}

EntryStorage storageOf(const fs::path& archive, const std::string& name) {
    int code = 0;
    const std::unique_ptr<zip_t, decltype(&zip_discard)> opened(
        zip_open(archive.c_str(), ZIP_RDONLY, &code), zip_discard);
    zip_stat_t status;
    if (!opened || zip_stat(opened.get(), name.c_str(), 0, &status) != 0) {
        throw std::runtime_error("no entry " + name + " in " + archive.string());
    }
    return {status.comp_method, status.comp_size};
}

std::string zstdFrameAnnouncing(std::optional<unsigned long long> size) {
    const std::unique_ptr<ZSTD_CCtx, decltype(&ZSTD_freeCCtx)> encoder(ZSTD_createCCtx(),
                                                                       ZSTD_freeCCtx);
    if (size) {
        ZSTD_CCtx_setPledgedSrcSize(encoder.get(), *size);
    }
    const std::string data(4096, 'x');
    std::string frame(ZSTD_compressBound(data.size()) + 64, '\0');
    ZSTD_inBuffer in{data.data(), data.size(), 0};
    ZSTD_outBuffer out{frame.data(), frame.size(), 0};
    // Flushed first, the header is written before the encoder has seen the end of the data.
    ZSTD_compressStream2(encoder.get(), &out, &in, ZSTD_e_flush);
    if (!size) {
        ZSTD_compressStream2(encoder.get(), &out, &in, ZSTD_e_end);
    }
    frame.resize(out.pos);
    return frame;
}

PatchOutcome applyPatchBytes(const fs::path& base, const std::string& patch, const fs::path& output,
                             std::uint64_t expectedBytes) {
    const Descriptor baseFile(open(base.c_str(), O_RDONLY | O_CLOEXEC));
    const Descriptor outputFile(open(output.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
    if (!baseFile.valid() || !outputFile.valid()) {
        throw std::runtime_error("cannot open " + base.string() + " or " + output.string());
    }
    std::size_t offset = 0;
    // Handed out in odd small pieces, as a network would.
    const PatchReader read = [&](void* buffer, std::size_t size, std::string&) {
        const std::size_t piece = std::min({size, patch.size() - offset, std::size_t{7919}});
        std::copy_n(patch.data() + offset, piece, static_cast<char*>(buffer));
        offset += piece;
        return static_cast<std::int64_t>(piece);
    };
    return applyZstdPatch(baseFile.fd, read, outputFile.fd, expectedBytes);
}
