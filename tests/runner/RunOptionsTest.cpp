// The thread counts a run may take and a sweep runs: every usable logical
// processor, whatever their number.
#include <gtest/gtest.h>

#include <tuple>
#include <vector>

#include "runner/RunOptions.h"

TEST(RunOptions, ASweepRunsThePowersOfTwoBelowTheUsableProcessorsAndThemAll) {
    const std::vector<std::tuple<uint32_t, std::vector<uint16_t>>> cases = {
        {0, {1}},
        {1, {1}},
        {2, {1, 2}},
        {6, {1, 2, 4, 6}},
        {12, {1, 2, 4, 8, 12}},
        {24, {1, 2, 4, 8, 16, 24}},
        {48, {1, 2, 4, 8, 16, 32, 48}},
        {64, {1, 2, 4, 8, 16, 32, 64}},
        {65, {1, 2, 4, 8, 16, 32, 64, 65}},
        {4096, {1, 2, 4, 8, 16, 32, 64, 128, 255}},  // as many as the engine takes
    };
    for (const auto& [usable, counts] : cases) {
        SCOPED_TRACE(usable);
        EXPECT_EQ(OfferedThreadCounts(usable), counts);
        EXPECT_EQ(EveryProcessor(usable), counts.back());
    }
}
