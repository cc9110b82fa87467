#include "update/entry_stream_install.h"

#include "launcher/run_log.h"
#include "platform/app_support_folder.h"
#include "platform/path_component.h"
#include "update/download_and_launch.h"
#include "update/http/transfer_progress.h"
#include "update/install_plan.h"
#include "update/patched_entries.h"
#include "update/patched_entry_staging.h"
#include "update/release/sha256_stream.h"
#include "update/release_commit.h"
#include "update/release_index_read.h"
#include "update/remote_zip_source.h"
#include "update/stage/room_check.h"
#include "update/stage/staged_commit.h"
#include "update/stage/staging_area.h"
#include "update/stored_entry_resume.h"
#include "update/unpack/archive_open.h"
#include "update/unpack/entry_spans.h"
#include "update/unzip_progress.h"

namespace {

// An archive republished while it is read is planned again from its new state, this many times
// in all.
constexpr int plansForAChangingArchive = 3;

void logFallback(const std::string& url, const std::string& why) {
    writeToLog("entry-wise install of " + url +
               " not possible, fetching the whole archive: " + why);
}

// The hash an entry's bytes must have: the index's (the index itself: the hash it was read
// with). Empty when nothing is required of it, and none when a checked release does not cover it.
std::optional<std::string> requiredHash(const ZipEntry& entry, const IndexedHashes& hashes,
                                        const std::string& indexSha256, bool checked) {
    if (entry.kind == EntryKind::Folder) {
        return std::string();
    }
    if (entry.name == releaseIndexName) {
        return indexSha256;
    }
    const auto found = hashes.find(entry.name);
    const bool listed =
        found != hashes.end() && found->second.link == (entry.kind == EntryKind::Link);
    if (!listed) {
        return checked ? std::nullopt : std::optional<std::string>(std::string());
    }
    return found->second.sha256;
}

// Where the release goes and what it is recorded as.
struct Destination {
    const std::string& dataFolder;
    const std::string& versionText;
    const std::string& bundleName; // the application that must be in the release
};

struct Install {
    RangeReader& remote;
    zip_t* archive;
    const std::string& url;
    const std::vector<ZipEntry>& entries;
    std::vector<std::string> hashes; // per entry
    int root;                        // the staging folder's tree, where entries are written
    int dataRoot = -1;               // the data folder, with the installed game
    StagedPrefixes prefixes;         // stored entries an earlier run began to stage
};

// A link of the release that stays installed is not in the staging folder, where nothing would
// stop an entry from making a folder in its place; refused as the whole-archive road refuses
// writing through a link the archive made.
Problem throughReleaseLink(const ZipEntry& entry, const MadeLinks& madeLinks) {
    for (std::size_t depth = 1; depth < entry.components.size(); ++depth) {
        const std::string path = joined(entry.components, depth);
        if (madeLinks.contains(path)) {
            return "it would be written through the link " + path;
        }
    }
    return {};
}

enum class Outcome { Done, Failed, Refused, Changed };

Outcome transferOutcome(const RangeReader& remote) {
    if (remote.state() == RangeReader::State::Refused) {
        return Outcome::Refused;
    }
    if (remote.state() == RangeReader::State::Changed) {
        return Outcome::Changed;
    }
    writeToLog("curl_easy_perform() failed: " + remote.failure());
    return Outcome::Failed;
}

// A stored entry goes where a cut-off run can carry on from; others are unpacked as they arrive.
Problem stageEntry(Install& install, std::size_t position, std::uint64_t runBytes,
                   std::vector<char>& buffer, MadeLinks& madeLinks) {
    const ZipEntry& entry = install.entries[position];
    if (!isStoredEntry(install.archive, entry)) {
        return unpackEntry(install.archive, entry, install.root, buffer, madeLinks,
                           install.hashes[position]);
    }
    const auto prefix = install.prefixes.find(position);
    const std::uint64_t staged = prefix == install.prefixes.end() ? 0 : prefix->second;
    return stageStoredEntry({install.archive, entry, install.root, madeLinks, install.remote,
                             buffer, install.hashes[position], staged, runBytes});
}

// unpackedBefore: the entries the patch pass staged already.
Outcome unpackPlanned(Install& install, const InstallPlan& plan, std::size_t unpackedBefore) {
    std::vector<char> buffer(entryCopyBufferBytes);
    MadeLinks madeLinks;
    std::vector<const ZipEntry*> folders;
    std::vector<bool> runStarts(install.entries.size(), false);
    std::vector<std::uint64_t> runBytes(install.entries.size(), 0);
    for (const PlannedRun& run : plan.runs) {
        runStarts[run.entries.front()] = true;
        runBytes[run.entries.front()] = run.bytes;
    }
    auto unpacked = static_cast<long long>(unpackedBefore);
    const auto total = static_cast<long long>(plan.fetchedEntries);
    for (std::size_t position = 0; position < install.entries.size(); ++position) {
        const ZipEntry& entry = install.entries[position];
        if (entry.kind == EntryKind::Folder && !entry.components.empty()) {
            folders.push_back(&entry);
        }
        if (!plan.fetch[position] && entry.kind != EntryKind::Folder) {
            // A link left in place is still this archive's: nothing may be written through it.
            if (entry.kind == EntryKind::Link) {
                madeLinks.insert(joined(entry.components, entry.components.size()));
            }
            continue;
        }
        if (runStarts[position]) {
            install.remote.beginRun(runBytes[position]);
        }
        Problem problem = throughReleaseLink(entry, madeLinks);
        if (problem.empty()) {
            problem = stageEntry(install, position, runStarts[position] ? runBytes[position] : 0,
                                 buffer, madeLinks);
        }
        if (!problem.empty()) {
            if (install.remote.state() != RangeReader::State::Ready) {
                return transferOutcome(install.remote);
            }
            logEntryProblem(install.url, entry.name, problem);
            return Outcome::Failed;
        }
        if (plan.fetch[position]) {
            unzipProgressHandler(entry.name, ++unpacked, total);
        }
    }
    install.remote.endRun();
    const Problem problem = finishFolders(install.root, std::move(folders));
    if (!problem.empty()) {
        writeToLog("unzip: " + install.url + ": " + problem);
        return Outcome::Failed;
    }
    return Outcome::Done;
}

// The patches first, then the entries fetched whole, those whose patch failed among them.
Outcome fetchPlanned(Install& install, InstallPlan& plan, const PatchPlan& patches,
                     const std::string& url) {
    const PatchPass pass =
        stagePatchedEntries({install.archive, install.entries, install.hashes, install.dataRoot,
                             install.root, install.remote, url},
                            patches, static_cast<long long>(plan.fetchedEntries));
    if (pass.transferFailed) {
        return transferOutcome(install.remote);
    }
    fetchWholeAfterPatches(install.archive, install.entries, pass.staged, plan);
    settleStagedPrefixes(install.prefixes, plan, install.entries, install.root);
    return unpackPlanned(install, plan, pass.staged.size());
}

void logPlan(const std::string& url, const InstallPlan& plan, std::size_t entries,
             std::uint64_t archiveBytes, std::size_t patched) {
    writeToLog("entry-wise install of " + url + ": fetching " +
               std::to_string(plan.fetchedEntries) + " of " + std::to_string(entries) +
               " entries, about " + std::to_string(plan.fetchedBytes) + " of " +
               std::to_string(archiveBytes) + " bytes" +
               (patched > 0 ? " (" + std::to_string(patched) + " as patches)" : ""));
}

// Every entry's required hash into install.hashes; false (after the run-log lines) when a
// checked release leaves one out of its index.
bool collectHashes(Install& install, const IndexedHashes& hashes, const std::string& indexSha256,
                   bool checked, const std::string& url) {
    for (const ZipEntry& entry : install.entries) {
        const auto hash = requiredHash(entry, hashes, indexSha256, checked);
        if (!hash) {
            logEntryProblem(url, entry.name,
                            std::string("it is not listed in ") + releaseIndexName);
            writeToLog("failed to unzip file");
            return false;
        }
        install.hashes.push_back(*hash);
    }
    return true;
}

// Plans what neither the installed game nor the staging folder holds, checks the room for it,
// fetches and stages it and commits the release.
EntryWiseInstall installPlanned(Install& install, const IndexedHashes& hashes,
                                const std::string& url, const Destination& destination) {
    RangeReader& remote = install.remote;
    auto recorded = readInstalledFiles(install.dataRoot);
    const PlanSources sources{install.dataRoot, install.root, recorded ? &*recorded : nullptr};
    InstallPlan plan = planInstall(install.archive, install.entries, sources, hashes);
    const PatchPlan patches = planPatches({install.archive, install.entries, install.hashes, hashes,
                                           sources.recorded, install.dataRoot, url},
                                          plan);
    // What a cut-off run staged of a stored entry is neither fetched nor room needed again.
    install.prefixes =
        findStagedPrefixes(install.archive, install.entries, plan.fetch, install.root);
    const std::uint64_t staged = stagedPrefixBytes(install.prefixes);
    plan.fetchedBytes -= std::min(plan.fetchedBytes, staged);
    logPlan(url, plan, install.entries.size(), remote.size(), patches.entries);
    // A patched entry's result takes its declared size, as a fetched one; the patch being applied
    // is kept beside it.
    if (!roomForUpdate(destination.dataFolder, stagedBytes(install.entries, plan.fetch) - staged +
                                                   bytesOnDisk(patches.largestPatchBytes))) {
        return EntryWiseInstall::Failed;
    }
    remote.expectTotal(plan.fetchedBytes);
    const Outcome outcome = fetchPlanned(install, plan, patches, url);
    if (outcome == Outcome::Changed) {
        return EntryWiseInstall::NotPossible; // planned again by the caller
    }
    if (outcome == Outcome::Refused) {
        logFallback(url, remote.refusal());
        return EntryWiseInstall::NotPossible;
    }
    if (outcome == Outcome::Failed) {
        if (remote.state() == RangeReader::State::Ready) {
            writeToLog("failed to unzip file");
            // Refused or not written (a full disk): nothing staged is worth keeping for later.
            discardStaging(install.dataRoot);
        }
        return EntryWiseInstall::Failed;
    }
    downloadProgressPercent.store(100, std::memory_order_relaxed);
    const CommitJournal journal =
        releaseJournal(install.archive, install.entries, install.hashes, plan.installed,
                       recorded ? &*recorded : nullptr, destination.versionText);
    recorded.reset(); // the commit records the installed files anew: one record in memory at a time
    const bool committed =
        commitStagedRelease(destination.dataFolder, journal, destination.bundleName);
    finishUnzipProgress(committed);
    return committed ? EntryWiseInstall::Installed : EntryWiseInstall::Failed;
}

// Everything after the archive was opened.
EntryWiseInstall installFrom(RangeReader& remote, zip_t* archive, const std::string& url,
                             const std::string& label,
                             const std::optional<std::string>& requiredIndexSha256,
                             const Destination& destination) {
    if (!entriesFitInArchive(archive, remote.size(), label)) {
        writeToLog("failed to unzip file");
        return EntryWiseInstall::Failed;
    }
    std::string indexSha256;
    const auto hashes =
        readCheckedReleaseIndex(archive, url, requiredIndexSha256, indexSha256,
                                [&remote] { return remote.state() != RangeReader::State::Ready; });
    if (remote.state() == RangeReader::State::Changed) {
        return EntryWiseInstall::NotPossible; // planned again by the caller
    }
    if (remote.state() == RangeReader::State::Refused) {
        logFallback(url, remote.refusal());
        return EntryWiseInstall::NotPossible;
    }
    if (remote.state() == RangeReader::State::Failed) {
        writeToLog("curl_easy_perform() failed: " + remote.failure());
        return EntryWiseInstall::Failed;
    }
    if (!hashes) {
        return EntryWiseInstall::Failed;
    }
    const auto entries = describeEntries(archive, label);
    if (!entries) {
        writeToLog("failed to unzip file");
        return EntryWiseInstall::Failed;
    }
    Install install{remote, archive, label, *entries, {}, -1, -1, {}};
    if (!collectHashes(install, *hashes, indexSha256, requiredIndexSha256.has_value(), url)) {
        return EntryWiseInstall::Failed;
    }
    const Descriptor root = openUnpackDestination(withTrailingSlash(destination.dataFolder));
    // Staged entries are kept for the same archive (same index, same size), wherever it is
    // served from; each is checked against the archive again before it is used.
    const std::string identity = indexSha256 + "\n" + std::to_string(remote.size()) + "\n";
    const Descriptor staging = root.valid() ? openStagingTree(root.fd, identity) : Descriptor();
    if (!staging.valid()) {
        writeToLog("failed to unzip file");
        return EntryWiseInstall::Failed;
    }
    install.root = staging.fd;
    install.dataRoot = root.fd;
    return installPlanned(install, *hashes, url, destination);
}

// One plan through remote, from its opening on. Once remote is Changed it returns at once,
// having logged nothing, for the caller to plan again.
EntryWiseInstall installThrough(RangeReader& remote, const std::string& url,
                                const std::string& folder, const std::string& archiveName,
                                const std::string& executableName,
                                const std::optional<std::string>& requiredIndexSha256,
                                bool firstPlan, const std::string& versionText) {
    if (remote.open() == RangeReader::State::Refused) {
        logFallback(url, remote.refusal());
        return EntryWiseInstall::NotPossible;
    }
    if (firstPlan) {
        logInstallStart(url, folder, archiveName, executableName);
    }
    if (remote.state() == RangeReader::State::Failed) {
        writeToLog("curl_easy_perform() failed: " + remote.failure());
        return EntryWiseInstall::Failed;
    }
    zip_error_t error;
    zip_error_init(&error);
    RemoteZipSource zipSource(remote);
    bool tooLarge = false;
    ArchiveHandle archive = openArchive(zipSource.makeSource(), url, error, tooLarge);
    if (tooLarge) {
        zip_error_fini(&error);
        writeToLog("failed to unzip file");
        return EntryWiseInstall::Failed;
    }
    if (!archive && remote.state() == RangeReader::State::Changed) {
        zip_error_fini(&error);
        return EntryWiseInstall::NotPossible;
    }
    if (!archive) {
        const std::string why =
            remote.state() == RangeReader::State::Ready
                ? std::string("it is not a ZIP archive: ") + zip_error_strerror(&error)
                : remote.refusal() + remote.failure();
        zip_error_fini(&error);
        logFallback(url, why);
        return EntryWiseInstall::NotPossible;
    }
    zip_error_fini(&error);
    // Entries are named in the log as the whole-archive road names them.
    const std::string folderText = withTrailingSlash(folder);
    return installFrom(remote, archive.get(), url, folderText + archiveName, requiredIndexSha256,
                       Destination{folder, versionText, executableName});
}

} // namespace

