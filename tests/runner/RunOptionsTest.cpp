// The thread counts a run may take: those the Windows program's thread list offers.
#include <gtest/gtest.h>

#include <vector>

#include "runner/RunOptions.h"

TEST(RunOptions, OfferedThreadCountsAreThoseOfTheThreadList) {
    EXPECT_EQ(OfferedThreadCounts(1), std::vector<uint16_t>{1});
    EXPECT_EQ(OfferedThreadCounts(6), (std::vector<uint16_t>{1, 2, 4}));
    EXPECT_EQ(OfferedThreadCounts(8), (std::vector<uint16_t>{1, 2, 4, 8}));
    EXPECT_EQ(OfferedThreadCounts(4096).back(), 128);
}
