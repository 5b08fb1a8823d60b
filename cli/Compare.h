// compare BASE NEW: the runner's results of two invocations side by side,
// setting by setting, with a significance test and a regression gate.
#pragma once

#include <cstdint>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "cli/ReportFormat.h"
#include "cli/RunContext.h"

struct CompareOptions {
    std::string base;  // a JSON report of the runner, or db:FILE:ID, db:FILE:last, db:FILE:last~K
    std::string next;  // the same, for NEW
    std::optional<double> failOnSlowdownPercent;  // the gate: exit 1 past this slowdown
    double alpha = 0.05;
    ReportFormat format = ReportFormat::Table;
};

// Runs of fewer than this on either side give no p-value.
constexpr int kMinTestedRuns = 5;

// Without a test, a change counts when the ratio of the medians moves by more
// than this (unless the gate gives its own threshold): single timings on an
// idle machine differ by up to about 3 %.
constexpr double kUntestedChangePercent = 5.0;

// Exit codes of compare.
constexpr int kCompareOk = 0;
constexpr int kCompareSlower = 1;    // the gate found a slowdown
constexpr int kCompareBadInput = 2;  // a file or id that cannot be read; nothing compared

// The runs of one invocation, from a JSON report or from the store.
struct ResultSetting {
    std::string task;
    uint16_t threads = 0;
    std::vector<double> seconds;  // every finished run
    std::string status;           // "finished", or how the setting's last run ended
};

struct ResultSet {
    std::string source;  // as given: a file name or db:FILE:ID
    std::string id;      // the invocation's id in the store; empty for a file
    RunContext context;
    std::string label;
    std::vector<ResultSetting> settings;
};

// Reads a JSON report or a db: source; throws std::runtime_error with one line.
ResultSet LoadResultSet(const std::string& source);

// One setting of the comparison.
struct SettingComparison {
    std::string task;
    uint16_t threads = 0;
    size_t baseRuns = 0;
    size_t newRuns = 0;
    std::optional<double> baseMedian;
    std::optional<double> newMedian;
    std::optional<double> ratio;      // NEW / BASE of the medians
    std::optional<double> pValue;     // when both sides have kMinTestedRuns finished runs
    std::string verdict;              // "faster", "slower", "no significant change", or why there is none
    bool gateFailed = false;
};

// Every setting of either side, in task and thread order. thresholdPercent
// decides the settings that have no test.
std::vector<SettingComparison> CompareResults(const ResultSet& base, const ResultSet& next, double alpha,
                                              double thresholdPercent,
                                              std::optional<double> failOnSlowdownPercent);

// The whole command: prints the comparison in the format asked for on out,
// and on err one line for unreadable input or for each setting that trips the
// gate. Returns kCompareOk, kCompareSlower or kCompareBadInput.
int RunCompare(const CompareOptions& options, std::ostream& out, std::ostream& err);
