#include "engine/PrimeCoordinator.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <utility>

namespace {

// Every range after the first holds kRangeSpan numbers, and the estimate for
// such a range falls as the range moves up, so the second range (the first of
// the second batch) needs the most slots. Reserving that much up front means a
// worker never allocates.
const uint32_t kMostSlots = EstimateCapacity(PrimeCoordinator::kFirstRangeEnd + PrimeCoordinator::kRangeSpan,
                                             PrimeCoordinator::kFirstRangeEnd);

}  // namespace

const char* StartResultText(StartResult result) {
    switch (result) {
        case StartResult::Started: return "started";
        case StartResult::TargetTooSmall: return "the number of primes must be at least 31";
        case StartResult::TargetTooLarge: return "the number of primes must be at most 200,000,000";
        case StartResult::TooManyThreads: return "the thread count must be at most 255";
        case StartResult::OutOfMemory: return "not enough memory for the primes table and the result buffers";
        case StartResult::ThreadFailed: return "a worker thread could not be started";
    }
    return "unknown";
}

PrimeCoordinator::PrimeCoordinator(INotifyTarget* notifyTarget_, WaitHook waitHook_)
    : notifyTarget(notifyTarget_), waitHook(std::move(waitHook_)) {}

PrimeCoordinator::~PrimeCoordinator() {
    running.store(false);
    StopWorkers(-1);
    DestroyFinders();
    delete[] primes;
}

StartResult PrimeCoordinator::Start(uint32_t targetCount_, uint16_t threadCount_) {
    if (targetCount_ < kMinTarget) return StartResult::TargetTooSmall;
    if (targetCount_ > kMaxTarget) return StartResult::TargetTooLarge;
    if (threadCount_ > kMaxThreads) return StartResult::TooManyThreads;

    // No finder may be destroyed while a thread of an earlier search runs.
    running.store(false);
    StopWorkers(-1);
    failure.store(nullptr);
    failureUnclaimed.store(false);

    // The finders hold nothing of the earlier results, the table does: build
    // everything else first, so that a refusal leaves the table as it was.
    DestroyFinders();
    threadCount = threadCount_;
    if (!CreateFinders()) {
        DestroyFinders();
        return StartResult::OutOfMemory;
    }
    // A table of this very size is used again: a stress or a sweep runs the
    // same task over and over without allocating. A table of another size is
    // replaced, so that a large one is not kept for a smaller task.
    const bool reuse = primes != nullptr && primesSlots == size_t(targetCount_) + 1;
    uint32_t* table = reuse ? primes : new (std::nothrow) uint32_t[size_t(targetCount_) + 1];
    if (table == nullptr && primes != nullptr) {
        // Two large tables need not fit a 32-bit address space where one
        // does: give up the earlier results and try once more.
        delete[] primes;
        primes = nullptr;
        primesSlots = 0;
        lastIndex = 0;
        targetCount = 0;
        table = new (std::nothrow) uint32_t[size_t(targetCount_) + 1];
    }
    if (table == nullptr) {
        DestroyFinders();
        return StartResult::OutOfMemory;
    }
    if (!reuse) {
        delete[] primes;
        primes = table;
        primesSlots = size_t(targetCount_) + 1;
    }
    targetCount = targetCount_;
    ResetPrimes();
    lastIndex = seedLastIndex;
    {
        std::lock_guard<std::mutex> guard(threadsLock);
        threadsClosed = false;
    }
    running.store(true);

    if (!finders.empty() && finders[0] != nullptr) {
        PrimeFinder* first = finders[0];
        first->SetRange(primes, kFirstRangeEnd, 2);  // buffer reserved: cannot fail
        nextStart = kFirstRangeEnd;
        first->done.store(false, std::memory_order_release);
        if (!StartThread(first)) {
            running.store(false);
            return StartResult::ThreadFailed;
        }
    }
    return StartResult::Started;
}

bool PrimeCoordinator::Stop() {
    const bool owned = running.exchange(false);
    StopWorkers(-1);
    // A search that failed on its own has ended too; the first Stop after it
    // claims that end, so the caller closes the run and reads Failure().
    const bool failed = failureUnclaimed.exchange(false);
    return owned || failed;
}

bool PrimeCoordinator::CreateFinders() {
    try {
        finders.reserve(threadCount);
    } catch (const std::bad_alloc&) {
        return false;
    }
    for (uint16_t i = 0; i < threadCount; ++i) {
        PrimeFinder* finder = new (std::nothrow) PrimeFinder(i, this);
        if (finder == nullptr) return false;
        finder->startHook = &workerStartHook;
        finder->threads = threadCount;
        finders.push_back(finder);  // capacity reserved: cannot throw
        if (!finder->ReserveResults(kMostSlots)) return false;
    }
    return true;
}

void PrimeCoordinator::SetWorkerStartHook(WorkerStartHook hook) { workerStartHook = std::move(hook); }

