// The check of a finished search against the known N-th prime and digest.
#include <gmock/gmock.h>

#include <string>

#include "verify/PrimeSieve.h"
#include "verify/Verification.h"

using ::testing::AllOf;
using ::testing::HasSubstr;

TEST(Verification, CatchesEveryKindOfWrongResult) {
    uint32_t table[11] = {2, 3, 5, 7, 11, 13, 17, 19, 23, 29, 31};  // N = 10 and the one further prime
    const uint64_t digest = PrimesDigest(table, 10);
    auto fault = [&](uint32_t expected, uint64_t known, uint32_t index, uint32_t prime, const uint32_t* primes,
                     uint32_t lastIndex) {
        return VerifyRun(10, expected, known, index, prime, primes, lastIndex).fault;
    };
    EXPECT_EQ(fault(29, digest, 9, 29, table, 10), "");

    EXPECT_EQ(fault(29, digest, 9, 31, table, 10), "prime number 10 is 29, the search reported 31");
    EXPECT_EQ(fault(31, digest, 9, 29, table, 10), "prime number 10 is 31, the search reported 29");
    EXPECT_EQ(fault(29, digest, 8, 29, table, 10), "the search finished at index 8 instead of 9");
    EXPECT_EQ(fault(29, digest, 9, 29, table, 9), "the primes table holds 9 primes instead of 10");
    EXPECT_EQ(fault(29, digest, 9, 29, table, 11), "the primes table holds 11 primes instead of 10");
    EXPECT_EQ(fault(29, digest, 9, 29, nullptr, 10), "the primes table holds 0 primes instead of 10");
    // Any wrong slot fails the digest; the sieve names the first one.
    const struct { uint32_t table[11]; const char* fault; } wrong[] = {
        {{2, 3, 5, 11, 7, 13, 17, 19, 23, 29, 31}, "slot 3: prime number 4 is 7, the table holds 11"},   // out of order
        {{2, 3, 5, 7, 11, 11, 17, 19, 23, 29, 31}, "slot 5: prime number 6 is 13, the table holds 11"},  // merged twice
        {{2, 3, 5, 7, 11, 13, 17, 19, 23, 27, 31}, "slot 9: prime number 10 is 29, the table holds 27"}, // last slot
        {{1, 3, 5, 7, 11, 13, 17, 19, 23, 29, 31}, "slot 0: prime number 1 is 2, the table holds 1"},
    };
    for (const auto& [primes, text] : wrong) EXPECT_EQ(fault(29, digest, 9, 29, primes, 10), text);
    EXPECT_EQ(fault(29, digest + 1, 9, 29, table, 10),
              "the digest of the primes table differs from the known one, yet a sieve finds every slot right");

    // A wrong prime early on spreads to the last one: the first wrong slot is
    // named with the last prime's difference, whichever check failed first.
    const uint32_t spread[11] = {2, 3, 5, 9, 11, 13, 17, 19, 23, 31, 37};
    const RunCheck check = VerifyRun(10, 29, digest, 9, 31, spread, 11);
    EXPECT_EQ(check.fault, "slot 3: prime number 4 is 7, the table holds 9; prime number 10 is 29, the search reported "
                           "31; the primes table holds 11 primes instead of 10");
    EXPECT_EQ(check.wrongSlot, 3u);
    EXPECT_FALSE(VerifyRun(10, 29, digest, 9, 31, table, 10).wrongSlot);

    const std::string text = VerifyRun(1000000, 15485863, 0, 999999, 15485867, table, 10).fault;
    EXPECT_THAT(text, AllOf(HasSubstr("15485863"), HasSubstr("15485867")));
}
