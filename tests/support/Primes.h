// Primes for checking results, by a plain sieve that shares nothing with the
// engine (nor with the runner's segmented sieve, which tests check with it).
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

// The primes below `limit`, at most `count` of them.
inline std::vector<uint32_t> SievedPrimes(uint32_t limit, size_t count) {
    std::vector<char> composite(size_t(limit) + 1);
    std::vector<uint32_t> primes;
    for (uint32_t k = 2; k < limit && primes.size() < count; ++k) {
        if (composite[k]) continue;
        primes.push_back(k);
        for (uint64_t m = uint64_t(k) * k; m < limit; m += k) composite[m] = 1;
    }
    return primes;
}

// The primes below `limit`.
inline std::vector<uint32_t> PrimesBelow(uint32_t limit) { return SievedPrimes(limit, SIZE_MAX); }

// The first `count` primes.
inline std::vector<uint32_t> FirstPrimes(uint32_t count) {
    // The n-th prime is below n (ln n + ln ln n) from n = 6 on.
    const double n = std::max(count, 6u);
    return SievedPrimes(uint32_t(n * (std::log(n) + std::log(std::log(n)))) + 2, count);
}

// A primes table for the search's walk, large enough for every candidate below 2^32.
inline const std::vector<uint32_t>& SieveTable() {
    static const std::vector<uint32_t> table = PrimesBelow(70000);
    return table;
}
