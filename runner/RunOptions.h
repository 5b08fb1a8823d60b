// The options of a run of the benchmark, shared by the runner and the fleet:
// what to run, how to report it and what to keep of it; and the entries of
// the option tables that set them, with the words every help text and every
// message about them uses.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "engine/TaskTable.h"
#include "machine/ProcessorFacts.h"
#include "runner/OptionTable.h"
#include "runner/ReportFormat.h"
#include "verify/Verification.h"

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
    bool eachCore = false;                // a stress runs one worker on each usable core in turn
    BindMode bind = BindMode::None;       // --bind: where the worker threads run
    std::string db;                       // --db: the result store; empty: VANTREL_DB, else nothing is stored
    std::string label;                    // kept with the stored invocation
    std::string plot;                     // a sweep's chart goes to this SVG file; empty: not drawn
    std::string commandLine;              // as the store keeps it
};

constexpr int kMaxRepeat = 1000;
constexpr int64_t kMaxStressSeconds = 7 * 24 * 3600;
constexpr int kStressTask = 7;  // "10M", the task a stress runs unless told

// The thread count of "--threads all" in a stress: every usable logical
// processor, as many as the engine takes.
uint16_t EveryProcessor(uint32_t processors);

// The thread counts the thread list offers for P usable logical processors: 1, 2, 4, ...
std::vector<uint16_t> OfferedThreadCounts(uint32_t processors);

// "1 2 4 8", as the help and the messages list thread counts.
std::string ThreadCountsText(const std::vector<uint16_t>& counts);

// The table entries of a run's options for a process with these processors
// (the counts offered follow the usable ones), in the order the help shows
// them: --task, --threads, --sweep, --repeat, --format, --events,
// --save-primes, --save-grid, --verify, --stress, --keep-going, --each-core
// and --bind.
// stress: --stress is among the arguments, so --threads takes a stress's
// counts.
std::vector<OptionDef> RunOptionDefs(const ProcessorFacts& processors, bool stress = false);
