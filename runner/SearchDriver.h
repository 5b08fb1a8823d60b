// Runs one search on the engine from the runner's main thread: starts it,
// hands its notifications to a listener as they arrive, stops it when it has
// finished or the user interrupts, and verifies the result.
//
// Threads: the engine calls Notify on its worker threads, some of the time
// under its lock; Notify only records the notification and wakes the main
// thread, which does all printing. The main thread never holds this object's
// lock while it calls into the engine, so a worker never waits for it.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <ostream>
#include <optional>
#include <vector>

#include "engine/PrimeCoordinator.h"
#include "machine/MachineSampler.h"
#include "runner/RunRecord.h"
#include "verify/Verification.h"

struct Notification {
    uint32_t message = 0;  // WM_SEARCH_PROGRESS or WM_SEARCH_FINISHED
    uint32_t index = 0;    // wParam: lastIndex - 1
    uint32_t prime = 0;    // lParam: the prime in that slot
    std::chrono::steady_clock::time_point at;
};

// "progress INDEX PRIME" or "finished INDEX PRIME", one a line, on `events`
// when it is given.
void PrintEvent(std::ostream* events, const Notification& notification);

class RunListener {
public:
    virtual ~RunListener() = default;
    // Called on the main thread, in the order the engine sent them; `run`
    // already holds the notification's index, prime and seconds.
    virtual void Notified(const RunRecord& run, const Notification& notification) = 0;
};

class SearchDriver final : private INotifyTarget {
public:
    // interrupt is polled while a run goes on; once set, the run is stopped.
    explicit SearchDriver(const std::atomic<bool>& interrupt);
    SearchDriver(const SearchDriver&) = delete;
    SearchDriver& operator=(const SearchDriver&) = delete;
    ~SearchDriver() override = default;

    // Runs task `taskIndex` on `threads` threads to its end and returns its
    // record: Finished (verified), Wrong, Stopped or Failed, with its
    // verdict. A stopped run is checked only with VerifyMode::Full, and is
    // Wrong when a slot it holds is. No worker thread is alive when it
    // returns. listener may be null.
    RunRecord Run(int taskIndex, uint16_t threads, RunListener* listener, VerifyMode verify = VerifyMode::Digest);

    // Stops the run under way as the interrupt would, from the main thread
    // (a listener that finds its output closed); the next Run clears it.
    void RequestStop() { stopRequested = true; }

    // The engine, holding the primes of the last run (for saving them).
    const PrimeCoordinator& Coordinator() const { return coordinator; }

    // What each worker thread runs as it starts: where it is placed.
    void SetWorkerStartHook(WorkerStartHook hook) { coordinator.SetWorkerStartHook(std::move(hook)); }

    // What samples the machine during each run, into the run's record; null: nothing.
    void SetSampler(MachineSampler* sampler_) { sampler = sampler_; }

    // For tests: sees a run's table (lastIndex slots) and its FINISHED
    // notification (an empty one for a run that did not finish) before they
    // are verified, and may change them, as an engine with a fault would
    // have left them. Unset in the program.
    using ResultHook = std::function<void(uint32_t* primes, uint32_t lastIndex, Notification& finished)>;
    void SetResultHook(ResultHook hook) { resultHook = std::move(hook); }

    // For tests: sees every notification on the worker that sends it, once
    // it is recorded, and may hold that worker there (under the engine's
    // lock) to order it against the main thread. Unset in the program.
    using NotifyHook = std::function<void(const Notification& notification)>;
    void SetNotifyHook(NotifyHook hook) { notifyHook = std::move(hook); }

private:
    void Notify(uint32_t message, uint32_t wParam, uint32_t lParam) override;
    // The steps of Run: starts the engine (the clock's start, or nothing when
    // it refused); follows the notifications until the run ends or is to
    // be stopped; ends the search; delivers the rest and gives FINISHED if it
    // came; then judges a finished run against the known results, or an
    // unfinished one as stopped or failed.
    std::optional<std::chrono::steady_clock::time_point> Start(RunRecord& record);
    void Follow(RunRecord& record, std::chrono::steady_clock::time_point start, RunListener* listener);
    void EndSearch();
    std::optional<Notification> Collect(RunRecord& record, std::chrono::steady_clock::time_point start,
                                        RunListener* listener);
    void Finished(RunRecord& record, Notification last, std::chrono::steady_clock::time_point start);
    void Unfinished(RunRecord& record, VerifyMode verify);
    void Deliver(std::vector<Notification>& batch, RunRecord& record, std::chrono::steady_clock::time_point start,
                 RunListener* listener);

    // The interrupt, or a stop asked for on the main thread.
    bool Stopping() const { return stopRequested || interrupt.load(); }

    const std::atomic<bool>& interrupt;
    bool stopRequested = false;  // main thread only
    MachineSampler* sampler = nullptr;
    ResultHook resultHook;
    NotifyHook notifyHook;
    std::mutex lock;
    std::condition_variable arrived;
    std::vector<Notification> pending;  // under lock
    bool finished = false;              // under lock: WM_SEARCH_FINISHED arrived
    Notification finishedNotification;  // under lock
    PrimeCoordinator coordinator;       // last: its destructor joins workers that may still notify
};
