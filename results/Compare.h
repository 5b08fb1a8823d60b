// compare BASE NEW: the runner's results of two invocations side by side,
// setting by setting, with a significance test and a regression gate.
#pragma once

#include <atomic>
#include <cstdint>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "runner/ReportFormat.h"
#include "results/ResultSets.h"

struct CompareOptions {
    std::string baseSource;  // BASE: a JSON report of the runner, or db:FILE:ID, db:FILE:last, db:FILE:last~K
    std::string newSource;   // NEW, in the same forms
    std::optional<double> failOnSlowdownPercent;  // the gate: exit 1 past this slowdown
    double alpha = 0.05;
    ReportFormat format = ReportFormat::Table;
    ColorMode color = ColorMode::Auto;  // --color
    bool colours = false;  // the table's verdicts in colour (ColoursOn, decided by the front)
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
    SampleSummary baseMachine, newMachine;  // what the machine did during each side's runs
};

// Every setting of either side, in task and thread order. thresholdPercent
// decides the settings that have no test.
std::vector<SettingComparison> CompareResults(const ResultSet& base, const ResultSet& newer, double alpha,
                                              double thresholdPercent,
                                              std::optional<double> failOnSlowdownPercent);

// The whole command: prints the comparison in the format asked for on out,
// and on err one line for unreadable input or for each setting that trips the
// gate. Returns kCompareOk, kCompareSlower or kCompareBadInput.
// A stop signal (`interrupt` turning true) before the comparison is written
// ends it with kExitInterrupted and nothing on out.
int RunCompare(const CompareOptions& options, std::ostream& out, std::ostream& err,
               const std::atomic<bool>& interrupt = kNoInterrupt);
