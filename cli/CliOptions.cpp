#include "cli/CliOptions.h"

#include <algorithm>

#include "cli/Subcommands.h"
#include "results/ResultOptions.h"
#include "results/ResultStore.h"
#include "runner/OptionParsing.h"
#include "runner/RunContext.h"
#include "runner/SaveFileName.h"

namespace {

constexpr const char* kProgram = "vantrel-cli";

constexpr const char* kDescription =
    "Vantrel prime-search CPU benchmark, headless runner. Finds the first N primes with T worker threads and reports "
    "the wall-clock time.";

constexpr const char* kFooter =
    "A missing folder or any failure to write a file is reported on one line and ends with exit code 1; a file is "
    "replaced only once it is complete.\n"
    "With --db FILE (or VANTREL_DB) the invocation is stored once its runs end, each run with its status: also after "
    "a wrong result or Ctrl-C, and every run of a stress. A store or chart that fails is reported on one line after "
    "the results and ends with exit code 1, unless the runs already ended with 1, 130, 143 or 129.\n"
    "Every report ends with one line, PASS or FAIL and why.\n"
    "Exit codes: 0 done and verified, 1 wrong result, engine failure or failed save, store or chart, 2 bad input, "
    "130 interrupted (Ctrl-C), 143 terminated (SIGTERM), 129 hung up (SIGHUP: the terminal closed; run it under "
    "nohup, setsid or tmux to keep it going): what was found is still saved and stored.\n"
    "vantrel-cli history --help and vantrel-cli compare --help tell the subcommands' options.";

OptionTable RunnerOptionTable(const ProcessorFacts& processors, bool stress) {
    return OptionTable(kProgram, RunnerOptionDefs(processors, stress));
}

ParseOutcome UsageError(std::string line, std::string usage = UsageLine()) {
    ParseOutcome outcome;
    outcome.text = std::move(line);
    outcome.usage = std::move(usage);
    return outcome;
}

// Binds every option of a run to `options` (the thread count to `threads`,
// which the sweep and the stress settle later).
void AddRunOptions(const OptionTable& table, CLI::App& app, RunnerOptions& options, uint16_t& threads) {
    table.Add(app, "--task", options.taskIndex);
    table.Add(app, "--threads", threads);
    table.Add(app, "--sweep", options.sweep);
    table.Add(app, "--repeat", options.repeat);
    table.Add(app, "--format", options.format);
    table.Add(app, "--events", options.events);
    table.Add(app, "--save-primes", options.savePrimes);
    table.Add(app, "--save-grid", options.saveGrid);
    table.Add(app, "--verify", options.verify);
    table.Add(app, "--stress", options.stressSeconds);
    table.Add(app, "--keep-going", options.keepGoing);
    table.Add(app, "--each-core", options.eachCore);
    table.Add(app, "--bind", options.bind);
    table.Add(app, "--db", options.db);
    table.Add(app, "--label", options.label);
    table.Add(app, "--plot", options.plot);
}

// A subcommand's outcome, once the command line parsed into `outcome` (to
// which the subcommand's options are bound): its options must all follow it.
ParseOutcome SubcommandOutcome(const CLI::App& app, Subcommands& subcommands, ParseOutcome& outcome) {
    const std::string command = subcommands.Given();
    for (const CLI::Option* option : app.get_options()) {
        if (option->count() == 0) continue;
        return UsageError("\"" + command + "\" comes first: " + option->get_name() + " before it is an option of a run",
                          subcommands.Usage());
    }
    if (const std::string refused = subcommands.Finish(); !refused.empty()) return UsageError(refused, subcommands.Usage());
    outcome.action = command == "history" ? CliAction::History : CliAction::Compare;
    return outcome;
}

// A run's outcome, once the command line parsed: the defaults of a stress,
// the thread counts to run, and what the options cannot be checked for alone.
ParseOutcome RunOutcome(const CLI::App& app, const std::vector<std::string>& args, const ProcessorFacts& processors,
                        uint16_t threads, ParseOutcome& outcome) {
    RunnerOptions& options = outcome.options;
    if (options.stressSeconds > 0) {
        if (app.count("--task") == 0) options.taskIndex = kStressTask;
        if (app.count("--threads") == 0) threads = EveryProcessor(processors.usable);
        if (options.eachCore) threads = 1;
    }
    options.threadCounts = options.sweep ? OfferedThreadCounts(processors.usable) : std::vector<uint16_t>{threads};
    if (!options.savePrimes.empty() && !options.saveGrid.empty() && NameTheSameFile(options.savePrimes, options.saveGrid)) {
        return UsageError("--save-primes and --save-grid name the same file; valid: two different files");
    }
    if (const std::string problem = StoreVariableProblem(options.db); !problem.empty()) return UsageError(problem);
    if (app.count("--label") > 0 && StorePathFrom(options.db).empty()) {
        return UsageError("--label goes with a result store; valid: --db FILE --label TEXT, or VANTREL_DB set");
    }
    std::vector<std::string> commandLine = {kProgram};
    commandLine.insert(commandLine.end(), args.begin(), args.end());
    options.commandLine = CommandLineText(commandLine);
    outcome.action = CliAction::Run;
    return outcome;
}

}  // namespace

