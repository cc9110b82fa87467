#pragma once
#include "update/install_plan.h"
#include "update/road_ending.h"
#include "update/run_connection.h"

#include <cstddef>
#include <string>
#include <vector>

// The fetched entries of an entry-wise install, staged run by run over up to `connections`
// connections at once, each on a thread of its own: a connection takes the next run, fetches it
// with one request and unpacks and checks its entries as the bytes arrive, so that inflating and
// hashing go on on every core. A run whose transfer fails after its retries, or whose place
// serves bytes that fail their checks, goes on from the next place (a mirror), and later runs go
// there too; what is staged stays. Only when every place has failed does the install fail.
struct RunTransfers {
    const InstallPlan& plan;
    const std::vector<PlannedRun>& runs;
    int stagingRoot = -1;
    const MadeLinks& releaseLinks;          // nothing is written below these
    const std::string& label;               // the archive as the run-log lines name its entries
    const std::string& url;                 // the install's, for its run-log lines
    const std::vector<std::string>& places; // the archive's URLs: url first, then its mirrors
    const TransferSettings& transfer;
    std::size_t connections = 1;
    long long unpackedBefore = 0; // entries the patch pass staged
};

// Stages the runs; first is the connection that planned (at the first place), used by the first
// thread. Done, or the first failure that ended the transfers (its entry's line logged).
Ending transferRuns(const RunTransfers& transfers, RunConnection& first,
                    const ArchiveIdentity& identity, TransferTally& tally);