void PrimeCoordinator::DestroyFinders() {
    for (PrimeFinder* finder : finders) {
        finder->ReleaseResults();
        delete finder;
    }
    finders.clear();
}

bool PrimeCoordinator::ResetPrimes() {
    std::fill(primes, primes + targetCount, 0u);
    std::copy(SeedPrimes.begin(), SeedPrimes.end(), primes);
    return true;
}

bool PrimeCoordinator::StartThread(PrimeFinder* finder) {
    std::lock_guard<std::mutex> guard(threadsLock);
    if (threadsClosed || finder->thread.joinable()) return true;
    try {
        finder->thread = std::thread(&PrimeFinder::FinderThread, finder);
    } catch (...) {  // std::system_error, or std::bad_alloc for the thread's state
        return false;
    }
    return true;
}

void PrimeCoordinator::StopWorkers(int32_t exceptIndex) {
    if (exceptIndex >= 0) {
        // Called by the completing worker under the engine lock: ask, never wait.
        for (PrimeFinder* finder : finders) finder->stopRequested.store(true, std::memory_order_relaxed);
        return;
    }
    {
        // From here on no hand-out can start another thread, so the threads
        // seen below are all there will be.
        std::lock_guard<std::mutex> guard(threadsLock);
        threadsClosed = true;
        for (PrimeFinder* finder : finders) finder->stopRequested.store(true, std::memory_order_relaxed);
    }
    JoinAll();
}

void PrimeCoordinator::JoinAll() {
    for (PrimeFinder* finder : finders) {
        if (!finder->thread.joinable()) continue;
        if (waitHook) {
            // The thread may be blocked delivering a notification that only
            // this thread can serve: keep serving until it has returned.
            while (!finder->exited.load(std::memory_order_acquire)) {
                waitHook();
                std::this_thread::yield();
            }
        }
        finder->thread.join();
    }
}

void PrimeCoordinator::OnFinderDone(int32_t index) {
    if (!running.load()) return;
    std::unique_lock<std::mutex> lock(engineLock);
    const size_t n = finders.size();
    bool allDone = true;
    bool allMerged = true;
    for (size_t i = 0; i < n; ++i) {
        PrimeFinder* finder = finders[i];
        const bool finderDone = finder->done.load(std::memory_order_acquire);
        allDone = allDone && finderDone;
        if (running.load() && allDone && allMerged && !finder->merged) {
            if (finder->overflowed) {
                // Its results are incomplete: merging them would give a wrong table.
                Fail("a range held more primes than its result buffer");
                return;
            }
            MergeFinder(finder);
        }
        // A finder that is not done may be starting a range (and writing
        // merged); nothing after it can be merged in this pass anyway.
        allMerged = allMerged && finderDone && finder->merged;
        if (running.load() && lastIndex >= targetCount) {
            Complete(index);
            return;
        }
    }
    if (allDone && running.load()) DispatchBatch();
}

void PrimeCoordinator::MergeFinder(PrimeFinder* finder) {
    if (finder->count == 0) return;
    const uint32_t k = std::min(finder->count, targetCount - lastIndex);
    std::memcpy(primes + lastIndex + 1, finder->results, size_t(k) * sizeof(uint32_t));
    finder->merged = true;
    lastIndex += k;
    if (notifyTarget != nullptr) notifyTarget->Notify(WM_SEARCH_PROGRESS, lastIndex - 1, primes[lastIndex - 1]);
}

void PrimeCoordinator::Complete(int32_t index) {
    // Exactly one of Stop and the completing worker owns the end of a search.
    if (!running.exchange(false)) return;
    if (notifyTarget != nullptr) notifyTarget->Notify(WM_SEARCH_FINISHED, lastIndex - 1, primes[lastIndex - 1]);
    StopWorkers(index);  // asks every worker, this one included, to return
}

void PrimeCoordinator::Fail(const char* why) {
    // Runs on a worker, maybe short of memory: nothing here allocates.
    if (!running.exchange(false)) return;
    failure.store(why);
    failureUnclaimed.store(true);
    for (PrimeFinder* finder : finders) finder->stopRequested.store(true, std::memory_order_relaxed);
}

std::string PrimeCoordinator::Failure() const {
    const char* why = failure.load();
    return why == nullptr ? std::string() : std::string(why);
}

void PrimeCoordinator::DispatchBatch() {
    uint32_t s = nextStart;
    nextStart = s + uint32_t(threadCount) * kRangeSpan;
    const uint32_t span = kRangeSpan;
    for (uint16_t i = 0; i < threadCount; ++i) {
        if (i >= finders.size() || finders[i] == nullptr) continue;
        PrimeFinder* finder = finders[i];
        if (!finder->SetRange(primes, s + span, s)) {
            Fail("no memory for a result buffer");
            return;
        }
        finder->done.store(false, std::memory_order_release);
        if (!StartThread(finder)) {
            Fail("a worker thread could not be started");
            return;
        }
        s += span;
    }
}
