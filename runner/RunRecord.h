// One run of the benchmark as the runner keeps it (the grid's four cells and
// the numbers behind them), and the summary of a setting's repeated runs.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "machine/SampleSummary.h"

enum class RunStatus {
    Finished,  // completed and verified
    Stopped,   // interrupted by the user
    Wrong,     // completed with a result that fails verification
    Failed,    // the engine refused to start or failed on its own
};

// The status as reports and the store write it: "finished", "stopped",
// "wrong", "failed"; and back, nothing for any other text.
const char* RunStatusName(RunStatus status);
std::optional<RunStatus> RunStatusNamed(const std::string& name);

// The status as tables show it: "verified", "stopped", "WRONG RESULT", "FAILED".
const char* StatusLabel(RunStatus status);

// One run: one row of the Windows program's grid. The four cell texts are
// kept exactly as the grid would show them, so that an exported grid of a
// runner session reads like one of the Windows program.
struct RunRecord {
    int taskIndex = 0;
    uint32_t targetCount = 0;
    uint16_t threads = 0;

    std::string task;        // "Task": the label, "1M"
    std::string threadText;  // "Thread Count": "1 core", "4 cores"
    std::string primeText;   // "Last Prime": "%lu", or "%lu (%2.2f%%)" for a stopped run; empty before any progress
    std::string timeText;    // "Time": "%5.2f sec"; empty before any progress

    bool progressed = false;  // at least one notification arrived
    uint32_t index = 0;       // wParam of the last notification: lastIndex - 1
    uint32_t prime = 0;       // lParam of the last notification
    double seconds = 0.0;     // since the start, at the last notification

    RunStatus status = RunStatus::Failed;
    std::string fault;    // Wrong or Failed: why, one line
    std::optional<uint32_t> wrongSlot;  // Wrong: the first slot of its table that differs from the sieve, if one does
    bool stopped = false;               // stopped before it finished: Stopped, or Wrong for the primes it had found
    uint32_t checkedPrimes = 0;         // stopped: the primes it had found, checked against the sieve; 0: not checked
    std::string verdict;  // what was verified, or why not: kVerifiedFinished, "wrong: FAULT", ...

    SampleSummary machine;  // what the machine did while it ran; empty where not sampled
    std::optional<uint32_t> processor;  // the processor its one worker was placed on (each core in turn); none: not placed
};

// A fresh record of a run of task `taskIndex` on `threads` threads, with the
// Task and Thread Count cells filled in.
RunRecord NewRunRecord(int taskIndex, uint16_t threads);

// The message for a run that did not verify, "WRONG RESULT for task 1M on
// 2 cores: ..." or "the run of ... failed: ..."; `number` (> 0) names it among many.
std::string FaultLine(const RunRecord& run, uint64_t number);

// Fills the Last Prime and Time cells from the last notification, in the
// grid's forms: "%lu" once finished, "%lu (%2.2f%%)" of index * 100 / N before.
void SetRunCells(RunRecord& record, bool finished);

// The row a setting (task and thread count, run `repeats` times) reports.
struct SettingResult {
    RunRecord row;                  // the cells shown; for finished settings Time is the fastest run
    std::vector<double> runSeconds; // every finished run, in order
    int repeats = 1;                // runs asked for
    double minSeconds = 0.0;
    double medianSeconds = 0.0;
    std::optional<double> speedup;     // against 1 thread of the same task, in a sweep
    std::optional<double> efficiency;  // speedup / threads
    bool beyondCores = false;          // more threads than usable physical cores: some share a core (SMT)
    SampleSummary machine;             // what the machine did over its runs (CombineSummaries)
};

// The summary of a setting whose runs all finished: Time cell from the fastest
// run, min and median, and the machine over the runs. REQUIRES: runs not empty, all of one setting.
SettingResult SummarizeSetting(const std::vector<RunRecord>& runs, int repeats);

// The seconds a row reports: the fastest finished run, else the time at the
// last progress of an unfinished run; none before any progress.
std::optional<double> RowSeconds(const SettingResult& result);

// The median a row reports: of its finished runs, none when it was stopped.
std::optional<double> RowMedianSeconds(const SettingResult& result);

// Speedup and efficiency against the 1-thread seconds of the same task.
void SetSpeedup(SettingResult& result, double oneThreadSeconds);
