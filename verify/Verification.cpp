#include "verify/Verification.h"

#include <algorithm>
#include <vector>

#include "verify/PrimeSieve.h"

namespace {

// The parts of a fault, one after the other on one line.
void Append(std::string& fault, const std::string& part) {
    if (!fault.empty() && !part.empty()) fault += "; ";
    fault += part;
}

}  // namespace

RunCheck VerifyRun(uint32_t targetCount, uint32_t expectedPrime, uint64_t expectedDigest, uint32_t finishedIndex,
                   uint32_t finishedPrime, const uint32_t* primes, uint32_t lastIndex) {
    const std::string n = std::to_string(targetCount);
    std::string wrongEnd;
    if (finishedPrime != expectedPrime) {
        Append(wrongEnd, "prime number " + n + " is " + std::to_string(expectedPrime) + ", the search reported " +
                             std::to_string(finishedPrime));
    }
    if (finishedIndex != targetCount - 1) {
        Append(wrongEnd, "the search finished at index " + std::to_string(finishedIndex) + " instead of " +
                             std::to_string(targetCount - 1));
    }
    if (primes == nullptr || lastIndex != targetCount) {
        Append(wrongEnd, "the primes table holds " + std::to_string(primes == nullptr ? 0 : lastIndex) +
                             " primes instead of " + n);
    }
    if (wrongEnd.empty() && PrimesDigest(primes, targetCount) == expectedDigest) return {};

    // A wrong prime is a divisor of every range searched after it, so one
    // fault spreads to the end of the table: where it began is what tells.
    RunCheck check;
    if (primes != nullptr) check = FirstWrongSlot(primes, std::min(lastIndex, targetCount));
    Append(check.fault, wrongEnd);
    // Every slot right and still another digest: the known digest is wrong.
    if (check.fault.empty()) {
        check.fault = "the digest of the primes table differs from the known one, yet a sieve finds every slot right";
    }
    return check;
}

RunCheck FirstWrongSlot(const uint32_t* primes, uint32_t count) {
    PrimeSieve sieve;
    uint32_t slot = 0;
    while (slot < count) {
        const std::vector<uint32_t>& expected = sieve.NextSegment();
        if (expected.empty()) return {"slot " + std::to_string(slot) + " is beyond the primes below 2^32", slot};
        for (size_t i = 0; i < expected.size() && slot < count; ++i, ++slot) {
            if (primes[slot] == expected[i]) continue;
            return {"slot " + std::to_string(slot) + ": prime number " + std::to_string(uint64_t{slot} + 1) + " is " +
                        std::to_string(expected[i]) + ", the table holds " + std::to_string(primes[slot]),
                    slot};
        }
    }
    return {};
}
