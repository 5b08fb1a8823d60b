// One invocation of the runner: the settings to run, their runs, the report
// and the exit code.
#pragma once

#include <atomic>
#include <ostream>
#include <string>
#include <vector>

#include "cli/CliOptions.h"
#include "cli/RunContext.h"
#include "cli/RunRecord.h"
#include "cli/SearchDriver.h"

constexpr int kExitOk = 0;
constexpr int kExitFault = 1;         // a wrong result, a failed or refused run, a failed save, store or chart
constexpr int kExitUsage = 2;         // bad command line; nothing was run
constexpr int kExitInterrupted = 130; // Ctrl-C
constexpr int kExitTerminated = 143;  // SIGTERM, handled as Ctrl-C

class BenchmarkSession {
public:
    // out takes the report (or, with events, only the notifications, the
    // report then going to err); err takes messages and, when liveProgress
    // is set, a progress line rewritten in place.
    BenchmarkSession(const RunnerOptions& options, std::ostream& out, std::ostream& err, bool liveProgress,
                     const std::atomic<bool>& interrupt);

    // Runs every setting in turn, or the stress, saves what --save-primes
    // and --save-grid ask for, stores the invocation, draws the sweep's
    // chart, and returns the exit code.
    int Run();

    // Every run of this invocation in order, each as the grid's four cells
    // (in a stress, only with --save-grid or a store).
    const std::vector<RunRecord>& Runs() const { return runs; }

    // The engine, holding the primes of the last run.
    const PrimeCoordinator& Coordinator() const { return driver.Coordinator(); }

    // For tests: see SearchDriver::SetResultHook.
    void SetResultHook(SearchDriver::ResultHook hook) { driver.SetResultHook(std::move(hook)); }

private:
    int RunSettings();
    // Runs the one setting again and again until the time is up, each run
    // verified; stops at the first error unless told to keep going.
    int RunStress();
    // False when a file to save to cannot be written (reported on err).
    bool CheckSaveTargets();
    // Saves after the runs ended with `code`; false when a save failed.
    bool SaveResults(int code);
    // Appends the invocation to the store, if there is one; false when that failed.
    bool StoreResults();
    // Draws the sweep's chart when asked for and every run finished; false
    // when that failed.
    bool DrawChart(int code);

    RunnerOptions options;
    std::ostream& out;
    std::ostream& err;
    bool liveProgress;
    const std::atomic<bool>& interrupt;
    SearchDriver driver;
    RunContext context;     // of the report, the store and the chart alike
    std::string storePath;  // --db, else VANTREL_DB; empty: nothing is stored
    std::vector<RunRecord> runs;
};

// The whole program but for the process set-up: parses args (without the
// program name), runs, reports and returns the exit code.
int RunCli(const std::vector<std::string>& args, std::ostream& out, std::ostream& err, bool liveProgress,
           const std::atomic<bool>& interrupt);
