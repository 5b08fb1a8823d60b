// The results compare reads: the runs of one invocation, from a JSON report
// of either program or from the store, pooled by setting.
#pragma once

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

// Reads a JSON report or a db: source; throws std::runtime_error with one line.
ResultSet LoadResultSet(const std::string& source);
