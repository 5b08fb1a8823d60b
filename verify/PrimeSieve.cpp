#include "verify/PrimeSieve.h"

#include <algorithm>
#include <bit>

// Header-only use of xxHash: everything it needs is compiled in here.
#define XXH_INLINE_ALL
#include <xxhash.h>

#include <iterator>

namespace {

// The digest is defined over little-endian values: a big-endian machine
// hashes a little-endian copy, a block at a time.
constexpr bool kLittleEndian = std::endian::native == std::endian::little;

template <typename Update>
void HashLittleEndian(const uint32_t* primes, size_t count, Update update) {
    if constexpr (kLittleEndian) {
        update(primes, count * sizeof(uint32_t));
    } else {
        uint32_t block[4096];
        for (size_t done = 0; done < count;) {
            const size_t take = std::min(count - done, std::size(block));
            for (size_t i = 0; i < take; ++i) {
                const uint32_t p = primes[done + i];
                block[i] = (p >> 24) | ((p >> 8) & 0xff00u) | ((p << 8) & 0xff0000u) | (p << 24);
            }
            update(block, take * sizeof(uint32_t));
            done += take;
        }
    }
}

constexpr uint64_t kEnd = uint64_t{1} << 32;
constexpr uint32_t kSegmentOdds = 1u << 18;  // odd numbers per segment: 256 KB of flags

}  // namespace

PrimeSieve::PrimeSieve() : isPrime(kSegmentOdds) {
    // Every composite below 2^32 has a prime factor below 2^16.
    std::vector<bool> composite(1u << 16);
    for (uint32_t i = 3; i < (1u << 16); i += 2) {
        if (composite[i]) continue;
        sievingPrimes.push_back(i);
        for (uint32_t j = i * i; j < (1u << 16); j += 2 * i) composite[j] = true;
    }
    segment.reserve(kSegmentOdds);
}

const std::vector<uint32_t>& PrimeSieve::NextSegment() {
    segment.clear();
    if (low == 3) segment.push_back(2);
    if (low >= kEnd) return segment;
    const uint64_t high = std::min(low + 2 * uint64_t{kSegmentOdds}, kEnd);  // exclusive
    const size_t odds = size_t((high - low + 1) / 2);
    std::fill(isPrime.begin(), isPrime.begin() + std::ptrdiff_t(odds), uint8_t{1});
    for (const uint32_t p : sievingPrimes) {
        const uint64_t square = uint64_t{p} * p;
        if (square >= high) break;
        uint64_t multiple = std::max(square, (low + p - 1) / p * p);
        if (multiple % 2 == 0) multiple += p;
        for (; multiple < high; multiple += 2 * uint64_t{p}) isPrime[size_t((multiple - low) / 2)] = 0;
    }
    for (size_t i = 0; i < odds; ++i) {
        if (isPrime[i]) segment.push_back(uint32_t(low + 2 * i));
    }
    low = high;
    return segment;
}

uint64_t PrimesDigest(const uint32_t* primes, size_t count) {
    if constexpr (kLittleEndian) return XXH3_64bits(primes, count * sizeof(uint32_t));
    PrimesDigestOfParts digest;
    digest.Add(primes, count);
    return digest.Value();
}

struct PrimesDigestOfParts::State {
    XXH3_state_t hash;
};

PrimesDigestOfParts::PrimesDigestOfParts() : state(std::make_unique<State>()) { XXH3_64bits_reset(&state->hash); }

PrimesDigestOfParts::~PrimesDigestOfParts() = default;

void PrimesDigestOfParts::Add(const uint32_t* primes, size_t count) {
    HashLittleEndian(primes, count, [this](const void* bytes, size_t size) { XXH3_64bits_update(&state->hash, bytes, size); });
}

uint64_t PrimesDigestOfParts::Value() const { return XXH3_64bits_digest(&state->hash); }
