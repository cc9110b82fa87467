#include "update/stage/commit_journal.h"

#include "update/stage/dropped_files.h"
#include "update/stage/record_text.h"
#include "update/stage/staging_area.h"
#include "update/stage/test_pause.h"
#include "update/unpack/launcher_records.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr char journalHeader[] = "launcher-commit 1";

std::string journalText(const CommitJournal& journal) {
    std::string text = std::string(journalHeader) + "\n";
    for (const JournalFolder& folder : journal.folders) {
        char mode[16];
        std::snprintf(mode, sizeof mode, "%o", static_cast<unsigned>(folder.permissions));
        text += recordLine({"folder", folder.path, mode,
                            folder.modified ? std::to_string(*folder.modified) : "-"});
    }
    for (const JournalFile& file : journal.files) {
        text += recordLine({"file", file.path, file.hash, file.staged ? "staged" : "installed"});
    }
    for (const InstalledFile& removal : journal.removals) {
        std::vector<std::string> fields{"remove"};
        const auto recorded = installedFileFields(removal);
        fields.insert(fields.end(), recorded.begin(), recorded.end());
        text += recordLine(fields);
    }
    text += recordLine({"version", journal.versionText});
    return text + "end\n";
}

bool parseFolder(const std::vector<std::string>& fields, CommitJournal& journal) {
    const auto mode = fields.size() == 4 ? numberField(fields[2], 8) : std::nullopt;
    if (!mode || fields[1].empty()) {
        return false;
    }
    JournalFolder folder{fields[1], static_cast<mode_t>(*mode & 07777), std::nullopt};
    if (fields[3] != "-") {
        folder.modified = signedNumberField(fields[3]);
        if (!folder.modified) {
            return false;
        }
    }
    journal.folders.push_back(std::move(folder));
    return true;
}

// One line of the journal into journal; why it cannot be, otherwise empty.
Problem parseLine(const std::vector<std::string>& fields, CommitJournal& journal) {
    const std::string& kind = fields.front();
    if (kind == "folder") {
        return parseFolder(fields, journal) ? Problem()
                                            : "a folder needs a path, an octal mode and a time";
    }
    if (kind == "file") {
        if (fields.size() != 4 || fields[1].empty() ||
            (fields[3] != "staged" && fields[3] != "installed")) {
            return "a file needs a path, a hash and \"staged\" or \"installed\"";
        }
        journal.files.push_back(JournalFile{fields[1], fields[2], fields[3] == "staged"});
        return {};
    }
    if (kind == "remove") {
        const auto removal = installedFileFromFields(fields, 1);
        if (!removal) {
            return "a removal does not describe an installed file";
        }
        journal.removals.push_back(*removal);
        return {};
    }
    if (kind == "version" && fields.size() == 2) {
        journal.versionText = fields[1];
        return {};
    }
    return "\"" + kind + "\" is no line of a journal";
}

// Whatever stands at name in the data folder goes (a link itself, never what it points to).
Problem removeEntirely(int dataFolder, const char* name) {
    if (unlinkat(dataFolder, name, 0) == 0 || errno == ENOENT) {
        return {};
    }
    if ((errno == EISDIR || errno == EPERM) && removeFolderNamed(dataFolder, name)) {
        return {};
    }
    return errorText(std::string("cannot remove ") + name);
}

// One staged file into place. A file already moved (a commit finished again) is passed over.
Problem moveStaged(int staging, int dataFolder, const JournalFile& file) {
    const std::vector<std::string> components = pathComponents(file.path);
    const std::string& leaf = components.back();
    const Descriptor from = staging >= 0
                                ? openExistingFolder(staging, components, components.size() - 1)
                                : Descriptor();
    struct stat status {};
    if (!from.valid() || fstatat(from.fd, leaf.c_str(), &status, AT_SYMLINK_NOFOLLOW) != 0) {
        return describeInstalledFile(dataFolder, file.path, file.hash)
                   ? Problem()
                   : "the staged file " + file.path + " is missing";
    }
    Problem problem;
    const Descriptor to = openFolder(dataFolder, components, components.size() - 1, {}, problem);
    if (!to.valid()) {
        return problem;
    }
    problem = moveInPlace(from.fd, leaf, to.fd, leaf);
    return problem.empty() ? problem : file.path + ": " + problem;
}

Problem makeFolders(int dataFolder, const std::vector<JournalFolder>& folders) {
    for (const JournalFolder& folder : folders) {
        const std::vector<std::string> components = pathComponents(folder.path);
        Problem problem;
        if (!openFolder(dataFolder, components, components.size(), {}, problem).valid()) {
            return problem;
        }
    }
    return {};
}

