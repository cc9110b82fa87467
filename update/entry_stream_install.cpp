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
#include "update/road_ending.h"
#include "update/run_cutting.h"
#include "update/run_transfers.h"
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
// Further connections each parse the archive again (libzip keeps its own copy of the central
// directory per connection): they are only opened while all their copies stay below this.
constexpr std::uint64_t parsedBytesForConnections = 8 * 1024 * 1024;

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

// Where the release comes from and goes, and what it is recorded as.
struct Destination {
    const std::string& dataFolder;
    const std::string& versionText;
    const std::string& bundleName;          // the application that must be in the release
    const std::vector<std::string>& places; // the archive's URLs: its own first, then mirrors
    const TransferSettings& transfer;
};

struct Install {
    RunConnection& primary; // the connection that parsed and plans the archive
    const std::string& url;
    const std::string& label; // the archive as the run-log lines name its entries
    const std::vector<ZipEntry>& entries;
    const Destination& destination;
    int root = -1;     // the staging folder's tree, where entries are written
    int dataRoot = -1; // the data folder, with the installed game
};

std::size_t connectionsFor(const Install& install, const ReaderSeed& seed) {
    std::uint64_t parsed = 0;
    if (seed.parsed) {
        for (const FileSegment& segment : *seed.parsed) {
            parsed += segment.bytes.size();
        }
    }
    const auto wanted =
        static_cast<std::size_t>(std::max(1, install.destination.transfer.contentConnections));
    const std::uint64_t affordable = parsedBytesForConnections / std::max<std::uint64_t>(parsed, 1);
    return std::max<std::size_t>(1, std::min<std::uint64_t>(wanted, affordable));
}

// The whole-entry runs over the connections, then the release's folders finished.
Ending transferPlanned(Install& install, const InstallPlan& plan, long long unpackedBefore,
                       TransferTally& tally) {
    RangeReader& primary = *install.primary.reader;
    const bool several = install.destination.transfer.contentConnections > 1;
    ArchiveIdentity identity =
        archiveIdentity(install.primary.archive, install.entries,
                        several ? primary.seed() : ReaderSeed{primary.size(), {}, nullptr});
    const std::size_t connections = several ? connectionsFor(install, identity.seed) : 1;
    const std::vector<PlannedRun> runs = spreadRuns(plan.runs, plan.entries, connections);
    const MadeLinks links = releaseLinks(plan.entries);
    const RunTransfers transfers{plan,
                                 runs,
                                 install.root,
                                 links,
                                 install.label,
                                 install.url,
                                 install.destination.places,
                                 install.destination.transfer,
                                 connections,
                                 unpackedBefore};
    const Ending ending = transferRuns(transfers, install.primary, identity, tally);
    if (ending.step != Step::Done) {
        return ending;
    }
    std::vector<const ZipEntry*> folders;
    for (const ZipEntry& entry : install.entries) {
        if (entry.kind == EntryKind::Folder && !entry.components.empty()) {
            folders.push_back(&entry);
        }
    }
    const Problem problem = finishFolders(install.root, std::move(folders));
    if (!problem.empty()) {
        writeToLog("unzip: " + install.label + ": " + problem);
        return endingOf(Step::EntryRefused, problem);
    }
    return {};
}

// The patches first (over the primary connection), then the entries fetched whole, those whose
// patch failed among them.
Ending fetchPlanned(Install& install, InstallPlan& plan, const PatchPlan& patches,
                    TransferTally& tally) {
    const PatchPass pass =
        stagePatchedEntries({install.primary.archive, plan.entries, install.dataRoot, install.root,
                             *install.primary.reader, install.url},
                            patches, static_cast<long long>(plan.fetchedEntries));
    if (pass.transferFailed) {
        return readerEnding(*install.primary.reader);
    }
    fetchWholeAfterPatches(pass.staged, plan);
    settleStagedPrefixes(plan, install.root);
    return transferPlanned(install, plan, static_cast<long long>(pass.staged.size()), tally);
}

void logPlan(const std::string& url, const InstallPlan& plan, std::uint64_t archiveBytes,
             std::size_t patched) {
    writeToLog("entry-wise install of " + url + ": fetching " +
               std::to_string(plan.fetchedEntries) + " of " + std::to_string(plan.entries.size()) +
               " entries, about " + std::to_string(plan.fetchedBytes) + " of " +
               std::to_string(archiveBytes) + " bytes" +
               (patched > 0 ? " (" + std::to_string(patched) + " as patches)" : ""));
}

