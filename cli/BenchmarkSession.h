// One invocation of the runner: the settings or the stress to run, then what
// is kept of them (the saved files, the store, the chart), and the exit code.
#pragma once

#include <atomic>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "runner/Console.h"
#include "runner/RunContext.h"
#include "runner/RunOptions.h"
#include "runner/RunRecord.h"
#include "runner/SearchDriver.h"
#include "runner/Verdict.h"

class BenchmarkSession {
public:
    // out takes the report (or, with events, only the notifications, the
    // report then going to err); err takes messages and, when it is a
    // terminal, a progress line rewritten in place. A table report has
    // colours as --color and the terminals say.
    BenchmarkSession(const RunnerOptions& options, std::ostream& out, std::ostream& err, const Terminals& terminals,
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

    // The processors the runs may use, as the context block states them; read
    // from the system when the session is given none.
    void SetProcessors(const ProcessorFacts& facts) { processors = facts; }

    // Where the worker threads of every run start (see WorkerStartHook).
    void SetWorkerStartHook(WorkerStartHook hook) { driver.SetWorkerStartHook(std::move(hook)); }

    // For tests: see SearchDriver::SetResultHook and SetNotifyHook.
    void SetResultHook(SearchDriver::ResultHook hook) { driver.SetResultHook(std::move(hook)); }
    void SetNotifyHook(SearchDriver::NotifyHook hook) { driver.SetNotifyHook(std::move(hook)); }

private:
    // Appends the invocation to the store, if there is one; false when that failed.
    bool Store();
    // Draws the sweep's chart when asked for and every run finished; false
    // when that failed.
    bool Chart(int code);
    void Report(const std::string& line);

    RunnerOptions options;
    Console console;
    const std::atomic<bool>& interrupt;
    SearchDriver driver;
    std::optional<ProcessorFacts> processors;
    RunContext context;     // of the report, the store and the chart alike
    std::string storePath;  // --db, else VANTREL_DB; empty: nothing is stored
    std::vector<RunRecord> runs;
    RunsStop stop;  // what stopped the runs, if anything did
};
