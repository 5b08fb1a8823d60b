// The results compare reads: the runs of one invocation, from a JSON report
// of either program or from the store, pooled by setting.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "runner/RunContext.h"
#include "runner/RunRecord.h"

// The runs of one setting of an invocation.
struct ResultSetting {
    std::string task;
    uint16_t threads = 0;
    std::vector<double> seconds;  // every finished run
    RunStatus status = RunStatus::Finished;  // Finished, or how the setting's last unfinished run ended
    SampleSummary machine = {};  // what the machine did during its runs (CombineSummaries)
};

struct ResultSet {
    std::string source;  // as given: a file name or db:FILE:ID
    std::string id;      // the invocation's id in the store; empty for a file
    RunContext context;
    std::string label;
    std::vector<ResultSetting> settings;  // in the order they first ran
};

// The stop of history and compare where no stop signal is wired (tests, benchmarks).
inline const std::atomic<bool> kNoInterrupt{false};

// Reads a JSON report or a db: source; throws std::runtime_error with one
// line, or ReadStopped (results/JsonReport.h) once `stop`, when given, turns
// true during a report's read.
ResultSet LoadResultSet(const std::string& source, const std::atomic<bool>* stop = nullptr);
