#include "mpi/FleetOptions.h"

#include <algorithm>
#include <limits>

#include "engine/PrimeCoordinator.h"
#include "engine/Text.h"
#include "machine/Processors.h"
#include "mpi/FleetResults.h"
#include "results/ResultOptions.h"
#include "results/ResultStore.h"
#include "runner/OptionParsing.h"
#include "runner/RunContext.h"
#include "runner/RunOptions.h"

namespace {

constexpr const char* kProgram = "vantrel-mpi";

constexpr const char* kDescription =
    "Vantrel prime-search CPU benchmark on every rank of an MPI job at once: each rank finds the first N primes with T "
    "worker threads on its own node, verifies them, and rank 0 reports the fleet.";

constexpr const char* kFooter =
    "Launch on every node: mpirun -np R --map-by ppr:1:node --bind-to none vantrel-mpi ... (Open MPI otherwise binds "
    "each rank to one core or package, and a rank offers the threads of its binding only), or srun "
    "--ntasks-per-node=1 --cpus-per-task=N vantrel-mpi ... under Slurm. Rank 0 prints the report.\n"
    "Stop with one Ctrl-C to mpirun: the ranks stop their runs and rank 0 prints what was gathered.\n"
    "Every rank must be given the same options; ranks given others are named and nothing is run.\n"
    "Exit codes, the same on every rank: 0 done and verified, 1 a wrong result or a failed or refused run on some rank "
    "(or an outlier with --fail-on-outlier, a rank that did not arrive within --deadline, or a store that cannot be "
    "written after runs that were all right), 2 bad input, 130 stopped.";

// The runner's table entries of the options the fleet shares with it.
OptionTable RunnerTable(const ProcessorFacts& processors) {
    std::vector<OptionDef> defs = RunOptionDefs(processors);
    for (OptionDef& def : StoreOptionDefs()) defs.push_back(std::move(def));
    defs.push_back(HelpOption());
    defs.push_back(VersionOption());
    return OptionTable(kProgram, std::move(defs));
}

}  // namespace

