// Runs one search for the first N primes on T worker threads: owns the primes
// table, hands consecutive ranges to the finders in batches, merges their
// results strictly in range order and reports progress and completion.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "engine/Notify.h"
#include "engine/PrimeFinder.h"

enum class StartResult {
    Started,
    TargetTooSmall,   // below 31, the slot of the last seed prime
    TargetTooLarge,   // above the largest task: the search must end below 2^32
    TooManyThreads,   // above 255: the walk of the second batch needs it
    OutOfMemory,      // the table or a finder's buffers could not be allocated
    ThreadFailed,     // the first worker thread could not be started
};

// A one-line English reason for a refused start, for messages to the user.
const char* StartResultText(StartResult result);

class PrimeCoordinator : public IServer {
public:
    static constexpr uint32_t kRangeSpan = 1048576;    // numbers per range after the first
    static constexpr uint32_t kFirstRangeEnd = 16384;  // the first range is (2, 16384)
    static constexpr uint32_t kMinTarget = SeedLastSlot;
    static constexpr uint32_t kMaxTarget = 200000000;
    static constexpr uint32_t kMaxThreads = 255;

    // notifyTarget receives WM_SEARCH_PROGRESS and WM_SEARCH_FINISHED on the
    // worker threads (may be null). waitHook is called over and over while
    // this object waits for worker threads to end (Start, Stop, destructor).
    explicit PrimeCoordinator(INotifyTarget* notifyTarget, WaitHook waitHook = nullptr);
    PrimeCoordinator(const PrimeCoordinator&) = delete;
    PrimeCoordinator& operator=(const PrimeCoordinator&) = delete;
    ~PrimeCoordinator() override;  // stops and joins every worker first

    // Begins a search and returns at once. Ends every thread of an earlier
    // search first. On a refusal no search runs; for a bad argument or
    // missing buffers the earlier table and lastIndex stay as they were
    // (only when the new table itself does not fit beside the old one is
    // the old one given up, leaving primes null and lastIndex 0). A table
    // of the new search's size is reused, not allocated again: the earlier
    // results in it are then replaced, as by a new table.
    StartResult Start(uint32_t targetCount, uint16_t threadCount);

    // Clears running and ends every worker thread, returning once all have
    // ended. Returns true if this call ended a search: a running one, or one
    // that had failed on its own since (see Failure()). Returns false if none
    // was running or a completing worker owned the end.
    bool Stop();

    // Ends the worker threads: exceptIndex -1 ends all of them and returns
    // once every worker thread of this and earlier searches has ended (joined).
    // Any other index, as the completing worker uses it, only asks the others
    // to stop: it never waits, because it is called under the engine lock.
    void StopWorkers(int32_t exceptIndex);

    void OnFinderDone(int32_t index) override;

    // Sets what each worker thread runs as it starts (see WorkerStartHook);
    // an empty hook runs nothing. REQUIRES: no worker thread runs (before
    // Start, or after Stop).
    void SetWorkerStartHook(WorkerStartHook hook);

    // Set when a search ended without completing for a reason of the engine's
    // own (a worker thread that could not start, a result buffer too small):
    // running turns false, no finish is sent, and the next Stop returns true.
    // Empty otherwise; cleared by Start.
    std::string Failure() const;

    INotifyTarget* notifyTarget;
    std::atomic<bool> running{false};
    uint32_t targetCount = 0;
    uint16_t threadCount = 0;
    std::vector<PrimeFinder*> finders;
    uint32_t* primes = nullptr;  // targetCount + 1 slots
    size_t primesSlots = 0;      // the slots primes has
    const uint32_t seedLastIndex = SeedLastSlot;
    uint32_t lastIndex = 0;
    uint32_t nextStart = 0;

private:
    void MergeFinder(PrimeFinder* finder);
    void DispatchBatch();
    bool ResetPrimes();
    bool CreateFinders();
    void DestroyFinders();
    void Complete(int32_t index);
    void Fail(const char* why);
    bool StartThread(PrimeFinder* finder);
    void JoinAll();

    WaitHook waitHook;
    WorkerStartHook workerStartHook;  // the finders point at it
    std::mutex engineLock;   // merging, the completion test and the hand-out
    std::mutex threadsLock;  // creation of worker threads against StopWorkers(-1)
    bool threadsClosed = false;  // under threadsLock: no new worker thread may start
    std::atomic<const char*> failure{nullptr};
    std::atomic<bool> failureUnclaimed{false};
};
