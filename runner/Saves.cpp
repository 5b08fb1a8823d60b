#include "runner/Saves.h"

#include "engine/Text.h"
#include "runner/ExitCodes.h"
#include "runner/ResultSaver.h"
#include "runner/RunGridSource.h"
#include "runner/SaveFileName.h"

namespace {

// Why nothing is saved after runs that ended with `code`; empty when they can be.
std::string NothingToSave(int code, const std::vector<RunRecord>& runs, const PrimeCoordinator& coordinator) {
    // Only a finished or a stopped run is saved: the primes of a wrong or
    // refused run are not the last run's results.
    if (code == kExitFault) return "the run did not succeed";
    if (runs.empty()) return "no run was made";
    if (coordinator.primes == nullptr) return "the run left no primes";
    return {};
}

}  // namespace

bool CheckSaveTargets(const RunnerOptions& options, std::ostream& err) {
    bool ok = true;
    for (const std::string* name : {&options.savePrimes, &options.saveGrid}) {
        if (name->empty()) continue;
        const std::string problem = SaveTargetProblem(*name);
        if (problem.empty()) continue;
        err << "vantrel-cli: " << problem << "\n";
        ok = false;
    }
    err.flush();
    return ok;
}

bool SaveResults(const RunnerOptions& options, int code, const std::vector<RunRecord>& runs,
                 const PrimeCoordinator& coordinator, const Console& console) {
    if (options.savePrimes.empty() && options.saveGrid.empty()) return true;
    if (const std::string notSaved = NothingToSave(code, runs, coordinator); !notSaved.empty()) {
        for (const std::string* name : {&options.savePrimes, &options.saveGrid}) {
            if (!name->empty()) console.err << "vantrel-cli: \"" << OneLine(*name) << "\" was not saved: " << notSaved << "\n";
        }
        console.err.flush();
        return true;
    }

    ResultSaver saver(console.err, console.liveProgress);
    bool ok = true;
    auto report = [&](const std::string& failure) {
        if (failure.empty()) return;
        console.err << "vantrel-cli: " << failure << "\n";
        console.err.flush();
        ok = false;
    };
    // The slots the last run filled, as Save Primes writes them: lastIndex of them.
    if (!options.savePrimes.empty()) report(saver.SavePrimes(options.savePrimes, coordinator.primes, coordinator.lastIndex));
    if (!options.saveGrid.empty()) {
        RunGridSource rows(runs);
        report(saver.SaveGrid(options.saveGrid, rows));
    }
    return ok;
}
