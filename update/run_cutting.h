#pragma once
#include "update/install_plan.h"

#include <cstddef>
#include <vector>

// Runs spread over several connections: while there are fewer runs than connections, the
// largest run is cut at entry boundaries (never inside an entry) into parts of about equal
// bytes, so that a first install's one run becomes one part per connection. Runs keep archive
// order; a run of one entry stays whole.
std::vector<PlannedRun> spreadRuns(std::vector<PlannedRun> runs,
                                   const std::vector<PlannedEntry>& entries,
                                   std::size_t connections);

// The run cut into at most parts runs of about equal bytes, each of whole entries.
std::vector<PlannedRun> cutRun(const PlannedRun& run, const std::vector<PlannedEntry>& entries,
                               std::size_t parts);
