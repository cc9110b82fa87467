#include "tools/publish/archive_index.h"

#include "update/release/release_index.h"

#include <memory>
#include <zip.h>

namespace {

struct ZipClose {
    void operator()(zip_t* archive) const { zip_discard(archive); }
};
struct ZipFileClose {
    void operator()(zip_file_t* file) const { zip_fclose(file); }
};

// An index is a line per entry; anything far larger is no index.
constexpr zip_uint64_t largestIndex = 64u << 20;

} // namespace

std::optional<std::string> readArchiveIndex(const std::string& archivePath, std::string& problem) {
    int code = 0;
    const std::unique_ptr<zip_t, ZipClose> archive(
        zip_open(archivePath.c_str(), ZIP_RDONLY, &code));
    if (!archive) {
        problem = "cannot open " + archivePath + " as a ZIP archive";
        return std::nullopt;
    }
    const zip_int64_t index = zip_name_locate(archive.get(), releaseIndexName, 0);
    zip_stat_t status;
    if (index < 0 ||
        zip_stat_index(archive.get(), static_cast<zip_uint64_t>(index), 0, &status) != 0) {
        problem = archivePath + " carries no " + std::string(releaseIndexName) +
                  "; pack it again with this launcher-publish";
        return std::nullopt;
    }
    if (status.size > largestIndex) {
        problem = "the " + std::string(releaseIndexName) + " of " + archivePath + " is too large";
        return std::nullopt;
    }
    const std::unique_ptr<zip_file_t, ZipFileClose> file(
        zip_fopen_index(archive.get(), static_cast<zip_uint64_t>(index), 0));
    std::string text(status.size, '\0');
    if (!file ||
        zip_fread(file.get(), text.data(), status.size) != static_cast<zip_int64_t>(status.size)) {
        problem = "cannot read the " + std::string(releaseIndexName) + " of " + archivePath;
        return std::nullopt;
    }
    return text;
}
