#include "update/release_index_read.h"

#include "launcher/run_log.h"
#include "update/install_plan.h"
#include "update/release/release_index.h"
#include "update/release/sha256_stream.h"
#include "update/unpack/zip_entries.h"

#include <cstdint>
#include <cstring>
#include <vector>

namespace {

// A line's "\", hash, two marks and line end.
constexpr std::uint64_t lineBytesBesideName = 1 + 64 + 2 + 1;
constexpr std::size_t chunkBytes = 64 * 1024;

// The longest index that the entries of archive other than the one at index could need; listed
// receives how many they are.
std::uint64_t longestIndexBytes(zip_t* archive, zip_uint64_t index, std::uint64_t& listed) {
    const zip_int64_t total = zip_get_num_entries(archive, 0);
    std::uint64_t bytes = 0;
    listed = 0;
    for (zip_int64_t position = 0; position < total; ++position) {
        const char* name = zip_get_name(archive, static_cast<zip_uint64_t>(position), 0);
        if (static_cast<zip_uint64_t>(position) != index && name != nullptr) {
            bytes += lineBytesBesideName + 2 * std::strlen(name);
            ++listed;
        }
    }
    return bytes;
}

} // namespace

std::optional<ReleaseIndexText> readReleaseIndexEntry(zip_t* archive, zip_uint64_t index,
                                                      const std::string& url, bool& refused) {
    refused = false;
    zip_stat_t status;
    if (zip_stat_index(archive, index, 0, &status) != 0 || (status.valid & ZIP_STAT_SIZE) == 0) {
        return std::nullopt;
    }
    std::uint64_t listed = 0;
    if (status.size > longestIndexBytes(archive, index, listed)) {
        refused = true;
        writeToLog(std::string("Archive refused, its ") + releaseIndexName + " of " +
                   std::to_string(status.size) + " bytes is larger than its " +
                   std::to_string(listed) + " other entries can explain: " + url);
        return std::nullopt;
    }
    EntryHandle data(zip_fopen_index(archive, index, 0));
    if (!data) {
        return std::nullopt;
    }
    ReleaseIndexText read;
    read.text.reserve(status.size);
    Sha256Stream hash;
    std::vector<char> chunk(chunkBytes);
    while (true) {
        const zip_int64_t got = zip_fread(data.get(), chunk.data(), chunk.size());
        if (got < 0 || static_cast<zip_uint64_t>(got) > status.size - read.text.size()) {
            return std::nullopt;
        }
        if (got == 0) {
            break;
        }
        hash.update(chunk.data(), static_cast<std::size_t>(got));
        read.text.append(chunk.data(), static_cast<std::size_t>(got));
    }
    read.sha256 = hash.finishHex();
    if (read.sha256.empty()) {
        return std::nullopt;
    }
    return read;
}

std::optional<IndexedHashes>
readCheckedReleaseIndex(zip_t* archive, const std::string& url,
                        const std::optional<std::string>& requiredSha256, std::string& indexSha256,
                        const std::function<bool()>& transferFailed) {
    const zip_int64_t position = zip_name_locate(archive, releaseIndexName, 0);
    if (position < 0) {
        if (requiredSha256) {
            writeToLog(std::string("Archive refused, it holds no ") + releaseIndexName + ": " +
                       url);
            return std::nullopt;
        }
        return IndexedHashes{};
    }
    const auto unreadable = [&url] {
        writeToLog(std::string("Archive refused, its ") + releaseIndexName +
                   " cannot be read: " + url);
        return std::nullopt;
    };
    bool refused = false;
    const auto index =
        readReleaseIndexEntry(archive, static_cast<zip_uint64_t>(position), url, refused);
    if (!index) {
        if (refused || transferFailed()) {
            return std::nullopt; // already said, or the transfer's own line follows
        }
        return unreadable();
    }
    indexSha256 = index->sha256;
    if (requiredSha256 && (requiredSha256->empty() || *requiredSha256 != indexSha256)) {
        writeToLog(std::string("Archive refused, its ") + releaseIndexName +
                   " differs from the manifest's: expected " +
                   (requiredSha256->empty() ? std::string("(none)") : *requiredSha256) + " got " +
                   indexSha256 + " for " + url);
        return std::nullopt;
    }
    // Parsed only once its hash has been compared: a substituted index is never parsed.
    auto parsed = parseReleaseIndex(index->text);
    if (!parsed) {
        return unreadable();
    }
    // The names are the keys; each is kept once.
    IndexedHashes hashes;
    for (ReleaseIndexEntry& entry : *parsed) {
        hashes.insert_or_assign(std::move(entry.name),
                                ReleaseIndexEntry{{}, std::move(entry.sha256), entry.link});
    }
    return hashes;
}
