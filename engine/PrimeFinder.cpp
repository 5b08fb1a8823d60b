#include "engine/PrimeFinder.h"

#include <cmath>
#include <new>

uint32_t EstimateCapacity(uint32_t rangeEnd, uint32_t rangeStart) {
    const double e = static_cast<double>(rangeEnd);
    const double s = static_cast<double>(rangeStart);
    const double value = (e / std::log(e) - s / std::log(s)) * 1.5;
    return static_cast<uint32_t>(static_cast<int64_t>(value));
}

namespace {

// The pre-test, written out with constant divisors so that none of them costs
// a real division. Rejects the pre-test primes themselves (they are seeds).
// Each rejection is marked unlikely: otherwise the compiler judges the later
// tests rarely reached and emits real divisions for them, though about a
// quarter of all candidates get that far.
inline bool PreTest(uint32_t c) {
    if (c % 3 == 0) [[unlikely]] return false;
    if (c % 5 == 0) [[unlikely]] return false;
    if (c % 7 == 0) [[unlikely]] return false;
    if (c % 11 == 0) [[unlikely]] return false;
    if (c % 13 == 0) [[unlikely]] return false;
    if (c % 17 == 0) [[unlikely]] return false;
    if (c % 19 == 0) [[unlikely]] return false;
    if (c % 23 == 0) [[unlikely]] return false;
    if (c % 29 == 0) [[unlikely]] return false;
    if (c % 31 == 0) [[unlikely]] return false;
    if (c % 37 == 0) [[unlikely]] return false;
    if (c % 41 == 0) [[unlikely]] return false;
    if (c % 43 == 0) [[unlikely]] return false;
    if (c % 47 == 0) [[unlikely]] return false;
    if (c % 53 == 0) [[unlikely]] return false;
    if (c % 59 == 0) [[unlikely]] return false;
    if (c % 61 == 0) [[unlikely]] return false;
    if (c % 67 == 0) [[unlikely]] return false;
    if (c % 71 == 0) [[unlikely]] return false;
    if (c % 73 == 0) [[unlikely]] return false;
    if (c % 79 == 0) [[unlikely]] return false;
    if (c % 83 == 0) [[unlikely]] return false;
    if (c % 89 == 0) [[unlikely]] return false;
    if (c % 97 == 0) [[unlikely]] return false;
    if (c % 101 == 0) [[unlikely]] return false;
    if (c % 103 == 0) [[unlikely]] return false;
    if (c % 107 == 0) [[unlikely]] return false;
    if (c % 109 == 0) [[unlikely]] return false;
    if (c % 113 == 0) [[unlikely]] return false;
    if (c % 127 == 0) [[unlikely]] return false;
    if (c % 131 == 0) [[unlikely]] return false;
    return true;
}

// The walk: a real division by each table prime from slot 31 (131) until one
// exceeds the integer square root.
inline bool WalkTable(uint32_t c, const uint32_t* primes) {
    // The root of a 32-bit number is below 65536, so a 32-bit conversion
    // truncates exactly like a 64-bit one, and costs one instruction on x86.
    const uint32_t r = static_cast<uint32_t>(static_cast<int32_t>(std::sqrt(static_cast<double>(c))));
    for (const uint32_t* q = primes + 31;; ++q) {
        if (*q > r) return true;
        if (c % *q == 0) return false;
    }
}

}  // namespace

bool PassesTrialDivision(uint32_t c, const uint32_t* primes) {
    return PreTest(c) && WalkTable(c, primes);
}

PrimeFinder::PrimeFinder(int32_t index_, IServer* owner_) : index(index_), owner(owner_) {}

PrimeFinder::~PrimeFinder() = default;

bool PrimeFinder::ReserveResults(uint32_t slots) {
    if (slots <= allocated && results != nullptr) return true;
    ReleaseResults();
    results = new (std::nothrow) uint32_t[slots];
    if (results == nullptr) return false;
    allocated = slots;
    return true;
}

void PrimeFinder::ReleaseResults() {
    delete[] results;
    results = nullptr;
    allocated = 0;
}

bool PrimeFinder::SetRange(const uint32_t* primes_, uint32_t rangeEnd_, uint32_t rangeStart_) {
    primes = primes_;
    rangeEnd = rangeEnd_;
    rangeStart = rangeStart_;
    if (rangeEnd <= rangeStart) return true;  // empty: no candidates, capacity unchanged
    capacity = EstimateCapacity(rangeEnd, rangeStart);
    // A buffer reserved before the search started is reused, so that no
    // allocation happens on a worker thread in the normal course.
    if (capacity <= allocated && results != nullptr) return true;
    if (ReserveResults(capacity)) return true;
    capacity = 0;
    return false;
}

void PrimeFinder::SearchRange() {
    count = 0;
    merged = false;
    if (rangeEnd <= rangeStart || rangeEnd - rangeStart < 2) return;  // no odd number inside
    uint32_t found = 0;
    const uint32_t limit = capacity;
    const uint32_t* const table = primes;
    uint32_t* const out = results;
    // rangeEnd - 1 is the last number below the end; candidates are odd, so
    // the loop stops at the last odd one and never wraps past 2^32.
    const uint32_t last = rangeEnd - 1;
    for (uint32_t c = rangeStart + 1;; c += 2) {
        if (stopRequested.load(std::memory_order_relaxed)) break;
        if (PreTest(c) && WalkTable(c, table)) {
            if (found == limit) {
                overflowed = true;
                break;
            }
            out[found++] = c;
        }
        if (last - c < 2) break;
    }
    count = found;
}

void PrimeFinder::Run() {
    for (;;) {
        if (stopRequested.load(std::memory_order_relaxed)) return;
        if (done.load(std::memory_order_acquire)) {
            std::this_thread::yield();
            continue;
        }
        SearchRange();
        if (stopRequested.load(std::memory_order_relaxed)) return;
        done.store(true, std::memory_order_release);
        if (owner != nullptr) owner->OnFinderDone(index);
    }
}

void PrimeFinder::FinderThread(PrimeFinder* finder) {
    if (finder == nullptr) return;
    finder->Run();
    finder->exited.store(true, std::memory_order_release);
}
