// One search worker: tests a range of odd numbers by trial division on a
// thread of its own and reports the end of each range to its owner.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <thread>

#include "engine/TrialDivision.h"

// The callback from a finder to its owner, made on the finder's own thread.
class IServer {
public:
    virtual void OnFinderDone(int32_t index) = 0;
    virtual ~IServer() = default;
};

// Run on each worker thread as it starts, before its first range, with the
// worker's index k and the search's thread count: where the caller places
// its threads (a processor, a processor group). It runs once per thread and
// never inside the search loop, and must not wait for the engine.
using WorkerStartHook = std::function<void(uint16_t worker, uint16_t threads)>;

// Result slots for the open range (rangeStart, rangeEnd): 1.5 times the
// difference of x / ln x at the two ends, computed in double precision and
// truncated. REQUIRES: rangeStart >= 2.
uint32_t EstimateCapacity(uint32_t rangeEnd, uint32_t rangeStart);

class PrimeFinder {
public:
    PrimeFinder(int32_t index, IServer* owner);
    PrimeFinder(const PrimeFinder&) = delete;
    PrimeFinder& operator=(const PrimeFinder&) = delete;
    virtual ~PrimeFinder();  // releases nothing: the owner releases results

    // Prepares the next range (the odd numbers after rangeStart and below
    // rangeEnd) and sizes its result buffer. Touches neither done nor the
    // thread: handing the range over is the owner's step.
    // REQUIRES: done is true. Returns false if a needed buffer could not be
    // allocated; the finder then has no buffer and capacity 0.
    bool SetRange(const uint32_t* primes, uint32_t rangeEnd, uint32_t rangeStart);

    // Makes sure later ranges of up to `slots` results need no allocation
    // (the owner calls it before any thread runs). Returns false on failure.
    bool ReserveResults(uint32_t slots);
    void ReleaseResults();

    // The worker loop: searches each range handed over, reports it, and
    // yields between ranges. Returns once stop is requested.
    void Run();

    // Entry of a worker thread; argument is the finder. Runs startHook
    // first, when it is set.
    static void FinderThread(PrimeFinder* finder);

    std::thread thread;               // started by the owner at the first hand-out
    std::atomic<bool> done{true};     // hand-over flag: cleared by the owner (release), set by the worker (release)
    bool merged = false;              // cleared by the worker at a range's start, set by the owner
    int32_t index;
    IServer* owner;
    uint32_t count = 0;               // primes found in the current range
    uint32_t capacity = 0;            // usable slots of results for the current range
    uint32_t rangeEnd = 0;            // exclusive upper end
    uint32_t rangeStart = 0;          // exclusive lower end; even, so every candidate is odd
    uint32_t* results = nullptr;      // count primes, ascending
    const uint32_t* primes = nullptr; // the owner's table, read only
    const WorkerStartHook* startHook = nullptr;  // the owner's, read only; may be null or empty
    uint16_t threads = 1;             // the search's thread count, for startHook

    std::atomic<bool> stopRequested{false};  // polled between candidates and while idle
    std::atomic<bool> exited{false};         // set as the worker thread's last act; polled while serving a wait hook
    bool overflowed = false;                 // a range had more primes than capacity; set by the worker

private:
    uint32_t allocated = 0;  // slots actually allocated in results (>= capacity)
    void SearchRange();
};
