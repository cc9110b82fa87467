#include "update/stage/staging_area.h"

#include "launcher/run_log.h"
#include "update/stage/record_text.h"
#include "update/unpack/launcher_records.h"
#include "update/unpack/unpack_paths.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>

namespace {

constexpr char identityName[] = "release";
constexpr char identityPartialName[] = "release.partial";
constexpr char treeName[] = "tree";
constexpr int folderFlags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;

Descriptor openOrMakeFolder(int parent, const char* name) {
    if (mkdirat(parent, name, 0755) != 0 && errno != EEXIST) {
        return {};
    }
    return Descriptor(openat(parent, name, folderFlags));
}

} // namespace

bool discardStaging(int dataFolder) {
    struct stat status {};
    if (fstatat(dataFolder, stagingFolderName, &status, AT_SYMLINK_NOFOLLOW) != 0) {
        return errno == ENOENT;
    }
    if (!S_ISDIR(status.st_mode)) {
        return unlinkat(dataFolder, stagingFolderName, 0) == 0;
    }
    return removeFolderNamed(dataFolder, stagingFolderName);
}

Descriptor openExistingStagingTree(int dataFolder) {
    const Descriptor staging(openat(dataFolder, stagingFolderName, folderFlags));
    if (!staging.valid()) {
        return {};
    }
    return Descriptor(openat(staging.fd, treeName, folderFlags));
}

Descriptor openStagingTree(int dataFolder, const std::string& identity) {
    {
        const Descriptor staging(openat(dataFolder, stagingFolderName, folderFlags));
        const auto staged =
            staging.valid() ? readRegularFile(staging.fd, identityName) : std::nullopt;
        if (staged != identity && !discardStaging(dataFolder)) {
            writeToLog(errorText("cannot discard the staged files of another release in " +
                                 std::string(stagingFolderName)));
            return {};
        }
    }
    const Descriptor staging = openOrMakeFolder(dataFolder, stagingFolderName);
    if (!staging.valid() ||
        (readRegularFile(staging.fd, identityName) != identity &&
         !writeRecordDurably(staging.fd, identityName, identityPartialName, identity))) {
        writeToLog(
            errorText("cannot prepare the staging folder " + std::string(stagingFolderName)));
        return {};
    }
    Descriptor tree = openOrMakeFolder(staging.fd, treeName);
    if (!tree.valid()) {
        writeToLog(
            errorText("cannot prepare the staging folder " + std::string(stagingFolderName)));
        return {};
    }
    removeLeftoverPartials(tree.fd);
    return tree;
}
