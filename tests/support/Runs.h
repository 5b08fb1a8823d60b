// Runs for the run core's tests: records as a search leaves them, a context, a stop.
#pragma once

#include <atomic>
#include <cstdint>
#include <optional>

#include "engine/TaskTable.h"
#include "runner/RunContext.h"
#include "runner/RunRecord.h"
#include "runner/SearchDriver.h"
#include "verify/Verification.h"

// Rows of the task table.
constexpr int k100K = 0, k1M = 2, k10M = 7;

// A run as the driver leaves it after its last notification.
inline RunRecord EndedRun(int taskIndex, uint16_t threads, uint32_t index, uint32_t prime, double seconds,
                          bool finished) {
    RunRecord run = NewRunRecord(taskIndex, threads);
    run.progressed = true;
    run.index = index;
    run.prime = prime;
    run.seconds = seconds;
    SetRunCells(run, finished);
    run.status = finished ? RunStatus::Finished : RunStatus::Stopped;
    return run;
}

// A run of the task that finished in `seconds` and was verified.
inline RunRecord FinishedRun(int taskIndex, uint16_t threads, double seconds) {
    RunRecord run = EndedRun(taskIndex, threads, TaskTable::taskSizes[taskIndex] - 1, TaskTable::lastPrimes[taskIndex],
                             seconds, true);
    run.verdict = kVerifiedFinished;
    return run;
}

// A run of 100K on one thread that ended as `status`, without cells.
inline RunRecord RunEndedAs(RunStatus status, std::optional<uint32_t> wrongSlot = std::nullopt, double seconds = 1.0) {
    RunRecord run = NewRunRecord(0, 1);
    run.status = status;
    run.wrongSlot = wrongSlot;
    run.seconds = seconds;
    run.stopped = status == RunStatus::Stopped;
    run.verdict = RunStatusName(status);
    return run;
}

// The context block of a machine that is not this one.
inline RunContext SomeContext() {
    RunContext context;
    context.version = "2.0";
    context.cpu = "Test CPU, \"quoted\"";
    context.logicalProcessors = 4;
    context.os = "TestOS";
    context.compiler = "GCC 12";
    context.buildType = "Release";
    context.flags = "-O3";
    context.bits = 32;
    context.date = "2026-01-02T03:04:05Z";
    return context;
}

// Asks for a stop as soon as the first progress arrives.
class InterruptOnProgress final : public RunListener {
public:
    explicit InterruptOnProgress(std::atomic<bool>& flag_) : flag(flag_) {}
    void Notified(const RunRecord&, const Notification& notification) override {
        if (notification.message == WM_SEARCH_PROGRESS) flag.store(true);
    }

private:
    std::atomic<bool>& flag;
};
