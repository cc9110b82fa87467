#include "update/run_transfers.h"

#include "launcher/run_log.h"
#include "update/stored_entry_resume.h"
#include "update/unzip_progress.h"

#include <atomic>
#include <exception>
#include <mutex>
#include <system_error>
#include <thread>

namespace {

// What the connections share while they stage.
struct Shared {
    const RunTransfers& transfers;
    const ArchiveIdentity& identity;
    TransferTally& tally;
    std::atomic<std::size_t> nextRun{0};
    std::atomic<bool> stop{false};
    std::atomic<long long> unpacked{0};
    std::mutex mutex;
    std::size_t place = 0; // where connections go from now on
    Ending ending;         // the first failure
};

void fail(Shared& shared, const Ending& ending) {
    const std::lock_guard lock(shared.mutex);
    if (shared.ending.step == Step::Done) {
        shared.ending = ending;
    }
    shared.stop.store(true);
}

std::size_t currentPlace(Shared& shared) {
    const std::lock_guard lock(shared.mutex);
    return shared.place;
}

// The place after from, once from has failed (one line, said once): none left past the last.
std::size_t placeAfter(Shared& shared, std::size_t from, const std::string& why) {
    const std::lock_guard lock(shared.mutex);
    const auto& places = shared.transfers.places;
    if (shared.place == from && from + 1 < places.size()) {
        logPlaceDropped(shared.transfers.url, places[from], why, places[from + 1]);
    }
    shared.place = std::max(shared.place, from + 1);
    return shared.place;
}

// A stored entry goes where a cut-off run can carry on from; others are unpacked as they arrive.
// An entry tried again (at another place) carries on after what the try before staged.
Problem stageEntry(const RunConnection& connection, const PlannedEntry& planned,
                   std::uint64_t runBytes, std::vector<char>& buffer, MadeLinks& madeLinks,
                   int stagingRoot, bool again) {
    const ZipEntry& entry = *planned.entry;
    if (!isStoredEntry(connection.archive, entry)) {
        return unpackEntry(connection.archive, entry, stagingRoot, buffer, madeLinks,
                           planned.requiredSha256);
    }
    const std::uint64_t staged = again ? stagedPrefixOf(entry, stagingRoot) : planned.stagedBytes;
    return stageStoredEntry({connection.archive, entry, stagingRoot, madeLinks, *connection.reader,
                             buffer, planned.requiredSha256, staged, runBytes});
}

std::uint64_t bytesFrom(const RunTransfers& transfers, const PlannedRun& run, std::size_t from) {
    if (from == 0) {
        return run.bytes;
    }
    std::uint64_t bytes = 0;
    for (std::size_t at = from; at < run.entries.size(); ++at) {
        bytes += transfers.plan.entries[run.entries[at]].span;
    }
    return bytes;
}

// Stages the run's entries from its from-th on, counting each staged one in from; again: the
// run was begun at another place.
Ending stageRun(Shared& shared, const RunConnection& connection, const PlannedRun& run,
                std::size_t& from, bool again, std::vector<char>& buffer, MadeLinks& madeLinks) {
    const RunTransfers& transfers = shared.transfers;
    RangeReader& reader = *connection.reader;
    const std::uint64_t budget = bytesFrom(transfers, run, from);
    reader.beginRun(budget);
    for (bool first = true; from < run.entries.size() && !shared.stop.load(); first = false) {
        const PlannedEntry& planned = transfers.plan.entries[run.entries[from]];
        const std::string link = linkAbove(*planned.entry, transfers.releaseLinks);
        Problem problem = link.empty() ? Problem() : "it would be written through the link " + link;
        if (problem.empty()) {
            problem = stageEntry(connection, planned, first ? budget : 0, buffer, madeLinks,
                                 transfers.stagingRoot, again && first);
        }
        if (!problem.empty()) {
            reader.endRun();
            const Ending transfer = readerEnding(reader);
            return transfer.step != Step::Done
                       ? transfer
                       : endingOf(Step::EntryRefused, problem, planned.entry->name);
        }
        unzipProgressHandler(planned.entry->name, ++shared.unpacked,
                             static_cast<long long>(transfers.plan.fetchedEntries));
        ++from;
    }
    reader.endRun();
    return {};
}

// Whether the next place may do better: the transfer broke off, or this place's bytes were
// not the release's. A server that changed or stopped serving ranges at the first place ends
// the road as it always has.
bool nextPlaceMayHelp(const Ending& ending, std::size_t place) {
    if (ending.step == Step::TransferFailed || ending.step == Step::EntryRefused ||
        ending.step == Step::ArchiveRefused) {
        return true;
    }
    return place > 0 && (ending.step == Step::RangesRefused || ending.step == Step::Changed);
}

// One run, moved on from place to place until it is staged or no place is left.
void stageWithMirrors(Shared& shared, RunConnection& connection, const PlannedRun& run,
                      std::vector<char>& buffer, MadeLinks& madeLinks) {
    const RunTransfers& transfers = shared.transfers;
    std::size_t from = 0;
    bool again = false;
    Ending ending;
    Ending cause; // what made the run leave its first place: the failure it ends with
    const std::size_t place = currentPlace(shared);
    if (connection.reader == nullptr || connection.place < place) {
        ending = connect(connection, transfers.places, std::max(connection.place, place),
                         shared.identity, transfers.transfer, shared.tally);
    }
    while (!shared.stop.load()) {
        if (ending.step == Step::Done) {
            ending = stageRun(shared, connection, run, from, again, buffer, madeLinks);
            again = true;
        }
        if (ending.step == Step::Done || shared.stop.load()) {
            return;
        }
        if (cause.step == Step::Done) {
            cause = ending;
        }
        if (!nextPlaceMayHelp(ending, connection.place) ||
            connection.place + 1 >= transfers.places.size()) {
            if (cause.step == Step::EntryRefused) {
                logEntryProblem(transfers.label, cause.entry, cause.reason);
            }
            fail(shared, cause);
            return;
        }
        const std::size_t next = placeAfter(shared, connection.place, ending.reason);
        ending = connect(connection, transfers.places, next, shared.identity, transfers.transfer,
                         shared.tally);
    }
}

void runConnection(Shared& shared, RunConnection& connection) {
    std::vector<char> buffer(entryCopyBufferBytes);
    MadeLinks madeLinks = shared.transfers.releaseLinks;
    while (!shared.stop.load()) {
        const std::size_t run = shared.nextRun.fetch_add(1);
        if (run >= shared.transfers.runs.size()) {
            return;
        }
        stageWithMirrors(shared, connection, shared.transfers.runs[run], buffer, madeLinks);
    }
}

// Nothing may escape a thread body: a failure there ends the transfers like any other.
void runGuarded(Shared& shared, RunConnection& connection) {
    try {
        runConnection(shared, connection);
    } catch (const std::exception& error) {
        fail(shared,
             endingOf(Step::TransferFailed, std::string("staging failed: ") + error.what()));
    }
}

} // namespace

Ending transferRuns(const RunTransfers& transfers, RunConnection& first,
                    const ArchiveIdentity& identity, TransferTally& tally) {
    Shared shared{transfers, identity, tally, {}, {}, {}, {}, {}, {}};
    shared.unpacked.store(transfers.unpackedBefore);
    const std::size_t threads = std::min(transfers.connections, transfers.runs.size());
    if (threads <= 1) {
        runConnection(shared, first);
        return shared.ending;
    }
    std::vector<RunConnection> others(threads - 1);
    std::vector<std::thread> started;
    started.reserve(threads - 1);
    try {
        for (RunConnection& other : others) {
            started.emplace_back([&shared, &other] { runGuarded(shared, other); });
        }
    } catch (const std::system_error& error) {
        writeToLog(std::string("staging with fewer connections: ") + error.what());
    }
    runGuarded(shared, first);
    for (std::thread& thread : started) {
        thread.join();
    }
    return shared.ending;
}
