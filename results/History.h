// history: the invocations kept in the result store, newest first, one line
// per (invocation, task, threads), and a chart of their median times.
#pragma once

#include <atomic>
#include <cstdint>
#include <optional>
#include <ostream>
#include <string>

#include "results/ResultSets.h"
#include "runner/ReportFormat.h"

struct HistoryOptions {
    std::string db;                   // the store: --db FILE, else VANTREL_DB (see StorePathFrom)
    std::string task;                 // --task LABEL; empty: every task
    std::optional<uint16_t> threads;  // --threads T; none: every thread count
    int last = 0;                     // --last N: the latest N invocations that match; 0: all
    ReportFormat format = ReportFormat::Table;
    std::string plot;                 // --plot FILE.svg: median time over the invocations, one task
    std::string gnuplot = "gnuplot";  // the program that draws the chart
    ColorMode color = ColorMode::Auto;  // --color
    bool colours = false;             // the table's verdicts in colour (ColoursOn, decided by the front)
};

// Exit codes of history.
constexpr int kHistoryOk = 0;
constexpr int kHistoryChartFailed = 1;  // the lines were printed, the chart not drawn
constexpr int kHistoryBadInput = 2;     // no store, a store that cannot be read, a chart of several tasks

// Prints the history on out in the format asked for and draws the chart;
// one line on err for each failure.
// A stop signal (`interrupt` turning true) before the lines are written ends
// it with kExitInterrupted, nothing on out and no chart drawn.
int RunHistory(const HistoryOptions& options, std::ostream& out, std::ostream& err,
               const std::atomic<bool>& interrupt = kNoInterrupt);