OptionTable FleetOptionTable(const ProcessorFacts& processors) {
    const OptionTable runner = RunnerTable(processors);
    auto shared = [&runner](const std::string& name) { return runner[name]; };
    const std::string most = std::to_string(PrimeCoordinator::kMaxThreads);

    // Each rank takes up to its own usable processors; the command line may
    // ask for any count the engine takes, and a rank with fewer processors
    // says so.
    const std::string threadsValid = "valid thread counts: 1 to " + most +
                                     ", or all (a rank that may use fewer logical processors than the count reports "
                                     "it refused)";
    OptionDef threads = shared("--threads");
    threads.help = "Worker threads on every rank: 1 to " + most +
                   ", or all (each rank every logical processor it may use); a rank that may use fewer reports the "
                   "count refused (default 1)";
    threads.valid = threadsValid;
    threads.check = CLI::Validator(
        [](std::string& value) {
            if (value == "all") {
                value = std::to_string(kAllThreads);
                return std::string();
            }
            return (PlainCount(6) & CLI::Range(1, int(PrimeCoordinator::kMaxThreads)))(value);
        },
        "");
    threads.refusal = Refused("thread count", " is out of range", threadsValid);
    OptionDef sweep = shared("--sweep");
    sweep.help = "Every rank runs every thread count it offers (the powers of two below the logical processors it may "
                 "use, and that count); ranks are compared count by count";
    sweep.exclusion = "--threads and --sweep exclude each other; valid: one of --threads T (1 to " + most +
                      ", or all) or --sweep";
    OptionDef eachCore = shared("--each-core");
    eachCore.help = "Every rank runs the task on one worker placed on each of its usable cores in turn (each logical "
                    "processor in turn with --bind pus), --repeat times each, every run verified; the report names "
                    "each rank's cores that computed a wrong prime or ran markedly slower than its others";
    eachCore.needs.clear();
    eachCore.unmet.clear();
    eachCore.exclusion = "--each-core runs one worker on each core in turn; valid: --each-core without --threads";
    eachCore.conflicts = {{"--sweep", "--each-core and --sweep exclude each other: each core runs one worker; valid: "
                                      "--each-core alone"}};
    OptionDef repeat = shared("--repeat");
    repeat.help = "Runs of each setting; a rank's time is the median of its runs (default 1)";
    OptionDef db = shared("--db");
    db.help = "Store this invocation with every rank's runs, each with its host and rank, in the result store FILE "
              "(an SQLite database, created on first use; rank 0 writes it) setting by setting as each is gathered, "
              "so that a job ended early keeps what was gathered, also after a wrong result or Ctrl-C; default: the "
              "file the environment variable VANTREL_DB names on rank 0, else nothing is stored";
    // A duration as --stress takes it, and refuses it.
    const std::string deadlineValid = "valid deadlines: a whole number of seconds, minutes or hours (90s, 10m, 2h), "
                                      "more than zero and at most 7 days";
    const OptionDef deadline{"--deadline", "DURATION",
                             "How long rank 0 waits at each step (the start and the end of a run, the gather of a "
                             "setting) for ranks that have not arrived; then it names them in the report, exits with "
                             "1 and so ends the job (default 1h; 90s, 10m, 2h)",
                             deadlineValid, shared("--stress").check, Refused("deadline", " is not valid", deadlineValid)};
    const std::string outlierValid = "valid: a percentage from 0 to " + std::to_string(int(kMaxOutlierPercent)) +
                                     ", for example 10";
    return OptionTable(
        kProgram,
        {shared("--task"), threads, sweep, eachCore, repeat, shared("--format"), shared("--verify"),
         {"--outlier", "PCT", "A rank slower than the fleet median of a setting by more than PCT percent is an outlier "
                              "(default 10)",
          outlierValid, Decimal([](double percent) { return percent <= kMaxOutlierPercent; }),
          [outlierValid](const std::string& value) { return "outlier percentage \"" + value + "\" is refused; " + outlierValid; }},
         {"--fail-on-outlier", "", "Exit with code 1 when some setting has an outlier (else outliers are only reported)",
          "", kNoValue},
         shared("--bind"), deadline, db, shared("--label"),
         shared("--help"), shared("--version")});
}

std::string FleetDescription() { return kDescription; }

std::string FleetFooter() { return kFooter; }

std::string RefusedThreads(uint16_t threads, const ProcessorFacts& processors) {
    if (threads <= EveryProcessor(processors.usable)) return {};
    return RunnerTable(processors)["--threads"].refusal(std::to_string(threads));
}

std::string FleetUsageLine() { return FleetOptionTable(1).Usage(); }

WorkerStartHook RankPlacement(BindMode& mode, const ProcessorFacts& processors, int rank, std::ostream& err) {
    std::string problem;
    WorkerStartHook placement = WorkerPlacement(mode, processors, problem);
    if (problem.empty()) return placement;
    err << kProgram << ": rank " << rank << ": " << problem << "\n" << std::flush;
    mode = BindMode::None;
    return placement;
}

FleetParseOutcome ParseFleetCommandLine(const std::vector<std::string>& args, const ProcessorFacts& processors) {
    const OptionTable table = FleetOptionTable(processors);
    CLI::App app{kDescription, kProgram};
    table.AddHelp(app, {}, std::string(kProgram) + " " + VantrelVersion());
    FleetParseOutcome outcome;
    FleetOptions& options = outcome.options;
    table.Add(app, "--task", options.taskIndex);
    table.Add(app, "--threads", options.threads);
    table.Add(app, "--sweep", options.sweep);
    table.Add(app, "--each-core", options.eachCore);
    table.Add(app, "--repeat", options.repeat);
    table.Add(app, "--format", options.format);
    table.Add(app, "--verify", options.verify);
    table.Add(app, "--outlier", options.outlierPercent);
    table.Add(app, "--fail-on-outlier", options.failOnOutlier);
    table.Add(app, "--bind", options.bind);
    table.Add(app, "--deadline", options.deadlineSeconds);
    table.Add(app, "--db", options.db);
    table.Add(app, "--label", options.label);
    app.footer(kFooter);
    const OptionTable::Parsed parsed = table.Parse(app, args);
    options.labelGiven = app.count("--label") > 0;
    outcome.text = parsed.text;
    outcome.action = parsed.ending;
    return outcome;
}

