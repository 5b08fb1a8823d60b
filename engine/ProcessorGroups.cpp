#include "engine/ProcessorGroups.h"

#include <cstddef>

uint16_t WorkerGroup(uint32_t worker, uint32_t threads, const std::vector<uint32_t>& groupSizes) {
    uint64_t total = 0;
    for (uint32_t size : groupSizes) total += size;
    if (threads == 0 || total == 0) return 0;
    // The middle of worker k's share, in halves so that it stays whole.
    const uint64_t point = (2 * uint64_t(worker % threads) + 1) * total / (2 * uint64_t(threads));
    uint64_t end = 0;
    for (std::size_t group = 0; group < groupSizes.size(); ++group) {
        end += groupSizes[group];
        if (point < end) return uint16_t(group);
    }
    return uint16_t(groupSizes.size() - 1);
}
