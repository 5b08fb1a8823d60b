#include "cli/RunCli.h"

#include "cli/BenchmarkSession.h"
#include "cli/CliOptions.h"
#include "machine/Processors.h"
#include "results/ResultStore.h"
#include "runner/ExitCodes.h"

int RunCli(const std::vector<std::string>& args, std::ostream& out, std::ostream& err, bool liveProgress,
           const std::atomic<bool>& interrupt) {
    const ProcessorFacts processors = ReadProcessorFacts();
    const ParseOutcome parsed = ParseCommandLine(args, processors);
    switch (parsed.action) {
        case CliAction::Help:
        case CliAction::Version:
            out << parsed.text;
            out.flush();
            return kExitOk;
        case CliAction::UsageError:
            err << "vantrel-cli: " << parsed.text << "\n" << parsed.usage << "\n";
            err.flush();
            return kExitUsage;
        case CliAction::History: {
            HistoryOptions options = parsed.history;
            options.db = StorePathFrom(options.db);
            return RunHistory(options, out, err);
        }
        case CliAction::Compare: return RunCompare(parsed.compare, out, err);
        case CliAction::Run: break;
    }
    // Without the machine's shape the run goes on, on the processors counted.
    if (!processors.shape) err << "vantrel-cli: " << ShapePhrase(processors) << "\n";
    std::string unplaced;
    WorkerStartHook placement = WorkerPlacement(parsed.options.bind, processors, unplaced);
    if (!unplaced.empty()) err << "vantrel-cli: " << unplaced << "\n";
    BenchmarkSession session(parsed.options, out, err, liveProgress, interrupt);
    session.SetWorkerStartHook(std::move(placement));
    session.SetProcessors(processors);
    return session.Run();
}
