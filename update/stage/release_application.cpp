#include "update/stage/release_application.h"

#include "platform/property_list.h"
#include "update/unpack/launcher_records.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Where the release's files stand until the commit: the staging tree or the data folder.
struct ReleaseRoots {
    std::string dataFolder;
    std::string stagingTree;

    std::string pathOf(const JournalFile& file) const {
        return (file.staged ? stagingTree : dataFolder) + "/" + file.path;
    }
};

const JournalFile* fileAt(const CommitJournal& journal, const std::string& path) {
    for (const JournalFile& file : journal.files) {
        if (file.path == path) {
            return &file;
        }
    }
    return nullptr;
}

bool holdsAnythingBelow(const CommitJournal& journal, const std::string& folder) {
    const std::string prefix = folder + "/";
    for (const JournalFile& file : journal.files) {
        if (file.path.compare(0, prefix.size(), prefix) == 0) {
            return true;
        }
    }
    return false;
}

// As the start looks at it: a regular file once links are followed, executable for this user.
bool isExecutableFile(const std::string& path) {
    struct stat status {};
    return stat(path.c_str(), &status) == 0 && S_ISREG(status.st_mode) &&
           access(path.c_str(), X_OK) == 0;
}

// The name under Contents/MacOS that starting the bundle runs.
std::string executableName(const CommitJournal& journal, const ReleaseRoots& roots,
                           const std::string& bundleName) {
    std::string name;
    if (const JournalFile* info = fileAt(journal, bundleName + "/Contents/Info.plist")) {
        std::string problem;
        const auto dictionary = loadPropertyListDictionary(roots.pathOf(*info), problem);
        if (dictionary) {
            name = propertyListString(*dictionary, "CFBundleExecutable").value_or(std::string());
        }
    }
    if (name.empty() || name.find('/') != std::string::npos) {
        name = bundleName.substr(0, bundleName.rfind('.'));
    }
    return name;
}

} // namespace

Problem missingApplication(const std::string& dataFolder, const CommitJournal& journal,
                           const std::string& bundleName) {
    const ReleaseRoots roots{dataFolder, dataFolder + "/" + stagingFolderName + "/tree"};
    if (const JournalFile* file = fileAt(journal, bundleName)) {
        return isExecutableFile(roots.pathOf(*file))
                   ? Problem()
                   : "its " + bundleName + " is neither an application bundle nor an executable";
    }
    if (!holdsAnythingBelow(journal, bundleName)) {
        return "it holds no " + bundleName;
    }
    const std::string executable =
        bundleName + "/Contents/MacOS/" + executableName(journal, roots, bundleName);
    const JournalFile* file = fileAt(journal, executable);
    if (file == nullptr) {
        return "it holds no executable " + executable;
    }
    if (!isExecutableFile(roots.pathOf(*file))) {
        return "its " + executable + " is not an executable file";
    }
    return {};
}
