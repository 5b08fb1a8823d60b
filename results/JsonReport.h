// Reading a JSON report of either program as compare needs it: the context
// block and each result's setting, finished runs, status and machine
// readings, nothing else.
// A report is read in one pass that keeps only those, refuses a file larger
// or nested deeper than any report these programs write, and so costs about
// eight bytes per run time, whatever the file holds.
#pragma once

#include <cstddef>
#include <cstdint>
#include <atomic>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <vector>

#include "runner/RunContext.h"
#include "runner/RunRecord.h"

// One result of a report: its setting, its finished runs' seconds and how it
// ended (a missing status is "finished", as in reports of the first version).
struct ReportResult {
    std::string task;
    uint16_t threads = 0;
    std::vector<double> seconds;
    RunStatus status = RunStatus::Finished;
    SampleSummary machine;  // what the machine did during its runs, where the report says
};

struct ReportContents {
    RunContext context;
    std::vector<ReportResult> results;  // in the order of the file
};

// A report of a sweep of every task with --repeat 1000 is a few MB, a fleet's
// of hundreds of ranks some tens.
constexpr uint64_t kMaxReportBytes = 64000000;

// Reports nest four levels deep (a result's run_seconds), a fleet's five.
constexpr size_t kMaxReportDepth = 32;

// What compare costs grows with these, within the size above: a fleet of
// 100 ranks that ran 20 settings 1000 times each holds 2,000 results and
// 2,000,000 run times.
constexpr size_t kMaxReportResults = 250000;
constexpr size_t kMaxReportRunTimes = 4000000;

// Why a file cannot be read as a report, without the file's name.
class ReportError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// A read given up because a stop signal came (`stop` turned true).
class ReadStopped : public std::exception {
public:
    const char* what() const noexcept override { return "stopped"; }
};

// Reads the report in `file`. Throws ReportError: no such file, a folder, a
// FIFO, device or socket (whose reading may wait for ever), a
// file too large or unreadable, not JSON, too deep, with too many results or
// run times, not a report of these programs (no "results" list, a result
// without task, threads or run_seconds).
// Throws ReadStopped once `stop`, when given, turns true.
ReportContents ReadJsonReport(const std::filesystem::path& file, const std::atomic<bool>* stop = nullptr);