EntryWiseInstall installContentEntryWise(const std::string& url, const std::string& folder,
                                         const std::string& archiveName,
                                         const std::string& executableName,
                                         const std::optional<std::string>& requiredIndexSha256,
                                         const TransferSettings& transfer,
                                         const std::string& versionText) {
    // Names that lead elsewhere are refused by the full road, with its own line.
    if (!isSingleFolderName(archiveName) || !isSingleFolderName(executableName)) {
        return EntryWiseInstall::NotPossible;
    }
    downloadProgressPercent.store(0, std::memory_order_relaxed);
    for (int plan = 1;; ++plan) {
        RangeReader remote(url, transfer);
        const EntryWiseInstall result =
            installThrough(remote, url, folder, archiveName, executableName, requiredIndexSha256,
                           plan == 1, versionText);
        if (remote.state() != RangeReader::State::Changed) {
            return result;
        }
        // Entries already staged are checked against the new archive like any staged copy. A server
        // whose answers never agree gets the whole archive, fetched in one go.
        if (plan == plansForAChangingArchive) {
            logFallback(url, remote.refusal());
            return EntryWiseInstall::NotPossible;
        }
        writeToLog("entry-wise install of " + url + ": " + remote.refusal() +
                   "; planning again from the new archive");
    }
}
