// Prints, for every task size N, the N-th prime and the digest of the first
// N primes (XXH3, 64-bit, over the primes as little-endian 32-bit values; see
// verify/PrimeSieve.h), by a segmented sieve that shares nothing with the
// engine. The task table's known last primes and digests were made with it:
//   cmake --build --preset native --target nth_primes && build/native/tools/nth_primes
// or, by hand, with libxxhash-dev installed:
//   g++ -O2 -std=c++20 -I. tools/nth_primes.cpp verify/PrimeSieve.cpp -o nth_primes
#include <cinttypes>
#include <cstdint>
#include <cstdio>
#include <iterator>

#include "verify/PrimeSieve.h"

int main() {
    const uint64_t targets[] = {100000,   500000,   1000000,  2000000,   3000000,   4000000,
                                5000000,  10000000, 20000000, 30000000,  40000000,  50000000,
                                60000000, 70000000, 80000000, 90000000,  100000000, 110000000,
                                120000000, 130000000, 140000000, 150000000, 200000000};
    PrimeSieve sieve;
    PrimesDigestOfParts digest;
    uint64_t count = 0;  // primes added to the digest
    size_t next = 0;
    std::printf("%-9s %-10s %s\n", "N", "N-th", "digest");
    while (next < std::size(targets)) {
        const std::vector<uint32_t>& primes = sieve.NextSegment();
        if (primes.empty()) return 1;  // fewer primes below 2^32 than the last task needs
        size_t at = 0;
        while (next < std::size(targets) && targets[next] - count <= primes.size() - at) {
            const size_t take = size_t(targets[next] - count);
            digest.Add(primes.data() + at, take);
            at += take;
            count += take;
            std::printf("%-9" PRIu64 " %-10" PRIu32 " 0x%016" PRIx64 "\n", targets[next], primes[at - 1], digest.Value());
            ++next;
        }
        digest.Add(primes.data() + at, primes.size() - at);
        count += primes.size() - at;
    }
    return 0;
}
