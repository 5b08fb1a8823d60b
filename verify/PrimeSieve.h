// The reference the benchmark's results are checked against: the primes in
// order by a segmented sieve of Eratosthenes, and the digest of a primes
// table. Shares nothing with the search engine. tools/nth_primes.cpp made the
// task table's known last primes and digests with it; the runner finds with
// it the first wrong slot of a result whose digest does not match.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

class PrimeSieve {
public:
    PrimeSieve();

    // The primes of the next segment of the numbers, ascending, starting with
    // 2 on the first call; empty once every prime below 2^32 has been given.
    const std::vector<uint32_t>& NextSegment();

private:
    std::vector<uint32_t> sievingPrimes;  // the odd primes below 2^16
    std::vector<uint8_t> isPrime;         // one flag per odd number of the segment
    std::vector<uint32_t> segment;        // the primes found in it
    uint64_t low = 3;                     // the first (odd) number of the next segment
};

// A primes table's digest: XXH3 (64-bit) over the primes as little-endian
// 32-bit values, in table order. The task table keeps it for slots
// 0 .. N - 1 of every task's result.
uint64_t PrimesDigest(const uint32_t* primes, size_t count);

// The same digest, taken over primes added piece by piece.
class PrimesDigestOfParts {
public:
    PrimesDigestOfParts();
    ~PrimesDigestOfParts();
    PrimesDigestOfParts(const PrimesDigestOfParts&) = delete;
    PrimesDigestOfParts& operator=(const PrimesDigestOfParts&) = delete;

    void Add(const uint32_t* primes, size_t count);
    uint64_t Value() const;  // of everything added so far

private:
    struct State;
    std::unique_ptr<State> state;
};