// Every entry's required hash; none (after the run-log line) when a checked release leaves one
// out of its index.
std::optional<std::vector<std::string>> requiredHashes(const Install& install,
                                                       const IndexedHashes& hashes,
                                                       const std::string& indexSha256,
                                                       bool checked) {
    std::vector<std::string> required;
    required.reserve(install.entries.size());
    for (const ZipEntry& entry : install.entries) {
        auto hash = requiredHash(entry, hashes, indexSha256, checked);
        if (!hash) {
            logEntryProblem(install.url, entry.name,
                            std::string("it is not listed in ") + releaseIndexName);
            return std::nullopt;
        }
        required.push_back(std::move(*hash));
    }
    return required;
}

// Plans what neither the installed game nor the staging folder holds, checks the room for it,
// fetches and stages it and commits the release.
Ending installPlanned(Install& install, std::vector<PlannedEntry> entries,
                      const IndexedHashes& hashes) {
    zip_t* archive = install.primary.archive;
    RangeReader& remote = *install.primary.reader;
    auto recorded = readInstalledFiles(install.dataRoot);
    const PlanSources sources{install.dataRoot, install.root, recorded ? &*recorded : nullptr};
    InstallPlan plan = planInstall(archive, std::move(entries), sources);
    const PatchPlan patches =
        planPatches({archive, hashes, sources.recorded, install.dataRoot, install.url}, plan);
    // What a cut-off run staged of a stored entry is neither fetched nor room needed again.
    findStagedPrefixes(archive, plan, install.root);
    logPlan(install.url, plan, remote.size(), patches.entries);
    // A patched entry's result takes its declared size, as a fetched one; the patch being applied
    // is kept beside it.
    const std::string& dataFolder = install.destination.dataFolder;
    if (!roomForUpdate(dataFolder, stagedBytes(plan.entries) - stagedPrefixBytes(plan) +
                                       bytesOnDisk(patches.largestPatchBytes))) {
        return endingOf(Step::Failed);
    }
    TransferTally tally;
    remote.countInto(tally);
    remote.expectTotal(plan.fetchedBytes);
    if (const Ending ending = fetchPlanned(install, plan, patches, tally);
        ending.step != Step::Done) {
        return ending;
    }
    downloadProgressPercent.store(100, std::memory_order_relaxed);
    const CommitJournal journal = releaseJournal(
        archive, plan.entries, recorded ? &*recorded : nullptr, install.destination.versionText);
    recorded.reset(); // the commit records the installed files anew: one record in memory at a time
    const bool committed = commitStagedRelease(dataFolder, journal, install.destination.bundleName);
    finishUnzipProgress(committed);
    return committed ? Ending{} : endingOf(Step::Failed);
}

// Everything after the archive was opened.
Ending installFrom(RunConnection& primary, const std::string& url, const std::string& label,
                   const std::optional<std::string>& requiredIndexSha256,
                   const Destination& destination) {
    RangeReader& remote = *primary.reader;
    if (!entriesFitInArchive(primary.archive, remote.size(), label)) {
        return endingOf(Step::ArchiveRefused);
    }
    std::string indexSha256;
    const auto hashes =
        readCheckedReleaseIndex(primary.archive, url, requiredIndexSha256, indexSha256,
                                [&remote] { return remote.state() != RangeReader::State::Ready; });
    if (const Ending ending = readerEnding(remote); ending.step != Step::Done) {
        return ending;
    }
    if (!hashes) {
        return endingOf(Step::Failed);
    }
    const auto entries = describeEntries(primary.archive, label);
    if (!entries) {
        return endingOf(Step::ArchiveRefused);
    }
    Install install{primary, url, label, *entries, destination};
    const auto required =
        requiredHashes(install, *hashes, indexSha256, requiredIndexSha256.has_value());
    if (!required) {
        return endingOf(Step::ArchiveRefused);
    }
    const Descriptor root = openUnpackDestination(withTrailingSlash(destination.dataFolder));
    // Staged entries are kept for the same archive (same index, same size), wherever it is
    // served from; each is checked against the archive again before it is used.
    const std::string identity = indexSha256 + "\n" + std::to_string(remote.size()) + "\n";
    const Descriptor staging = root.valid() ? openStagingTree(root.fd, identity) : Descriptor();
    if (!staging.valid()) {
        return endingOf(Step::ArchiveRefused);
    }
    install.root = staging.fd;
    install.dataRoot = root.fd;
    const Ending ending =
        installPlanned(install, entriesToPlan(primary.archive, *entries, *required), *hashes);
    if (ending.step == Step::EntryRefused) {
        // Refused or not written (a full disk): nothing staged is worth keeping for later.
        discardStaging(root.fd);
    }
    return ending;
}

