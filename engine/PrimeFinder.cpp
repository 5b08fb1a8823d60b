#include "engine/PrimeFinder.h"

#include <cmath>
#include <new>

uint32_t EstimateCapacity(uint32_t rangeEnd, uint32_t rangeStart) {
    const double e = static_cast<double>(rangeEnd);
    const double s = static_cast<double>(rangeStart);
    const double value = (e / std::log(e) - s / std::log(s)) * 1.5;
    return static_cast<uint32_t>(static_cast<int64_t>(value));
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
    if (finder->startHook != nullptr && *finder->startHook) (*finder->startHook)(uint16_t(finder->index), finder->threads);
    finder->Run();
    finder->exited.store(true, std::memory_order_release);
}
