// Runs grouped by their setting, the task and the thread count, as reports,
// the store, compare and charts sum them up.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <utility>
#include <vector>

// The runs of each setting, in the order each setting first appears, each
// group in the order of `runs`. Run is any type with `task` (its label) and
// `threads`. n log n in the number of runs.
template <class Run>
std::vector<std::vector<const Run*>> GroupBySetting(const std::vector<Run>& runs) {
    std::vector<std::vector<const Run*>> groups;
    std::map<std::pair<std::string, uint16_t>, size_t> index;
    for (const Run& run : runs) {
        const auto [at, added] = index.try_emplace({run.task, uint16_t(run.threads)}, groups.size());
        if (added) groups.emplace_back();
        groups[at->second].push_back(&run);
    }
    return groups;
}
