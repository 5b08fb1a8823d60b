// The runner's command line: what to run and how to report it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "cli/Compare.h"
#include "cli/History.h"
#include "cli/ReportFormat.h"
#include "cli/RunRecord.h"
#include "engine/TaskTable.h"

struct OptionDef;

struct RunnerOptions {
    int taskIndex = TaskTable::defaultIndex;  // "1M"
    std::vector<uint16_t> threadCounts;   // in run order: one count, or every offered count for a sweep
    bool sweep = false;
    int repeat = 1;                       // runs of each setting
    ReportFormat format = ReportFormat::Table;
    bool events = false;                  // notifications on stdout; the report moves to stderr
    std::string savePrimes;               // the last run's primes go to this file; empty: not saved
    std::string saveGrid;                 // the rows of the runs go to this file; empty: not saved
    VerifyMode verify = VerifyMode::Digest;
    int64_t stressSeconds = 0;            // --stress: run the one setting again and again this long; 0: no stress
    bool keepGoing = false;               // a stress counts wrong and failed runs instead of ending at the first
    std::string db;                       // --db: the result store; empty: VANTREL_DB, else nothing is stored
    std::string label;                    // kept with the stored invocation
    std::string plot;                     // a sweep's chart goes to this SVG file; empty: not drawn
    std::string commandLine;              // as the store keeps it
};

enum class CliAction { Run, History, Compare, Help, Version, UsageError };

struct ParseOutcome {
    CliAction action = CliAction::UsageError;
    RunnerOptions options;   // valid for Run
    HistoryOptions history;  // valid for History
    CompareOptions compare;  // valid for Compare
    std::string text;        // Help/Version: the text for stdout; UsageError: one line, no newline
    std::string usage;       // UsageError: the usage line of the command refused
};

constexpr int kMaxRepeat = 1000;
constexpr int64_t kMaxStressSeconds = 7 * 24 * 3600;
constexpr int kStressTask = 7;  // "10M", the task a stress runs unless told

// The thread count of "--threads all" in a stress: every logical processor,
// as many as the engine takes.
uint16_t EveryProcessor(uint32_t processors);

// args excludes the program name; a first "history" or "compare" names a
// subcommand, whose own options follow. processors decides which thread
// counts are offered, exactly as the Windows program's thread list does; a
// stress takes any count from 1 to 255 instead.
ParseOutcome ParseCommandLine(const std::vector<std::string>& args, uint32_t processors);

// The runner's options in the order its help shows them, for P logical
// processors: a second program builds its own table from the ones it shares.
// stress: --stress is among the arguments, so --threads takes a stress's counts.
std::vector<OptionDef> RunnerOptionDefs(uint32_t processors, bool stress = false);

// The thread counts the thread list offers for P logical processors: 1, 2, 4, ...
std::vector<uint16_t> OfferedThreadCounts(uint32_t processors);

// One line summing up the runner's syntax (a usage error's own is in ParseOutcome::usage).
std::string UsageLine();

std::string VersionText();
