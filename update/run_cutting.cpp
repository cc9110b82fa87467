#include "update/run_cutting.h"

#include <algorithm>
#include <utility>

std::vector<PlannedRun> cutRun(const PlannedRun& run, const std::vector<PlannedEntry>& entries,
                               std::size_t parts) {
    parts = std::clamp<std::size_t>(parts, 1, std::max<std::size_t>(run.entries.size(), 1));
    std::uint64_t total = 0;
    for (const std::size_t position : run.entries) {
        total += entries[position].span;
    }
    // The run's bytes beyond its entries' (neighbours fetched along) are shared out evenly.
    const std::uint64_t between = run.bytes > total ? run.bytes - total : 0;
    std::vector<PlannedRun> cut;
    PlannedRun part;
    std::uint64_t done = 0;
    for (std::size_t at = 0; at < run.entries.size(); ++at) {
        const std::size_t position = run.entries[at];
        part.entries.push_back(position);
        part.bytes += entries[position].span;
        done += entries[position].span;
        const std::size_t left = run.entries.size() - at - 1;
        const std::size_t partsLeft = parts - cut.size() - 1;
        // A part ends once it reaches its share of the bytes, or when each remaining part
        // needs one of the remaining entries.
        const bool share = done * parts >= total * (cut.size() + 1);
        if (partsLeft > 0 && left > 0 && (share || left == partsLeft)) {
            cut.push_back(std::move(part));
            part = PlannedRun{};
        }
    }
    cut.push_back(std::move(part));
    for (PlannedRun& piece : cut) {
        piece.bytes += between / cut.size();
    }
    return cut;
}

std::vector<PlannedRun> spreadRuns(std::vector<PlannedRun> runs,
                                   const std::vector<PlannedEntry>& entries,
                                   std::size_t connections) {
    if (runs.empty() || runs.size() >= connections) {
        return runs;
    }
    // Only a run of several entries can be cut: the largest of those.
    const auto key = [](const PlannedRun& run) {
        return std::make_pair(run.entries.size() >= 2, run.bytes);
    };
    const auto largest = std::max_element(
        runs.begin(), runs.end(),
        [&key](const PlannedRun& a, const PlannedRun& b) { return key(a) < key(b); });
    if (largest->entries.size() < 2) {
        return runs;
    }
    std::vector<PlannedRun> parts = cutRun(*largest, entries, connections - runs.size() + 1);
    const auto at = runs.erase(largest);
    runs.insert(at, std::make_move_iterator(parts.begin()), std::make_move_iterator(parts.end()));
    return runs;
}
