// vantrel-mpi's command line: the runner's options where the two programs
// share them (taken from the runner's own table, so their words are the
// same), and the fleet's own.
#pragma once

#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

#include "engine/PrimeFinder.h"
#include "engine/TaskTable.h"
#include "machine/ProcessorFacts.h"
#include "runner/OptionTable.h"
#include "runner/ReportFormat.h"
#include "verify/Verification.h"

// --threads all: each rank runs as many threads as it may use logical processors.
constexpr uint16_t kAllThreads = 0;

struct FleetOptions {
    int taskIndex = TaskTable::defaultIndex;  // "1M"
    uint16_t threads = 1;                     // without --sweep: the count every rank runs, or kAllThreads
    bool sweep = false;                       // every rank runs every count its machine offers
    bool eachCore = false;                    // every rank runs one worker on each of its cores in turn
    int repeat = 1;
    ReportFormat format = ReportFormat::Table;
    double outlierPercent = 10.0;  // slower than the fleet median by more than this: an outlier
    bool failOnOutlier = false;
    VerifyMode verify = VerifyMode::Digest;
    BindMode bind = BindMode::None;  // where each rank's worker threads run
    std::string db;     // the result store to keep the invocation in; empty: VANTREL_DB, else none
    std::string label;  // stored with the invocation
    bool labelGiven = false;
    int64_t deadlineSeconds = 3600;  // how long a rank waits for the others at one step before it gives up
};

struct FleetParseOutcome {
    OptionTable::Ending action = OptionTable::Ending::UsageError;
    FleetOptions options;  // valid when Parsed
    std::string text;      // Help/Version: the text for stdout; UsageError: one line, no newline
};

constexpr double kMaxOutlierPercent = 1000.0;

// args excludes the program name; processors are this rank's. Every rank
// reaches the same action for the same args whatever its processors: a
// thread count beyond this rank's usable processors is accepted here and
// refused by the rank at its run (RefusedThreads).
FleetParseOutcome ParseFleetCommandLine(const std::vector<std::string>& args, const ProcessorFacts& processors);

// Why a rank with these processors cannot run `threads` threads, in the
// runner's words; empty when it may (one thread per usable processor at most).
std::string RefusedThreads(uint16_t threads, const ProcessorFacts& processors);

// Where this rank's workers start, as --bind asks in `mode`; a rank that
// cannot place them says so on `err`, one line naming the rank, runs them
// unplaced, and sets `mode` to none, so that its context states that.
WorkerStartHook RankPlacement(BindMode& mode, const ProcessorFacts& processors, int rank, std::ostream& err);

// The fleet's options in the order its help shows them; processors are this
// rank's.
OptionTable FleetOptionTable(const ProcessorFacts& processors);

// The words of the help before and after the options, which the manual page
// shows too.
std::string FleetDescription();
std::string FleetFooter();

// One line summing up the syntax, for stderr after a usage error.
std::string FleetUsageLine();

// Every option of a parsed command line in one canonical form, "--task 1M",
// "--repeat 3", ...: two command lines that ask for the same have the same
// pieces, whatever their order, spelling or defaults.
std::vector<std::string> CanonicalOptions(const FleetOptions& options);

// One line naming the ranks whose options differ from rank 0's, and how;
// empty when every rank's are the same. byRank: each rank's CanonicalOptions.
std::string OptionsMismatch(const std::vector<std::vector<std::string>>& byRank);
