#include "cli/RunCli.h"

#include <algorithm>

#include "cli/BenchmarkSession.h"
#include "cli/CliOptions.h"
#include "machine/Processors.h"
#include "results/ResultStore.h"
#include "runner/ExitCodes.h"
#include "runner/TerminalText.h"

namespace {

// Whether the command line may be one that has no use for the machine's
// processors: --version, history, compare.
bool MayNotNeedProcessors(const std::vector<std::string>& args) {
    if (!args.empty() && (args.front() == "history" || args.front() == "compare")) return true;
    return std::find(args.begin(), args.end(), "--version") != args.end();
}

// The command line parsed, with the machine's processors read only where it
// needs them: a run, its help (the thread counts offered) and its refusals.
// Their first reading loads the machine's topology, seconds for one of
// thousands of cores. The parse without them is made only where it may be
// all there is to do: CLI11 lists the options an option excludes in the
// order of their addresses, which one more parse before the help changes.
ParseOutcome ParseWithProcessors(const std::vector<std::string>& args, ProcessorFacts& processors, size_t helpWidth) {
    if (MayNotNeedProcessors(args)) {
        ParseOutcome withoutMachine = ParseCommandLine(args, processors, helpWidth);
        switch (withoutMachine.action) {
            case CliAction::Version:
            case CliAction::History:
            case CliAction::Compare: return withoutMachine;
            default: break;
        }
    }
    processors = ReadProcessorFacts();
    return ParseCommandLine(args, processors, helpWidth);
}

// The exit code of history or compare: a listing whose reader went away
// (`| head`) says so, as the runner does, unless it has a code of its own.
int Listed(int code, const std::ostream& out) { return code == 0 && out.fail() ? kExitOutputClosed : code; }

}  // namespace

int RunCli(const std::vector<std::string>& args, std::ostream& out, std::ostream& err, const Terminals& terminals,
           const std::atomic<bool>& interrupt) {
    ProcessorFacts processors(1);
    const ParseOutcome parsed = ParseWithProcessors(args, processors, terminals.helpWidth);
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
            options.colours = options.format == ReportFormat::Table && ColoursOn(options.color, terminals.out, terminals.noColor);
            return Listed(RunHistory(options, out, err, interrupt), out);
        }
        case CliAction::Compare: {
            CompareOptions options = parsed.compare;
            options.colours = options.format == ReportFormat::Table && ColoursOn(options.color, terminals.out, terminals.noColor);
            return Listed(RunCompare(options, out, err, interrupt), out);
        }
        case CliAction::Run: break;
    }
    if (!processors.unusedTopology.empty()) err << "vantrel-cli: " << processors.unusedTopology << "\n";
    // Without the machine's shape the run goes on, on the processors counted.
    if (!processors.shape) err << "vantrel-cli: " << ShapePhrase(processors) << "\n";
    RunnerOptions options = parsed.options;
    std::string unplaced;
    WorkerStartHook placement = WorkerPlacement(options.bind, processors, unplaced);
    if (!unplaced.empty()) {
        err << "vantrel-cli: " << unplaced << "\n";
        // The reports and the store state the placement that is made.
        options.bind = BindMode::None;
    }
    err.flush();
    BenchmarkSession session(options, out, err, terminals, interrupt);
    session.SetWorkerStartHook(std::move(placement));
    session.SetProcessors(processors);
    return session.Run();
}
