#pragma once
#include "update/entry_stream_install.h"
#include "update/http/range_reader.h"

#include <string>
#include <utility>

// How a step of the entry-wise road ended, and the one place that turns it into the road's
// result and its run-log lines.
enum class Step {
    Done,
    Failed,         // the step logged why; nothing more to say
    ArchiveRefused, // the archive cannot be installed as it is (its lines logged)
    EntryRefused,   // an entry failed its checks or could not be written (its line logged)
    TransferFailed, // the transfer broke off after its retries (reason: libcurl's text)
    RangesRefused,  // the server does not serve ranges as the road needs (reason: how)
    Changed,        // the archive changed on the server (reason); planned again from scratch
};

struct Ending {
    Step step = Step::Done;
    std::string reason;
    std::string entry; // EntryRefused: the entry's name
};

inline Ending endingOf(Step step, std::string reason = {}, std::string entry = {}) {
    Ending ending;
    ending.step = step;
    ending.reason = std::move(reason);
    ending.entry = std::move(entry);
    return ending;
}

// What the reader's state says about a step that could not read what it needed: Done while the
// reader is Ready (the failure was not the transfer's).
Ending readerEnding(const RangeReader& reader);

// The road's result for an ending, after its run-log lines.
EntryWiseInstall roadResult(const Ending& ending, const std::string& url);

// The line that says a place of the archive failed and the install goes on from the next one.
void logPlaceDropped(const std::string& url, const std::string& place, const std::string& why,
                     const std::string& next);

// The line that hands a release to the whole-archive road.
void logFallback(const std::string& url, const std::string& why);
