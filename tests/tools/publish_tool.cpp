#include "tests/tools/publish_tool.h"

#include <fcntl.h>
#include <memory>
#include <stdexcept>
#include <sys/stat.h>
#include <zip.h>

ChildResult publish(const std::vector<std::string>& arguments,
                    const std::map<std::string, std::string>& environment) {
    return runChild(PUBLISH_TOOL, arguments, environment);
}

namespace {

struct ZipClose {
    void operator()(zip_t* archive) const { zip_discard(archive); }
};
struct ZipFileClose {
    void operator()(zip_file_t* file) const { zip_fclose(file); }
};

std::string entryData(zip_t* archive, zip_uint64_t index, zip_uint64_t size) {
    std::unique_ptr<zip_file_t, ZipFileClose> file(zip_fopen_index(archive, index, 0));
    if (!file) {
        throw std::runtime_error("cannot open an archive entry");
    }
    std::string data(size, '\0');
    if (size != 0 && zip_fread(file.get(), data.data(), size) != static_cast<zip_int64_t>(size)) {
        throw std::runtime_error("cannot read an archive entry");
    }
    return data;
}

} // namespace

std::vector<ArchiveEntry> readArchive(const std::filesystem::path& path) {
    int code = 0;
    std::unique_ptr<zip_t, ZipClose> archive(zip_open(path.c_str(), ZIP_RDONLY, &code));
    if (!archive) {
        throw std::runtime_error("cannot open " + path.string());
    }
    std::vector<ArchiveEntry> entries;
    const zip_int64_t count = zip_get_num_entries(archive.get(), 0);
    for (zip_uint64_t i = 0; i < static_cast<zip_uint64_t>(count); ++i) {
        zip_stat_t stat;
        zip_stat_index(archive.get(), i, 0, &stat);
        zip_uint8_t system = 0;
        zip_uint32_t attributes = 0;
        zip_file_get_external_attributes(archive.get(), i, 0, &system, &attributes);
        ArchiveEntry entry;
        entry.name = stat.name;
        entry.mode = system == ZIP_OPSYS_UNIX ? attributes >> 16 : 0;
        entry.modified = stat.mtime;
        entry.method = stat.comp_method;
        entry.data = entryData(archive.get(), i, stat.size);
        entries.push_back(entry);
    }
    return entries;
}

void setModified(const std::filesystem::path& path, time_t seconds, bool link) {
    const timespec times[2] = {{seconds, 0}, {seconds, 0}};
    if (utimensat(AT_FDCWD, path.c_str(), times, link ? AT_SYMLINK_NOFOLLOW : 0) != 0) {
        throw std::runtime_error("cannot set the time of " + path.string());
    }
}
