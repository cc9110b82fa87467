#include "update/unpack/archive_open.h"

#include "launcher/run_log.h"

#include <memory>
#include <sys/stat.h>

namespace {

// A source over another, counting what is read while the archive is opened. It owns the source
// below it and is freed by libzip together with the archive (ZIP_SOURCE_FREE).
struct OpeningBudget {
    zip_source_t* below = nullptr;
    bool opening = true;
    std::uint64_t read = 0;
    bool exceeded = false;
    zip_error_t error{};
};

zip_int64_t failedBelow(OpeningBudget& budget) {
    zip_error_t* below = zip_source_error(budget.below);
    zip_error_set(&budget.error, zip_error_code_zip(below), zip_error_code_system(below));
    return -1;
}

zip_int64_t readWithin(OpeningBudget& budget, void* data, zip_uint64_t length) {
    if (budget.opening) {
        if (length > largestCentralDirectoryBytes - budget.read) {
            budget.exceeded = true;
            zip_error_set(&budget.error, ZIP_ER_MEMORY, 0);
            return -1;
        }
        budget.read += length;
    }
    const zip_int64_t got = zip_source_read(budget.below, data, length);
    return got < 0 ? failedBelow(budget) : got;
}

zip_int64_t seekBelow(OpeningBudget& budget, void* data, zip_uint64_t length) {
    auto* seek = ZIP_SOURCE_GET_ARGS(zip_source_args_seek_t, data, length, &budget.error);
    if (seek == nullptr) {
        return -1;
    }
    return zip_source_seek(budget.below, seek->offset, seek->whence) < 0 ? failedBelow(budget) : 0;
}

zip_int64_t budgetCallback(void* user, void* data, zip_uint64_t length, zip_source_cmd_t command) {
    auto& budget = *static_cast<OpeningBudget*>(user);
    switch (command) {
    case ZIP_SOURCE_OPEN:
        return zip_source_open(budget.below) < 0 ? failedBelow(budget) : 0;
    case ZIP_SOURCE_READ:
        return readWithin(budget, data, length);
    case ZIP_SOURCE_CLOSE:
        return zip_source_close(budget.below) < 0 ? failedBelow(budget) : 0;
    case ZIP_SOURCE_STAT:
        if (zip_source_stat(budget.below, static_cast<zip_stat_t*>(data)) < 0) {
            return failedBelow(budget);
        }
        return sizeof(zip_stat_t);
    case ZIP_SOURCE_ERROR:
        return zip_error_to_data(&budget.error, data, length);
    case ZIP_SOURCE_SEEK:
        return seekBelow(budget, data, length);
    case ZIP_SOURCE_TELL: {
        const zip_int64_t position = zip_source_tell(budget.below);
        return position < 0 ? failedBelow(budget) : position;
    }
    case ZIP_SOURCE_FREE: {
        const std::unique_ptr<OpeningBudget> owned(&budget);
        zip_source_free(owned->below);
        zip_error_fini(&owned->error);
        return 0;
    }
    case ZIP_SOURCE_SUPPORTS:
        return zip_source_make_command_bitmap(
            ZIP_SOURCE_OPEN, ZIP_SOURCE_READ, ZIP_SOURCE_CLOSE, ZIP_SOURCE_STAT, ZIP_SOURCE_ERROR,
            ZIP_SOURCE_FREE, ZIP_SOURCE_SEEK, ZIP_SOURCE_TELL, ZIP_SOURCE_SUPPORTS, -1);
    default:
        zip_error_set(&budget.error, ZIP_ER_OPNOTSUPP, 0);
        return -1;
    }
}

} // namespace

ArchiveHandle openArchive(zip_source_t* source, const std::string& label, zip_error_t& error,
                          bool& tooLarge) {
    tooLarge = false;
    if (source == nullptr) {
        return nullptr; // error says why it could not be made, when the maker said
    }
    auto budget = std::make_unique<OpeningBudget>();
    budget->below = source;
    zip_error_init(&budget->error);
    zip_source_t* counted = zip_source_function_create(budgetCallback, budget.get(), &error);
    if (counted == nullptr) {
        zip_error_fini(&budget->error);
        zip_source_free(source);
        return nullptr;
    }
    OpeningBudget& opened = *budget.release(); // the counted source owns it now
    ArchiveHandle archive(zip_open_from_source(counted, ZIP_RDONLY, &error));
    tooLarge = opened.exceeded;
    if (!archive) {
        zip_source_free(counted);
    } else {
        opened.opening = false;
    }
    if (tooLarge) {
        writeToLog("Archive refused, its central directory is larger than " +
                   std::to_string(largestCentralDirectoryBytes) + " bytes: " + label);
        return nullptr;
    }
    return archive;
}

ArchiveHandle openArchiveFile(const std::string& archivePath) {
    zip_error_t error;
    zip_error_init(&error);
    // libzip takes an empty file for an archive with no entries; a download that brought no
    // bytes (a redirect's empty page, a 0-byte upload) is no archive.
    struct stat status {};
    if (stat(archivePath.c_str(), &status) == 0 && S_ISREG(status.st_mode) && status.st_size == 0) {
        zip_error_set(&error, ZIP_ER_NOZIP, 0);
        writeToLog("unzip: cannot open " + archivePath + ": " + zip_error_strerror(&error));
        zip_error_fini(&error);
        return nullptr;
    }
    bool tooLarge = false;
    ArchiveHandle archive = openArchive(zip_source_file_create(archivePath.c_str(), 0, -1, &error),
                                        archivePath, error, tooLarge);
    if (!archive && !tooLarge) {
        writeToLog("unzip: cannot open " + archivePath + ": " + zip_error_strerror(&error));
    }
    zip_error_fini(&error);
    return archive;
}
