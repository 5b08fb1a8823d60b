#include "cli/BenchmarkSession.h"

#include "engine/Text.h"
#include "machine/MachineSampler.h"
#include "machine/Processors.h"
#include "results/Charts.h"
#include "results/ResultStore.h"
#include "runner/ExitCodes.h"
#include "runner/Saves.h"
#include "runner/SettingsRun.h"
#include "runner/StopSignals.h"
#include "runner/StressRun.h"
#include "runner/TerminalText.h"

BenchmarkSession::BenchmarkSession(const RunnerOptions& options_, std::ostream& out, std::ostream& err,
                                   const Terminals& terminals, const std::atomic<bool>& interrupt_)
    : options(options_),
      console{out, err, terminals.err, terminals.errColumns, terminals.errControls,
              options.format == ReportFormat::Table &&
                  ColoursOn(options.color, options.events ? terminals.err && terminals.errControls : terminals.out,
                            terminals.noColor)},
      interrupt(interrupt_),
      driver(interrupt_) {}

int BenchmarkSession::Run() {
    storePath = StorePathFrom(options.db);
    // A store that cannot be written is found before the runs, as the saves are.
    const std::string storeProblem = storePath.empty() ? std::string() : StoreTargetProblem(storePath);
    if (!storeProblem.empty()) console.err << "vantrel-cli: " << storeProblem << "\n";
    if (!CheckSaveTargets(options, console.err) || !storeProblem.empty()) return kExitFault;
    const ProcessorFacts facts = processors ? *processors : ReadProcessorFacts();
    context = CollectRunContext(facts, options.bind);
    std::vector<CoreTarget> eachCore;
    if (options.eachCore) {
        const std::string problem = EachCoreProblem(facts, options.bind, eachCore);
        if (!problem.empty()) {
            Report(problem);
            return kExitFault;
        }
    }
    MachineSampler sampler(OpenSensorReader(UsableProcessors(facts)), kSampleInterval);
    context.sensors = sampler.Sources();
    driver.SetSampler(&sampler);
    const int runsCode = options.stressSeconds > 0
                             ? RunStress(options, context, driver, console, interrupt,
                                         !options.saveGrid.empty() || !storePath.empty(), runs, stop, eachCore)
                             : RunSettings(options, context, driver, console, interrupt, runs, stop);
    driver.SetSampler(nullptr);
    int code = runsCode;
    // What ran is kept even when a run was wrong or stopped; a store or chart
    // that fails does not hide how the runs ended. The store comes first: it
    // takes milliseconds, and a second stop signal during a long save of the
    // primes ends the process at once.
    const bool stored = Store();
    if (!SaveResults(options, code, runs, Coordinator(), console)) code = kExitFault;
    const bool drawn = Chart(runsCode);
    // A Ctrl-C during the saves does not cut them short: the writers finish.
    if ((code == kExitOk || code == kExitOutputClosed) && interrupt.load()) {
        Report(StopName() + " came after the runs had ended: nothing was cut short");
        code = kExitInterrupted;
    }
    if (code == kExitOk && !(stored && drawn)) code = kExitFault;
    return code;
}

void BenchmarkSession::Report(const std::string& line) {
    console.err << "vantrel-cli: " << line << "\n";
    console.err.flush();
}

bool BenchmarkSession::Store() {
    if (storePath.empty()) return true;
    if (runs.empty()) {
        Report("nothing was stored in \"" + OneLine(storePath) + "\": no run was made");
        return true;
    }
    // A stop that came after the last run cut nothing short.
    const std::string ended = stop.before.empty() ? std::string() : "stopped by " + stop.by + " before " + stop.before;
    const std::string failure = StoreInvocation(storePath, context, options.commandLine, options.label, runs, ended);
    if (failure.empty()) return true;
    Report(failure);
    return false;
}

bool BenchmarkSession::Chart(int code) {
    if (options.plot.empty()) return true;
    if (code != kExitOk) {
        // Half a sweep would draw a misleading curve.
        Report("\"" + OneLine(options.plot) + "\" was not drawn: the sweep did not finish");
        return true;
    }
    const std::string failure = PlotSweep(options.plot, SweepChartOf(runs, context));
    if (failure.empty()) return true;
    Report(failure);
    return false;
}
