// The benchmark's workload: the test of one odd candidate by trial division.
// The search workers and the bench's bare loop both run exactly this code.
#pragma once

#include <array>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <iterator>
#include <utility>

// The odd primes 3 .. 131 that every candidate is divided by first, with
// constant divisors. Table slots 1 .. 31 hold the same primes.
inline constexpr uint32_t PreTestPrimes[] = {3,  5,  7,  11, 13, 17, 19, 23,  29,  31,  37,
                                             41, 43, 47, 53, 59, 61, 67, 71,  73,  79,  83,
                                             89, 97, 101, 103, 107, 109, 113, 127, 131};

// Slots 0 .. 31 of every fresh primes table: 2, then the pre-test primes.
inline constexpr std::array<uint32_t, std::size(PreTestPrimes) + 1> SeedPrimes = [] {
    std::array<uint32_t, std::size(PreTestPrimes) + 1> seeds{2};
    for (size_t i = 0; i < std::size(PreTestPrimes); ++i) seeds[i + 1] = PreTestPrimes[i];
    return seeds;
}();

// The slot of the last seed prime, where the walk starts.
inline constexpr uint32_t SeedLastSlot = uint32_t(std::size(PreTestPrimes));

namespace trial_division {

// One pre-test with the divisor a constant, so that it costs a multiply, not a
// division. The rejection is marked unlikely: otherwise the compiler judges
// the later tests rarely reached and emits real divisions for them, though
// about a quarter of all candidates get that far.
template <uint32_t Divisor>
inline bool NotDivisibleBy(uint32_t c) {
    if (c % Divisor == 0) [[unlikely]] return false;
    return true;
}

template <size_t... I>
inline bool PreTestAll(uint32_t c, std::index_sequence<I...>) {
    return (NotDivisibleBy<PreTestPrimes[I]>(c) && ...);
}

}  // namespace trial_division

// True when no pre-test prime divides c, in list order. Rejects the pre-test
// primes themselves (they are seeds).
inline bool PreTest(uint32_t c) {
    return trial_division::PreTestAll(c, std::make_index_sequence<std::size(PreTestPrimes)>{});
}

// The walk: a real division by each table prime from slot 31 (131) until one
// exceeds the integer square root. REQUIRES: the table holds a prime above
// sqrt(c) at or after slot 31.
inline bool WalkTable(uint32_t c, const uint32_t* primes) {
    // The root of a 32-bit number is below 65536, so a 32-bit conversion
    // truncates exactly like a 64-bit one, and costs one instruction on x86.
    const uint32_t r = static_cast<uint32_t>(static_cast<int32_t>(std::sqrt(static_cast<double>(c))));
    for (const uint32_t* q = primes + SeedLastSlot;; ++q) {
        if (*q > r) return true;
        if (c % *q == 0) return false;
    }
}

// True when c passes the trial division that the workers run.
inline bool PassesTrialDivision(uint32_t c, const uint32_t* primes) { return PreTest(c) && WalkTable(c, primes); }
