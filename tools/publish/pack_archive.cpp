#include "tools/publish/pack_archive.h"

#include "tools/publish/deflate_gain.h"
#include "update/release/release_index.h"

#include <array>
#include <cstdio>
#include <deque>
#include <memory>
#include <unistd.h>
#include <zip.h>

namespace fs = std::filesystem;

namespace {

struct ZipDiscard {
    void operator()(zip_t* archive) const { zip_discard(archive); }
};
using ZipArchive = std::unique_ptr<zip_t, ZipDiscard>;

// Info-ZIP's extended timestamp keeps the modification time to the second in UTC; the DOS
// time beside it has 2-second steps in local time.
void addExtendedTimestamp(zip_t* archive, zip_uint64_t index, time_t modified) {
    const auto seconds = static_cast<std::uint32_t>(modified);
    const std::array<zip_uint8_t, 5> data = {
        1, static_cast<zip_uint8_t>(seconds), static_cast<zip_uint8_t>(seconds >> 8),
        static_cast<zip_uint8_t>(seconds >> 16), static_cast<zip_uint8_t>(seconds >> 24)};
    zip_file_extra_field_set(archive, index, 0x5455, ZIP_EXTRA_FIELD_NEW, data.data(), data.size(),
                             ZIP_FL_LOCAL | ZIP_FL_CENTRAL);
}

zip_int64_t addEntryData(zip_t* archive, const PackEntry& entry,
                         std::deque<std::string>& linkTargets) {
    if (S_ISDIR(entry.status.st_mode)) {
        return zip_dir_add(archive, entry.name.c_str(), ZIP_FL_ENC_GUESS);
    }
    zip_source_t* source = nullptr;
    if (S_ISLNK(entry.status.st_mode)) {
        // The link is stored as its target text, as zip -y does; libzip reads the text at close.
        linkTargets.push_back(fs::read_symlink(entry.source).string());
        source =
            zip_source_buffer(archive, linkTargets.back().data(), linkTargets.back().size(), 0);
    } else {
        source = zip_source_file(archive, entry.source.c_str(), 0, -1);
    }
    if (source == nullptr) {
        return -1;
    }
    const zip_int64_t index = zip_file_add(archive, entry.name.c_str(), source, ZIP_FL_ENC_GUESS);
    if (index < 0) {
        zip_source_free(source);
        return -1;
    }
    if (S_ISLNK(entry.status.st_mode)) {
        zip_set_file_compression(archive, static_cast<zip_uint64_t>(index), ZIP_CM_STORE, 0);
    }
    return index;
}

// A file that deflating barely shrinks is stored: it installs without inflating, and an install
// cut off inside it resumes where it stopped.
bool chooseCompression(zip_t* archive, zip_uint64_t index, const PackEntry& entry,
                       std::string& problem) {
    if (!S_ISREG(entry.status.st_mode)) {
        return true;
    }
    const std::optional<bool> worthIt = deflateIsWorthIt(entry.source);
    if (!worthIt) {
        problem = "cannot read " + entry.source.string();
        return false;
    }
    if (!*worthIt && zip_set_file_compression(archive, index, ZIP_CM_STORE, 0) != 0) {
        problem = "cannot store " + entry.name + ": " + zip_strerror(archive);
        return false;
    }
    return true;
}

bool addEntry(zip_t* archive, const PackEntry& entry, std::deque<std::string>& linkTargets,
              std::string& problem) {
    const zip_int64_t added = addEntryData(archive, entry, linkTargets);
    if (added < 0) {
        problem = "cannot add " + entry.source.string() + ": " + zip_strerror(archive);
        return false;
    }
    const auto index = static_cast<zip_uint64_t>(added);
    if (!chooseCompression(archive, index, entry, problem)) {
        return false;
    }
    // The high 16 bits hold the Unix mode (type and permissions); 0x10 is the DOS folder flag.
    const zip_uint32_t dosFolder = S_ISDIR(entry.status.st_mode) ? 0x10 : 0;
    const auto mode = static_cast<zip_uint32_t>(entry.status.st_mode & (S_IFMT | 07777));
    if (zip_file_set_external_attributes(archive, index, 0, ZIP_OPSYS_UNIX,
                                         (mode << 16) | dosFolder) != 0 ||
        zip_file_set_mtime(archive, index, entry.status.st_mtime, 0) != 0) {
        problem = "cannot set the attributes of " + entry.name + ": " + zip_strerror(archive);
        return false;
    }
    addExtendedTimestamp(archive, index, entry.status.st_mtime);
    return true;
}

// A file that pack makes itself (the index, a patch): a plain file, mode 0644. Its index, or -1
// with problem set.
zip_int64_t addMadeFile(zip_t* archive, const std::string& name, zip_source_t* source,
                        time_t modified, std::string& problem) {
    const zip_int64_t added =
        source == nullptr ? -1 : zip_file_add(archive, name.c_str(), source, ZIP_FL_ENC_UTF_8);
    if (added < 0) {
        zip_source_free(source);
        problem = "cannot add " + name + ": " + zip_strerror(archive);
        return -1;
    }
    const auto at = static_cast<zip_uint64_t>(added);
    const zip_uint32_t mode = S_IFREG | 0644;
    if (zip_file_set_external_attributes(archive, at, 0, ZIP_OPSYS_UNIX, mode << 16) != 0 ||
        zip_file_set_mtime(archive, at, modified, 0) != 0) {
        problem = "cannot set the attributes of " + name;
        return -1;
    }
    addExtendedTimestamp(archive, at, modified);
    return added;
}

bool addReleaseIndex(zip_t* archive, const std::string& index, time_t modified,
                     std::string& problem) {
    zip_source_t* source = zip_source_buffer(archive, index.data(), index.size(), 0);
    return addMadeFile(archive, releaseIndexName, source, modified, problem) >= 0;
}

// A file stored as it is: libzip reads it from its own copy of the descriptor at close.
bool addStored(zip_t* archive, const StoredAddition& stored, time_t modified,
               std::string& problem) {
    // The copy shares the file's offset, which writing the data left at its end.
    const int copy = lseek(stored.fd, 0, SEEK_SET) == 0 ? dup(stored.fd) : -1;
    FILE* file = copy < 0 ? nullptr : fdopen(copy, "rb");
    if (file == nullptr) {
        if (copy >= 0) {
            close(copy);
        }
        problem = "cannot read the data of " + stored.name;
        return false;
    }
    zip_source_t* source = zip_source_filep(archive, file, 0, -1);
    if (source == nullptr) {
        fclose(file);
    }
    const zip_int64_t added = addMadeFile(archive, stored.name, source, modified, problem);
    if (added < 0) {
        return false;
    }
    if (zip_set_file_compression(archive, static_cast<zip_uint64_t>(added), ZIP_CM_STORE, 0) != 0) {
        problem = "cannot store " + stored.name + ": " + zip_strerror(archive);
        return false;
    }
    return true;
}

ZipArchive openForWriting(const fs::path& path, int flags, std::string& problem) {
    int code = 0;
    ZipArchive archive(zip_open(path.c_str(), flags, &code));
    if (!archive) {
        zip_error_t error;
        zip_error_init_with_code(&error, code);
        problem = "cannot " + std::string((flags & ZIP_TRUNCATE) != 0 ? "create " : "open ") +
                  path.string() + ": " + zip_error_strerror(&error);
        zip_error_fini(&error);
    }
    return archive;
}

bool closeArchive(ZipArchive& archive, const fs::path& path, std::string& problem) {
    if (zip_close(archive.get()) != 0) {
        problem = "cannot write " + path.string() + ": " + zip_strerror(archive.get());
        return false;
    }
    archive.release(); // zip_close freed it
    return true;
}

// The bundle's entries, and then the index unless it is left for later (none).
bool createArchive(const fs::path& output, const std::vector<PackEntry>& entries,
                   const std::string* index, std::string& problem) {
    ZipArchive archive = openForWriting(output, ZIP_CREATE | ZIP_TRUNCATE, problem);
    if (!archive) {
        return false;
    }
    std::deque<std::string> linkTargets; // must outlive zip_close, which reads the sources
    for (const auto& entry : entries) {
        if (!addEntry(archive.get(), entry, linkTargets, problem)) {
            return false;
        }
    }
    // Stamped like the bundle's top folder, so that packing the same folder twice gives the
    // same archive.
    if (index != nullptr &&
        !addReleaseIndex(archive.get(), *index, entries.front().status.st_mtime, problem)) {
        return false;
    }
    return closeArchive(archive, output, problem);
}

} // namespace