// Opens the archive at the first place that answers; a place that cannot be reached at all
// hands over to the next (one line). Changed and refused ranges end the road as ever.
Ending openFirstPlace(RangeReader*& opened, std::vector<std::unique_ptr<RangeReader>>& readers,
                      const Destination& destination, std::size_t& place) {
    for (place = 0;; ++place) {
        auto& reader = readers.emplace_back(
            std::make_unique<RangeReader>(destination.places[place], destination.transfer));
        reader->open();
        const Ending ending = readerEnding(*reader);
        if (ending.step != Step::TransferFailed || place + 1 >= destination.places.size()) {
            opened = reader.get();
            return ending;
        }
        logPlaceDropped(destination.places[0], destination.places[place], ending.reason,
                        destination.places[place + 1]);
    }
}

// One plan, from the archive's opening on. Once the archive changed it returns at once, having
// logged nothing, for the caller to plan again.
Ending installThrough(const std::string& folder, const std::string& archiveName,
                      const std::optional<std::string>& requiredIndexSha256, bool firstPlan,
                      const Destination& destination) {
    const std::string& url = destination.places.front();
    std::vector<std::unique_ptr<RangeReader>> readers;
    RangeReader* remote = nullptr;
    std::size_t place = 0;
    const Ending opening = openFirstPlace(remote, readers, destination, place);
    if (opening.step == Step::RangesRefused || opening.step == Step::Changed) {
        return opening;
    }
    if (firstPlan) {
        logInstallStart(url, folder, archiveName, destination.bundleName);
    }
    if (opening.step != Step::Done) {
        return opening;
    }
    if (destination.transfer.contentConnections > 1) {
        remote->keepParsedBlocks(); // the other connections start from its parsing
    }
    zip_error_t error;
    zip_error_init(&error);
    RemoteZipSource zipSource(*remote);
    bool tooLarge = false;
    ArchiveHandle archive = openArchive(zipSource.makeSource(), url, error, tooLarge);
    const std::string why = zip_error_strerror(&error);
    zip_error_fini(&error);
    if (tooLarge) {
        return endingOf(Step::ArchiveRefused);
    }
    if (const Ending ending = readerEnding(*remote); !archive && ending.step != Step::Done) {
        return ending.step == Step::Changed ? ending : endingOf(Step::RangesRefused, ending.reason);
    }
    if (!archive) {
        return endingOf(Step::RangesRefused, "it is not a ZIP archive: " + why);
    }
    RunConnection primary;
    primary.reader = remote;
    primary.archive = archive.get();
    // Entries are named in the log as the whole-archive road names them.
    const std::vector<std::string> places(destination.places.begin() + static_cast<long>(place),
                                          destination.places.end());
    const Destination from{destination.dataFolder, destination.versionText, destination.bundleName,
                           places, destination.transfer};
    primary.place = 0;
    return installFrom(primary, url, withTrailingSlash(folder) + archiveName, requiredIndexSha256,
                       from);
}

} // namespace

EntryWiseInstall installContentEntryWise(const std::string& url, const std::string& folder,
                                         const std::string& archiveName,
                                         const std::string& executableName,
                                         const std::optional<std::string>& requiredIndexSha256,
                                         const TransferSettings& transfer,
                                         const std::string& versionText,
                                         const std::vector<std::string>& mirrors) {
    // Names that lead elsewhere are refused by the full road, with its own line.
    if (!isSingleFolderName(archiveName) || !isSingleFolderName(executableName)) {
        return EntryWiseInstall::NotPossible;
    }
    std::vector<std::string> places{url};
    places.insert(places.end(), mirrors.begin(), mirrors.end());
    const Destination destination{folder, versionText, executableName, places, transfer};
    downloadProgressPercent.store(0, std::memory_order_relaxed);
    for (int plan = 1;; ++plan) {
        const Ending ending =
            installThrough(folder, archiveName, requiredIndexSha256, plan == 1, destination);
        if (ending.step != Step::Changed) {
            return roadResult(ending, url);
        }
        // Entries already staged are checked against the new archive like any staged copy. A server
        // whose answers never agree gets the whole archive, fetched in one go.
        if (plan == plansForAChangingArchive) {
            logFallback(url, ending.reason);
            return EntryWiseInstall::NotPossible;
        }
        writeToLog("entry-wise install of " + url + ": " + ending.reason +
                   "; planning again from the new archive");
    }
}