std::vector<OptionDef> RunnerOptionDefs(const ProcessorFacts& processors, bool stress) {
    std::vector<OptionDef> defs = RunOptionDefs(processors, stress);
    for (OptionDef& def : StoreOptionDefs()) defs.push_back(std::move(def));
    defs.push_back(SweepChartOption());
    defs.push_back(HelpOption());
    defs.push_back(VersionOption());
    return defs;
}

std::string RunnerDescription() { return kDescription; }

std::string RunnerFooter() { return kFooter; }

std::string UsageLine() { return RunnerOptionTable(1, false).Usage(); }

std::string VersionText() { return std::string(kProgram) + " " + VantrelVersion() + "\n"; }

ParseOutcome ParseCommandLine(const std::vector<std::string>& args, const ProcessorFacts& processors) {
    const bool stress = std::any_of(args.begin(), args.end(), [](const std::string& arg) {
        return arg == "--stress" || arg.rfind("--stress=", 0) == 0;
    });
    const OptionTable table = RunnerOptionTable(processors, stress);
    CLI::App app{kDescription, kProgram};
    app.set_help_flag("--help", table["--help"].help);
    app.set_version_flag("--version", std::string(kProgram) + " " + VantrelVersion(), table["--version"].help);
    app.footer(kFooter);
    ParseOutcome outcome;
    uint16_t threads = 1;
    AddRunOptions(table, app, outcome.options, threads);
    Subcommands subcommands(app, outcome.history, outcome.compare);
    ParseHooks hooks;
    hooks.explain = [&](const CLI::App& failed, const CLI::Error& error) {
        return subcommands.Given().empty() ? table.Explain(failed, error, args) : subcommands.Explain(error, args);
    };
    hooks.helpAsked = [&] { return subcommands.HelpAsked(); };

    const OptionTable::Parsed parsed = table.Parse(app, args, hooks);
    switch (parsed.ending) {
        case OptionTable::Ending::UsageError:
            return subcommands.Given().empty() ? UsageError(parsed.text) : UsageError(parsed.text, subcommands.Usage());
        case OptionTable::Ending::Help:
        case OptionTable::Ending::Version:
            outcome.action = parsed.ending == OptionTable::Ending::Help ? CliAction::Help : CliAction::Version;
            outcome.text = parsed.text;
            return outcome;
        case OptionTable::Ending::Parsed: break;
    }
    if (!subcommands.Given().empty()) return SubcommandOutcome(app, subcommands, outcome);
    return RunOutcome(app, args, processors, threads, outcome);
}