bool writeArchive(const fs::path& output, const std::vector<PackEntry>& entries,
                  const std::string& index, std::string& problem) {
    return createArchive(output, entries, &index, problem);
}

bool writeBundleArchive(const fs::path& output, const std::vector<PackEntry>& entries,
                        std::string& problem) {
    return createArchive(output, entries, nullptr, problem);
}

bool appendAndClose(const fs::path& path, const std::vector<StoredAddition>& stored,
                    const std::string& index, time_t modified, std::string& problem) {
    ZipArchive archive = openForWriting(path, 0, problem);
    if (!archive) {
        return false;
    }
    for (const StoredAddition& addition : stored) {
        if (!addStored(archive.get(), addition, modified, problem)) {
            return false;
        }
    }
    return addReleaseIndex(archive.get(), index, modified, problem) &&
           closeArchive(archive, path, problem);
}

bool readCompressedSizes(const fs::path& path, const std::vector<std::string>& names,
                         std::vector<std::uint64_t>& sizes, std::string& problem) {
    ZipArchive archive = openForWriting(path, ZIP_RDONLY, problem);
    if (!archive) {
        return false;
    }
    sizes.clear();
    for (const std::string& name : names) {
        zip_stat_t status;
        if (zip_stat(archive.get(), name.c_str(), 0, &status) != 0 ||
            (status.valid & ZIP_STAT_COMP_SIZE) == 0) {
            problem = "cannot read the size of " + name + " in " + path.string();
            return false;
        }
        sizes.push_back(status.comp_size);
    }
    return true;
}
