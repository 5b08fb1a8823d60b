// The runner's command line: what to run and how to report it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "engine/TaskTable.h"

struct OptionSpec;

enum class ReportFormat { Table, Csv, Json };

struct RunnerOptions {
    int taskIndex = TaskTable::defaultIndex;  // "1M"
    std::vector<uint16_t> threadCounts;   // in run order: one count, or every offered count for a sweep
    bool sweep = false;
    int repeat = 1;                       // runs of each setting
    ReportFormat format = ReportFormat::Table;
    bool events = false;                  // notifications on stdout; the report moves to stderr
    std::string savePrimes;               // the last run's primes go to this file; empty: not saved
    std::string saveGrid;                 // the rows of the runs go to this file; empty: not saved
};

enum class CliAction { Run, Help, Version, UsageError };

struct ParseOutcome {
    CliAction action = CliAction::UsageError;
    RunnerOptions options;  // valid for Run
    std::string text;       // Help/Version: the text for stdout; UsageError: one line, no newline
};

constexpr int kMaxRepeat = 1000;

// args excludes the program name. processors decides which thread counts are
// offered, exactly as the Windows program's thread list does.
ParseOutcome ParseCommandLine(const std::vector<std::string>& args, uint32_t processors);

// The runner's options in the order its help shows them, for P logical
// processors: a second program builds its own table from the ones it shares.
std::vector<OptionSpec> RunnerOptionSpecs(uint32_t processors);

// The thread counts the thread list offers for P logical processors: 1, 2, 4, ...
std::vector<uint16_t> OfferedThreadCounts(uint32_t processors);

// One line summing up the syntax, for stderr after a usage error.
std::string UsageLine();

std::string VersionText();
