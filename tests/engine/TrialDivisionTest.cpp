// The workload: the test of one candidate by trial division.
#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "engine/TrialDivision.h"
#include "tests/support/Primes.h"

TEST(TrialDivision, RejectsSquaresAndProductsOfTablePrimes) {
    const uint32_t* table = SieveTable().data();
    EXPECT_FALSE(PassesTrialDivision(18769, table));  // 137 * 137: the walk reaches 137 = r
    EXPECT_FALSE(PassesTrialDivision(19043, table));  // 137 * 139
    EXPECT_FALSE(PassesTrialDivision(17947, table));  // 131 * 137: the last pre-test
    EXPECT_TRUE(PassesTrialDivision(137, table));
    EXPECT_TRUE(PassesTrialDivision(4294967291u, table));  // the largest 32-bit prime
    EXPECT_FALSE(PassesTrialDivision(4294967295u, table));
    for (uint32_t p : PreTestPrimes) EXPECT_FALSE(PassesTrialDivision(p, table)) << p;
}

TEST(TrialDivision, AgreesWithASieveOnEveryOddNumber) {
    const uint32_t limit = 2000000;
    const std::vector<uint32_t> expected = PrimesBelow(limit);
    std::vector<uint32_t> found;
    for (uint32_t c = 133; c < limit; c += 2) {
        if (PassesTrialDivision(c, SieveTable().data())) found.push_back(c);
    }
    const auto from = std::lower_bound(expected.begin(), expected.end(), 133u);
    EXPECT_TRUE(std::equal(found.begin(), found.end(), from, expected.end()));
    EXPECT_EQ(found.size(), size_t(expected.end() - from));
}
