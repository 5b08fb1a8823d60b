// A stress (--stress): one setting run again and again until the time is up,
// each run verified, with a live line while it goes on and the summary at
// the end. The run under way at the deadline is finished, not cut short.
#pragma once

#include <atomic>
#include <vector>

#include "runner/Console.h"
#include "runner/EachCore.h"
#include "runner/RunContext.h"
#include "runner/RunOptions.h"
#include "runner/RunRecord.h"
#include "runner/SearchDriver.h"
#include "runner/Verdict.h"

// Runs the stress of `options` on `driver`, and appends every run to `runs`
// when `keepRuns` (for the grid file and the store). Stops at the first
// wrong or failed run unless options.keepGoing, and at a start the engine
// refused; a closed output stops it as a stop signal does. The summary ends
// with the verdict, and `stop` says what stopped the runs, if anything did.
// Returns kExitOk, kExitFault (a run wrong or failed, each named on err),
// kExitInterrupted (a stop signal came before the summary was written) or
// kExitOutputClosed (the report or the events could not all be written).
// With --each-core, each run's one worker is placed on `eachCore`'s places
// in turn (none: not asked), and the summary tells each place apart.
int RunStress(const RunnerOptions& options, const RunContext& context, SearchDriver& driver, const Console& console,
              const std::atomic<bool>& interrupt, bool keepRuns, std::vector<RunRecord>& runs, RunsStop& stop,
              const std::vector<CoreTarget>& eachCore = {});
