#include "update/road_ending.h"

#include "launcher/run_log.h"

Ending readerEnding(const RangeReader& reader) {
    switch (reader.state()) {
    case RangeReader::State::Ready:
        return {};
    case RangeReader::State::Refused:
        return endingOf(Step::RangesRefused, reader.reason());
    case RangeReader::State::Changed:
        return endingOf(Step::Changed, reader.reason());
    case RangeReader::State::Failed:
        break;
    }
    return endingOf(Step::TransferFailed, reader.reason());
}

void logPlaceDropped(const std::string& url, const std::string& place, const std::string& why,
                     const std::string& next) {
    writeToLog("entry-wise install of " + url + ": " + place + " dropped (" + why +
               "), carrying on from " + next);
}

void logFallback(const std::string& url, const std::string& why) {
    writeToLog("entry-wise install of " + url +
               " not possible, fetching the whole archive: " + why);
}

EntryWiseInstall roadResult(const Ending& ending, const std::string& url) {
    switch (ending.step) {
    case Step::Done:
        return EntryWiseInstall::Installed;
    case Step::Failed:
        return EntryWiseInstall::Failed;
    case Step::Changed:
        return EntryWiseInstall::NotPossible; // planned again by the caller
    case Step::RangesRefused:
        logFallback(url, ending.reason);
        return EntryWiseInstall::NotPossible;
    case Step::TransferFailed:
        writeToLog("curl_easy_perform() failed: " + ending.reason);
        return EntryWiseInstall::Failed;
    case Step::EntryRefused:
    case Step::ArchiveRefused:
        break;
    }
    writeToLog("failed to unzip file");
    return EntryWiseInstall::Failed;
}
