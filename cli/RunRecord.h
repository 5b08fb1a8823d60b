// One run of the benchmark as the runner keeps it (the grid's four cells and
// the numbers behind them), the summary of a setting's repeated runs, and the
// check of a run against the known N-th prime, the known digest of the whole
// result and, slot by slot, a sieve.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

enum class RunStatus {
    Finished,  // completed and verified
    Stopped,   // interrupted by the user
    Wrong,     // completed with a result that fails verification
    Failed,    // the engine refused to start or failed on its own
};

const char* RunStatusName(RunStatus status);  // "finished", "stopped", "wrong", "failed"

// What is checked: a finished run always against the known N-th prime and
// the digest of its N primes; with Full, the primes a stopped run holds too,
// slot by slot against a sieve.
enum class VerifyMode { Digest, Full };

// The verdict of a finished run whose checks all hold.
constexpr const char* kVerifiedFinished = "verified: last prime + digest";

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
    std::string verdict;  // what was verified, or why not: kVerifiedFinished, "wrong: FAULT", ...
};

// A fresh record of a run of task `taskIndex` on `threads` threads, with the
// Task and Thread Count cells filled in.
RunRecord NewRunRecord(int taskIndex, uint16_t threads);

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
};

double MedianOf(std::vector<double> values);  // REQUIRES: values not empty

// The summary of a setting whose runs all finished: Time cell from the fastest
// run, min and median. REQUIRES: runs not empty, all of one setting.
SettingResult SummarizeSetting(const std::vector<RunRecord>& runs, int repeats);

// Speedup and efficiency against the 1-thread seconds of the same task.
void SetSpeedup(SettingResult& result, double oneThreadSeconds);

// Checks a completed search: the FINISHED notification (finishedIndex,
// finishedPrime) against N and the known N-th prime, and the primes table
// (lastIndex, slots 0 .. N - 1) for its count and against the known digest
// of the N primes. When the digest differs, the table is compared with a
// sieve to name the first wrong slot (seconds for the largest task).
// Returns an empty string when everything holds, else what is wrong.
std::string VerifyRun(uint32_t targetCount, uint32_t expectedPrime, uint64_t expectedDigest, uint32_t finishedIndex,
                      uint32_t finishedPrime, const uint32_t* primes, uint32_t lastIndex);

// Compares primes[0 .. count - 1] with the primes of a sieve, slot by slot,
// and returns the first slot that differs as "slot S: prime number S + 1 is
// EXPECTED, the table holds FOUND"; an empty string when all agree.
std::string FirstWrongSlot(const uint32_t* primes, uint32_t count);
