#include "verify/Verification.h"

#include <vector>

#include "verify/PrimeSieve.h"

std::string VerifyRun(uint32_t targetCount, uint32_t expectedPrime, uint64_t expectedDigest, uint32_t finishedIndex,
                      uint32_t finishedPrime, const uint32_t* primes, uint32_t lastIndex) {
    const std::string n = std::to_string(targetCount);
    if (finishedPrime != expectedPrime) {
        return "prime number " + n + " is " + std::to_string(expectedPrime) + ", the search reported " +
               std::to_string(finishedPrime);
    }
    if (finishedIndex != targetCount - 1) {
        return "the search finished at index " + std::to_string(finishedIndex) + " instead of " +
               std::to_string(targetCount - 1);
    }
    if (primes == nullptr || lastIndex != targetCount) {
        return "the primes table holds " + std::to_string(primes == nullptr ? 0 : lastIndex) + " primes instead of " + n;
    }
    if (PrimesDigest(primes, targetCount) == expectedDigest) return {};
    const std::string wrong = FirstWrongSlot(primes, targetCount);
    // Every slot right and still another digest: the known digest is wrong.
    return wrong.empty() ? "the digest of the primes table differs from the known one, yet a sieve finds every slot right"
                         : wrong;
}

std::string FirstWrongSlot(const uint32_t* primes, uint32_t count) {
    PrimeSieve sieve;
    uint32_t slot = 0;
    while (slot < count) {
        const std::vector<uint32_t>& expected = sieve.NextSegment();
        if (expected.empty()) return "slot " + std::to_string(slot) + " is beyond the primes below 2^32";
        for (size_t i = 0; i < expected.size() && slot < count; ++i, ++slot) {
            if (primes[slot] == expected[i]) continue;
            return "slot " + std::to_string(slot) + ": prime number " + std::to_string(uint64_t{slot} + 1) + " is " +
                   std::to_string(expected[i]) + ", the table holds " + std::to_string(primes[slot]);
        }
    }
    return {};
}
