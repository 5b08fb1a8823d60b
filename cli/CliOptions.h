// The runner's command line: a run's options, or a subcommand with its own.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "results/Compare.h"
#include "results/History.h"
#include "runner/OptionTable.h"
#include "runner/RunOptions.h"

enum class CliAction { Run, History, Compare, Help, Version, UsageError };

struct ParseOutcome {
    CliAction action = CliAction::UsageError;
    RunnerOptions options;   // valid for Run
    HistoryOptions history;  // valid for History
    CompareOptions compare;  // valid for Compare
    std::string text;        // Help/Version: the text for stdout; UsageError: one line, no newline
    std::string usage;       // UsageError: the usage line of the command refused
};

// args excludes the program name; a first "history" or "compare" names a
// subcommand, whose own options follow. The usable processors decide the
// thread counts taken (1 to their number, and a sweep's); a stress takes any
// count from 1 to 255 instead. A help is laid out `helpWidth` wide.
ParseOutcome ParseCommandLine(const std::vector<std::string>& args, const ProcessorFacts& processors,
                              size_t helpWidth = 80);

// The runner's options in the order its help shows them, for these
// processors: a run's, the store's and the chart's, --help and --version.
// stress: --stress is among the arguments, so --threads takes a stress's counts.
std::vector<OptionDef> RunnerOptionDefs(const ProcessorFacts& processors, bool stress = false);

// The words of the runner's help before and after its options, and the
// examples at its end, which its manual page shows too.
std::string RunnerDescription();
std::string RunnerFooter();
std::vector<HelpExample> RunnerExamples();

// One line summing up the runner's syntax (a usage error's own is in ParseOutcome::usage).
std::string UsageLine();

std::string VersionText();
