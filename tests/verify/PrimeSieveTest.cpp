// The reference sieve and digest, against a plain sieve of the tests' own.
#include <gtest/gtest.h>

#include <vector>

#include "engine/TaskTable.h"
#include "tests/support/Primes.h"
#include "verify/PrimeSieve.h"
#include "verify/Verification.h"

TEST(PrimeSieve, KnownDigestsAndTheSieveAgreeWithAnIndependentSieve) {
    // Up to 1M here; the larger entries come from tools/nth_primes.cpp.
    const std::vector<uint32_t> primes = FirstPrimes(1000000);
    for (int i = 0; i <= 2; ++i) {
        EXPECT_EQ(PrimesDigest(primes.data(), TaskTable::taskSizes[i]), TaskTable::resultDigests[i]) << TaskTable::Label(i);
    }
    EXPECT_EQ(FirstWrongSlot(primes.data(), 1000000).fault, "");
}
