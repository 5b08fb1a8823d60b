// Prints the N-th prime for every task size, by a segmented sieve of
// Eratosthenes that shares nothing with the engine. The runner's table of
// known last primes was made with it:  g++ -O2 -std=c++20 tools/nth_primes.cpp
#include <cstdint>
#include <cstdio>
#include <vector>

int main() {
    const uint64_t targets[] = {100000,   500000,   1000000,  2000000,   3000000,   4000000,
                                5000000,  10000000, 20000000, 30000000,  40000000,  50000000,
                                60000000, 70000000, 80000000, 90000000,  100000000, 110000000,
                                120000000, 130000000, 140000000, 150000000, 200000000};
    const uint64_t limit = 1ull << 32;
    std::vector<uint32_t> small;  // odd primes up to 65536
    {
        std::vector<bool> composite(65537, false);
        for (uint32_t i = 3; i <= 65536; i += 2) {
            if (composite[i]) continue;
            small.push_back(i);
            for (uint32_t j = i * i; j <= 65536; j += 2 * i) composite[j] = true;
        }
    }
    const uint64_t segment = 1 << 20;  // odd numbers per segment
    std::vector<uint8_t> sieve(segment);
    uint64_t count = 1;  // the prime 2
    size_t next = 0;
    for (uint64_t low = 3; low < limit && next < std::size(targets); low += 2 * segment) {
        std::fill(sieve.begin(), sieve.end(), 1);
        const uint64_t high = low + 2 * segment;  // exclusive
        for (uint32_t p : small) {
            uint64_t pp = uint64_t(p) * p;
            if (pp >= high) break;
            uint64_t first = pp >= low ? pp : ((low + p - 1) / p) * p;
            if (first % 2 == 0) first += p;
            for (uint64_t m = first; m < high; m += 2 * p) sieve[(m - low) / 2] = 0;
        }
        for (uint64_t i = 0; i < segment && next < std::size(targets); ++i) {
            uint64_t n = low + 2 * i;
            if (n >= limit) break;
            if (!sieve[i]) continue;
            if (++count == targets[next]) {
                std::printf("%llu %llu\n", (unsigned long long)targets[next], (unsigned long long)n);
                ++next;
            }
        }
    }
    return 0;
}
