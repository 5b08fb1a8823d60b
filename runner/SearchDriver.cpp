#include "runner/SearchDriver.h"

#include <optional>
#include <thread>

#include "engine/TaskTable.h"

namespace {

// How long the main thread sleeps between looks at the interrupt flag; the
// engine's notifications wake it at once.
constexpr std::chrono::milliseconds kPollInterval{20};

}  // namespace

void PrintEvent(std::ostream* events, const Notification& notification) {
    if (events == nullptr) return;
    *events << (notification.message == WM_SEARCH_FINISHED ? "finished " : "progress ") << notification.index << ' '
            << notification.prime << '\n';
    events->flush();
}

// Notify never waits for this thread, so the engine needs no wait hook.
SearchDriver::SearchDriver(const std::atomic<bool>& interrupt_) : interrupt(interrupt_), coordinator(this) {}

void SearchDriver::Notify(uint32_t message, uint32_t wParam, uint32_t lParam) {
    if (message != WM_SEARCH_PROGRESS && message != WM_SEARCH_FINISHED) return;
    Notification notification;
    notification.message = message;
    notification.index = wParam;
    notification.prime = lParam;
    // The finishing time is taken here, on the worker, so that the main
    // thread's polling never adds to a measured time.
    notification.at = std::chrono::steady_clock::now();
    {
        std::lock_guard<std::mutex> guard(lock);
        pending.push_back(notification);
        if (message == WM_SEARCH_FINISHED) {
            finished = true;
            finishedNotification = notification;
        }
    }
    arrived.notify_one();
    if (notifyHook) notifyHook(notification);
}

void SearchDriver::Deliver(std::vector<Notification>& batch, RunRecord& record,
                           std::chrono::steady_clock::time_point start, RunListener* listener) {
    for (const Notification& notification : batch) {
        record.progressed = true;
        record.index = notification.index;
        record.prime = notification.prime;
        // The first range may be merged before Start has returned and the
        // clock was read; such a notification counts as time zero.
        const double seconds = std::chrono::duration<double>(notification.at - start).count();
        record.seconds = seconds > 0.0 ? seconds : 0.0;
        if (listener != nullptr) listener->Notified(record, notification);
    }
    batch.clear();
}

RunRecord SearchDriver::Run(int taskIndex, uint16_t threads, RunListener* listener, VerifyMode verify) {
    RunRecord record = NewRunRecord(taskIndex, threads);
    stopRequested = false;
    if (sampler != nullptr) sampler->Begin();
    const std::optional<std::chrono::steady_clock::time_point> start = Start(record);
    if (!start) {
        if (sampler != nullptr) sampler->End();
        return record;
    }
    Follow(record, *start, listener);
    EndSearch();
    const std::optional<Notification> finish = Collect(record, *start, listener);
    // The machine as it was while the workers ran, before the checks below.
    if (sampler != nullptr) record.machine = sampler->End();
    Notification last = finish.value_or(Notification{});
    if (resultHook) resultHook(coordinator.primes, coordinator.lastIndex, last);
    if (finish) {
        Finished(record, last, *start);
    } else {
        Unfinished(record, verify);
    }
    return record;
}

// The engine gives the end of a search to whichever of Stop and the
// completing worker clears running first. Stop clears it before the workers
// have ended, so it could win over a worker that had merged the last slot and
// was about to finish: a complete table, reported as stopped at 100%. So the
// workers are stopped and joined first, running still set; a worker that is
// merging then completes the search and owns its end, and Stop only ends a
// search that no worker completed. After it every notification of the run is
// in.
void SearchDriver::EndSearch() {
    coordinator.StopWorkers(-1);
    coordinator.Stop();
}

std::optional<std::chrono::steady_clock::time_point> SearchDriver::Start(RunRecord& record) {
    {
        std::lock_guard<std::mutex> guard(lock);
        pending.clear();
        pending.reserve(8192);
        finished = false;
    }
    const StartResult started = coordinator.Start(record.targetCount, record.threads);
    // Like the Windows program, the clock starts once the engine has set up
    // the table and started its first worker.
    const auto start = std::chrono::steady_clock::now();
    if (started == StartResult::Started) return start;
    record.status = RunStatus::Failed;
    record.fault = std::string("the engine refused to start: ") + StartResultText(started);
    record.verdict = "failed: " + record.fault;
    return std::nullopt;
}

void SearchDriver::Follow(RunRecord& record, std::chrono::steady_clock::time_point start, RunListener* listener) {
    std::vector<Notification> batch;
    for (;;) {
        bool done = false;
        {
            std::unique_lock<std::mutex> guard(lock);
            arrived.wait_for(guard, kPollInterval, [this] { return !pending.empty() || finished; });
            batch.swap(pending);
            done = finished;
        }
        Deliver(batch, record, start, listener);
        // running also turns false when the engine fails, and just before a
        // completing worker sends FINISHED; Stop settles which it was.
        if (done || Stopping() || !coordinator.running.load()) return;
    }
}

std::optional<Notification> SearchDriver::Collect(RunRecord& record, std::chrono::steady_clock::time_point start,
                                                  RunListener* listener) {
    std::vector<Notification> batch;
    bool done = false;
    Notification last;
    {
        std::lock_guard<std::mutex> guard(lock);
        batch.swap(pending);
        done = finished;
        last = finishedNotification;
    }
    Deliver(batch, record, start, listener);
    return done ? std::optional<Notification>(last) : std::nullopt;
}

void SearchDriver::Finished(RunRecord& record, Notification last, std::chrono::steady_clock::time_point start) {
    record.index = last.index;
    record.prime = last.prime;
    const double seconds = std::chrono::duration<double>(last.at - start).count();
    record.seconds = seconds > 0.0 ? seconds : 0.0;
    SetRunCells(record, true);
    const RunCheck check = VerifyRun(record.targetCount, TaskTable::lastPrimes[record.taskIndex],
                                     TaskTable::resultDigests[record.taskIndex], last.index, last.prime,
                                     coordinator.primes, coordinator.lastIndex);
    record.fault = check.fault;
    record.wrongSlot = check.wrongSlot;
    record.status = record.fault.empty() ? RunStatus::Finished : RunStatus::Wrong;
    record.verdict = record.fault.empty() ? kVerifiedFinished : "wrong: " + record.fault;
}

void SearchDriver::Unfinished(RunRecord& record, VerifyMode verify) {
    SetRunCells(record, false);
    const std::string failure = coordinator.Failure();
    if (!failure.empty()) {
        record.status = RunStatus::Failed;
        record.fault = "the engine failed: " + failure;
    } else if (Stopping()) {
        record.stopped = true;
        record.status = RunStatus::Stopped;
        record.verdict = "not verified: stopped";
        if (verify == VerifyMode::Full) {
            // The slots the run filled: lastIndex of them, at least the seeds.
            const RunCheck check = FirstWrongSlot(coordinator.primes, coordinator.lastIndex);
            record.fault = check.fault;
            record.wrongSlot = check.wrongSlot;
            if (!record.fault.empty()) {
                record.status = RunStatus::Wrong;
                record.verdict = "wrong: " + record.fault;
            } else {
                record.checkedPrimes = coordinator.lastIndex;
                record.verdict = "verified: the first " + std::to_string(coordinator.lastIndex) + " primes, against a sieve";
            }
        }
        return;
    } else {
        record.status = RunStatus::Failed;
        record.fault = "the search ended without finishing";
    }
    record.verdict = "failed: " + record.fault;
}
