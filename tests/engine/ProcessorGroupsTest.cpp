#include <gtest/gtest.h>

#include <vector>

#include "engine/ProcessorGroups.h"

TEST(ProcessorGroups, WorkersSpreadOverTheGroupsInProportionInConsecutiveBlocks) {
    const struct {
        std::vector<uint32_t> groups;
        uint32_t threads;
        std::vector<uint32_t> perGroup;
    } cases[] = {
        {{64, 64, 32}, 128, {51, 51, 26}},
        {{64, 64, 32}, 160, {64, 64, 32}},
        {{64, 64, 32}, 4, {2, 1, 1}},
        {{64, 64, 32}, 2, {1, 1, 0}},
        {{64, 64, 32}, 1, {0, 1, 0}},
        {{48, 48}, 64, {32, 32}},
        {{64, 64}, 255, {127, 128}},
        {{64}, 8, {8}},
        {{36, 28}, 32, {18, 14}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::PrintToString(c.groups) + " " + std::to_string(c.threads));
        std::vector<uint32_t> counted(c.groups.size(), 0);
        uint16_t previous = 0;
        for (uint32_t k = 0; k < c.threads; ++k) {
            const uint16_t group = WorkerGroup(k, c.threads, c.groups);
            ASSERT_LT(group, c.groups.size());
            EXPECT_GE(group, previous) << "worker " << k;
            previous = group;
            ++counted[group];
        }
        EXPECT_EQ(counted, c.perGroup);
    }
    EXPECT_EQ(WorkerGroup(3, 4, {}), 0);
}
