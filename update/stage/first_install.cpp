#include "update/stage/first_install.h"

#include "platform/write_all.h"
#include "update/release/installed_version.h"
#include "update/unpack/launcher_records.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// No fsync: the sync after the game's start makes it durable with the files it describes.
bool writeUnsyncedRecord(int dataFolder, const InstalledFiles& installed) {
    dropUnsyncedRecord(dataFolder);
    const Descriptor file(openat(dataFolder, unsyncedInstalledFilesName,
                                 O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644));
    const std::string text = installedFilesText(installed);
    return file.valid() && writeAll(file.fd, text.data(), text.size());
}

} // namespace

bool isFirstInstall(const std::string& dataFolder) {
    return !readCurrentVersionIni(dataFolder).has_value();
}

Problem putFirstInstallInPlace(int dataFolder, const CommitJournal& journal) {
    if (unlinkat(dataFolder, installedFilesName, 0) != 0 && errno != ENOENT) {
        return errorText(std::string("cannot remove ") + installedFilesName);
    }
    return applyCommit(dataFolder, journal, writeUnsyncedRecord);
}

bool awaitsSync(int dataFolder) {
    struct stat status {};
    return fstatat(dataFolder, unsyncedInstalledFilesName, &status, AT_SYMLINK_NOFOLLOW) == 0;
}

bool makeFirstInstallDurable(int dataFolder) {
    // One sync for the files put in place and the record describing them; only then may the
    // record vouch for them.
    if (syncfs(dataFolder) != 0 ||
        renameat(dataFolder, unsyncedInstalledFilesName, dataFolder, installedFilesName) != 0) {
        return false;
    }
    // A file system that cannot sync a folder (EINVAL) keeps its entries as it keeps them.
    return ::fsync(dataFolder) == 0 || errno == EINVAL;
}

void dropUnsyncedRecord(int dataFolder) {
    unlinkat(dataFolder, unsyncedInstalledFilesName, 0);
}
