#include <gtest/gtest.h>

#include <bit>

#include "engine/TaskTable.h"
#include "tests/support/Primes.h"

TEST(TaskTable, LabelsAndSizesInTableOrder) {
    EXPECT_EQ(TaskTable::Label(0), "100K");
    EXPECT_EQ(TaskTable::Label(TaskTable::defaultIndex), "1M");
    EXPECT_EQ(TaskTable::Label(22), "200M");
    EXPECT_EQ(TaskTable::taskSizes[22], 200000000u);
    EXPECT_EQ(TaskTable::Label(-1), "");
    EXPECT_EQ(TaskTable::Label(23), "");
    for (int i = 0; i < TaskTable::count; ++i) {
        EXPECT_EQ(TaskTable::Find(TaskTable::Label(i)), i);
        if (i > 0) {
            EXPECT_GT(TaskTable::taskSizes[i], TaskTable::taskSizes[i - 1]);
        }
    }
    EXPECT_EQ(TaskTable::Find("1m"), -1);
    EXPECT_EQ(TaskTable::Find(""), -1);
}

TEST(TaskTable, KnownLastPrimesAgreeWithASieve) {
    // Up to 1M here; the larger entries come from tools/nth_primes.cpp.
    const std::vector<uint32_t> primes = PrimesBelow(15485864);
    for (int i = 0; i <= 2; ++i) {
        ASSERT_GE(primes.size(), TaskTable::taskSizes[i]);
        EXPECT_EQ(TaskTable::lastPrimes[i], primes[TaskTable::taskSizes[i] - 1]) << TaskTable::Label(i);
    }
}

TEST(TaskTable, ThreadListExponentIsFloorLog2ForEveryProcessorCountUpTo4096) {
    for (uint32_t p = 1; p <= 4096; ++p) {
        ASSERT_EQ(ThreadListExponent(p), int(std::bit_width(p)) - 1) << p;
        ASSERT_EQ(ThreadListTop(p), std::min(7, int(std::bit_width(p)) - 1)) << p;
    }
    EXPECT_EQ(ThreadListTop(0), 0);
    EXPECT_EQ(ThreadListTop(6), 2);
    EXPECT_EQ(ThreadListTop(4294967295u), 7);  // never more than 128 threads
}

TEST(TaskTable, ThreadListEntryKStandsForTwoToTheK) {
    EXPECT_EQ(ThreadCountOfEntry(0), 1);
    EXPECT_EQ(ThreadCountOfEntry(1), 2);
    EXPECT_EQ(ThreadCountOfEntry(7), 128);
    EXPECT_EQ(ThreadCountOfEntry(15), 32768);
    EXPECT_EQ(ThreadCountOfEntry(16), 0);  // 65536 does not fit 16 bits
    EXPECT_GE(LogicalProcessors(), 1u);
}