// Modes and times last and deepest first: a move into a folder changes its time.
Problem finishFolderAttributes(int dataFolder, std::vector<JournalFolder> folders) {
    std::stable_sort(folders.begin(), folders.end(), [](const auto& a, const auto& b) {
        return pathComponents(a.path).size() > pathComponents(b.path).size();
    });
    for (const JournalFolder& folder : folders) {
        const std::vector<std::string> components = pathComponents(folder.path);
        const Descriptor open = openExistingFolder(dataFolder, components, components.size());
        if (!open.valid()) {
            continue;
        }
        const timespec time{folder.modified.value_or(0), 0};
        const timespec times[2] = {time, time};
        const bool timed = !folder.modified || futimens(open.fd, times) == 0;
        if (fchmod(open.fd, folder.permissions) != 0 || !timed) {
            return errorText("cannot set the attributes of " + folder.path);
        }
    }
    return {};
}

ReleasePaths releasePaths(const CommitJournal& journal) {
    ReleasePaths release;
    for (const JournalFolder& folder : journal.folders) {
        addReleaseFolder(release, folder.path);
    }
    for (const JournalFile& file : journal.files) {
        addReleaseFile(release, file.path);
    }
    return release;
}

Problem recordInstalled(int dataFolder, const CommitJournal& journal,
                        InstalledFilesWriter writeRecord) {
    InstalledFiles installed;
    for (const JournalFile& file : journal.files) {
        const auto described = describeInstalledFile(dataFolder, file.path, file.hash);
        if (!described) {
            return "the installed file " + file.path + " is missing";
        }
        installed[file.path] = *described;
    }
    return writeRecord(dataFolder, installed)
               ? Problem()
               : errorText("cannot write the record of installed files");
}

} // namespace

bool writeCommitJournal(int dataFolder, const CommitJournal& journal) {
    // One sync for every staged file: a rename made durable before its file's bytes could
    // leave an empty file in the game after a power cut.
    if (syncfs(dataFolder) != 0) {
        return false;
    }
    return writeRecordDurably(dataFolder, commitJournalName, commitJournalPartialName,
                              journalText(journal));
}

JournalPresence readCommitJournal(int dataFolder, CommitJournal& journal, Problem& problem) {
    struct stat status {};
    if (fstatat(dataFolder, commitJournalName, &status, AT_SYMLINK_NOFOLLOW) != 0 &&
        errno == ENOENT) {
        return JournalPresence::Absent;
    }
    const auto text = readRegularFile(dataFolder, commitJournalName, &problem);
    const auto body = text ? recordBody(*text, journalHeader, problem) : std::nullopt;
    if (!body) {
        return JournalPresence::Unreadable;
    }
    journal = CommitJournal{};
    for (std::size_t line = 0; line < body->size(); ++line) {
        const Problem refused = parseLine((*body)[line], journal);
        if (!refused.empty()) {
            problem = bodyLineProblem(line, refused);
            return JournalPresence::Unreadable;
        }
    }
    return JournalPresence::Readable;
}

Problem applyCommit(int dataFolder, const CommitJournal& journal,
                    InstalledFilesWriter writeRecord) {
    Problem problem = removeEntirely(dataFolder, "CurrentVersion.ini");
    if (problem.empty()) {
        problem = makeFolders(dataFolder, journal.folders);
    }
    const Descriptor staging = openExistingStagingTree(dataFolder);
    std::size_t moved = 0;
    for (const JournalFile& file : journal.files) {
        if (problem.empty() && file.staged) {
            pauseInCommitForTests(moved++);
            problem = moveStaged(staging.fd, dataFolder, file);
        }
    }
    pauseInCommitForTests(moved);
    if (!problem.empty()) {
        return problem;
    }
    removeDroppedFiles(dataFolder, journal.removals, releasePaths(journal));
    problem = finishFolderAttributes(dataFolder, journal.folders);
    if (problem.empty()) {
        problem = recordInstalled(dataFolder, journal, writeRecord);
    }
    if (problem.empty() && !discardStaging(dataFolder)) {
        problem = errorText(std::string("cannot remove ") + stagingFolderName);
    }
    return problem;
}

bool removeCommitJournal(int dataFolder) {
    if (unlinkat(dataFolder, commitJournalName, 0) != 0 && errno != ENOENT) {
        return false;
    }
    return ::fsync(dataFolder) == 0;
}
