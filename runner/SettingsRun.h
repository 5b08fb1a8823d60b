// The runs of a sweep, of --repeat and of a single setting: every thread
// count in turn, each run `repeat` times, a row reported per setting as it
// ends, with speedup and efficiency against 1 thread in a sweep.
#pragma once

#include <atomic>
#include <vector>

#include "runner/Console.h"
#include "runner/RunContext.h"
#include "runner/RunOptions.h"
#include "runner/RunRecord.h"
#include "runner/SearchDriver.h"
#include "runner/Verdict.h"

// Runs the settings of `options` on `driver` and appends every run to
// `runs`, empty at first. The first run that does not finish ends them, with
// its own row; a stopped run's primes are checked when they are to be saved.
// A closed output stops them as a stop signal does. The report ends with the
// verdict, and `stop` says what stopped the runs, if anything did. Returns
// kExitOk, kExitFault (a wrong or failed run, named on err),
// kExitInterrupted (a stop signal came before the verdict was written) or
// kExitOutputClosed (the report or the events could not all be written).
int RunSettings(const RunnerOptions& options, const RunContext& context, SearchDriver& driver, const Console& console,
                const std::atomic<bool>& interrupt, std::vector<RunRecord>& runs, RunsStop& stop);