std::vector<std::string> CanonicalOptions(const FleetOptions& options) {
    const char* formats[] = {"table", "csv", "json"};
    std::vector<std::string> pieces = {
        "--task " + TaskTable::Label(options.taskIndex),
        options.sweep                    ? "--sweep"
        : options.eachCore               ? "--each-core"
        : options.threads == kAllThreads ? "--threads all"
                                         : "--threads " + std::to_string(options.threads),
        "--repeat " + std::to_string(options.repeat),
        std::string("--format ") + formats[int(options.format)],
        std::string("--verify ") + (options.verify == VerifyMode::Full ? "full" : "digest"),
        "--outlier " + FullPrecision(options.outlierPercent),
        "--deadline " + std::to_string(options.deadlineSeconds) + "s",
        std::string("--bind ") + BindModeName(options.bind)};
    if (options.failOnOutlier) pieces.push_back("--fail-on-outlier");
    if (!options.db.empty()) pieces.push_back("--db " + CommandLineText({options.db}));
    if (options.labelGiven) pieces.push_back("--label " + CommandLineText({options.label}));
    return pieces;
}

std::string OptionsMismatch(const std::vector<std::vector<std::string>>& byRank) {
    // The ranks of each other set of options, in the order of their lowest rank.
    std::vector<std::pair<std::vector<std::string>, std::vector<int>>> variants;
    for (size_t rank = 1; rank < byRank.size(); ++rank) {
        if (byRank[rank] == byRank[0]) continue;
        auto variant = std::find_if(variants.begin(), variants.end(), [&](const auto& v) { return v.first == byRank[rank]; });
        if (variant == variants.end()) variant = variants.insert(variants.end(), {byRank[rank], {}});
        variant->second.push_back(int(rank));
    }
    if (variants.empty()) return {};
    auto missingFrom = [](const std::vector<std::string>& pieces, const std::vector<std::string>& other) {
        std::string text;
        for (const std::string& piece : pieces) {
            if (std::find(other.begin(), other.end(), piece) == other.end()) text += (text.empty() ? "" : " ") + piece;
        }
        return text;
    };
    constexpr size_t kNamed = 3;
    std::string line = "the ranks were given different options: ";
    for (size_t i = 0; i < variants.size() && i < kNamed; ++i) {
        const auto& [pieces, ranks] = variants[i];
        const std::string given = missingFrom(pieces, byRank[0]);
        const std::string lacking = missingFrom(byRank[0], pieces);
        line += std::string(i == 0 ? "" : "; ") + (ranks.size() == 1 ? "rank " : "ranks ") + RankRanges(ranks);
        if (lacking.empty()) {
            line += (ranks.size() == 1 ? " was" : " were") + (" given " + given + ", which rank 0 was not");
        } else if (given.empty()) {
            line += (ranks.size() == 1 ? " was" : " were") + (" not given " + lacking + ", which rank 0 was");
        } else {
            line += (ranks.size() == 1 ? " was" : " were") + (" given " + given + " where rank 0 was given " + lacking);
        }
    }
    size_t more = 0;
    for (size_t i = kNamed; i < variants.size(); ++i) more += variants[i].second.size();
    if (more > 0) line += "; and " + Plural(more, "more rank", "more ranks");
    return line + "; every rank must be given the same, so nothing was run";
}
