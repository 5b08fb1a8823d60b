// The task sizes a user can pick and the thread counts offered, shared by the
// Windows program and the runner.
#pragma once

#include <cstdint>
#include <string>

struct TaskTable {
    static constexpr int count = 23;
    static constexpr int defaultIndex = 2;  // "1M"

    static constexpr uint32_t taskSizes[count] = {
        100000,   500000,   1000000,  2000000,  3000000,  4000000,   5000000,   10000000,
        20000000, 30000000, 40000000, 50000000, 60000000, 70000000,  80000000,  90000000,
        100000000, 110000000, 120000000, 130000000, 140000000, 150000000, 200000000};

    static constexpr const wchar_t* taskLabels[count] = {
        L"100K", L"500K", L"1M",   L"2M",   L"3M",   L"4M",   L"5M",   L"10M",
        L"20M",  L"30M",  L"40M",  L"50M",  L"60M",  L"70M",  L"80M",  L"90M",
        L"100M", L"110M", L"120M", L"130M", L"140M", L"150M", L"200M"};

    // The N-th prime of each task size, for verifying results. Made by
    // tools/nth_primes.cpp (an independent sieve) and checked by the tests.
    static constexpr uint32_t lastPrimes[count] = {
        1299709, 7368787, 15485863, 32452843, 49979687, 67867967,
        86028121, 179424673, 373587883, 573259391, 776531401, 982451653,
        1190494759, 1400305337, 1611623773, 1824261409, 2038074743, 2252945251,
        2468776129, 2685457421, 2902958801, 3121238909, 4222234741};

    // The digest of each task's whole result, slots 0 .. N - 1 of the primes
    // table (the first N primes in order): XXH3, 64-bit, over the primes as
    // little-endian 32-bit values. Made by tools/nth_primes.cpp like the
    // primes above; the runner checks every finished run against it.
    static constexpr uint64_t resultDigests[count] = {
        0x2b06c6a032307ef2, 0xc363b0dc33c5f697, 0x9e29b9f777f14495, 0xe3fa6872ad90a0fe, 0x96b1125e63506287,
        0x5a0b97e90f520988, 0x9d1c714d15fca24d, 0x70fe66349375e661, 0x31dd6bbe619f9313, 0xd9c68d77b993afab,
        0x75d87a71ebba6069, 0xdee746dee96d78a4, 0x665be81506615742, 0x6892dfa7f8a54664, 0x44d1333a3e55b90a,
        0xe25dcd75d868c4f5, 0xc12cc12a296364b8, 0x0fb2e29bb054aa0c, 0x839859cbb72f7591, 0x2092f43d89d00b60,
        0x375113a9ee60b270, 0xbb5eb579d07e9a03, 0x3cf75b634b9034e9};

    // The index of the label (exact, case-sensitive), or -1.
    static int Find(const std::string& label);
    static uint32_t SizeOf(const std::string& label);  // taskSizes of the label; 0 for one not in the table
    static std::string Label(int index);  // narrow copy of taskLabels[index]
};

// trunc(ln P / ln 2) in double precision: floor(log2 P) for every P the
// program can meet. P below 1 counts as 1.
int ThreadListExponent(uint32_t processors);

// The highest entry of the thread list for P logical processors: the
// exponent above, at most 7, so that no more than 128 threads are offered
// (the engine takes at most 255). Entry k stands for 2^k threads.
int ThreadListTop(uint32_t processors);

// The thread count of thread-list entry k: trunc(pow(2.0, k)), low 16 bits.
uint16_t ThreadCountOfEntry(uint32_t entry);

// The logical processors of this machine (at least 1).
uint32_t LogicalProcessors();
