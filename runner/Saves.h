// What --save-primes and --save-grid save of an invocation: the primes of its
// last run and a grid row per run, written as the Windows program writes
// them (see ResultSaver).
#pragma once

#include <vector>

#include "engine/PrimeCoordinator.h"
#include "runner/Console.h"
#include "runner/RunOptions.h"
#include "runner/RunRecord.h"

// False when a file to save to cannot be written, each reported on one line
// on err: found before a run that may take minutes, not after it.
bool CheckSaveTargets(const RunnerOptions& options, std::ostream& err);

// Saves after runs that ended with exit code `code`; `coordinator` holds the
// primes of the last run. A wrong or failed run saves nothing (one line says
// so). False when a save failed (reported on err).
bool SaveResults(const RunnerOptions& options, int code, const std::vector<RunRecord>& runs,
                 const PrimeCoordinator& coordinator, const Console& console);
