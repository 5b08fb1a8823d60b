#include "cli/CliOptions.h"

#include <algorithm>

#include "cli/BuildInfo.h"
#include "cli/Charts.h"
#include "cli/OptionTable.h"
#include "cli/ResultStore.h"
#include "cli/SaveFileName.h"
#include "cli/Subcommands.h"
#include "engine/PrimeCoordinator.h"
#include "engine/TaskTable.h"
#include "export/FileManager.h"

namespace {

constexpr const char* kProgram = "vantrel-cli";
static_assert(TaskTable::taskSizes[kStressTask] == 10000000, "a stress runs 10M unless told");

// "WHAT "VALUE"AFTER; VALID"
std::function<std::string(const std::string&)> Refused(std::string what, std::string after, std::string valid) {
    return [=](const std::string& value) { return what + " \"" + value + "\"" + after + "; " + valid; };
}

// A duration: a whole number and a unit, s, m or h ("90s", "10m", "2h"),
// passed on as seconds; at least one second and at most kMaxStressSeconds.
CLI::Validator Duration() {
    return CLI::Validator(
        [](std::string& value) -> std::string {
            const size_t digits = value.find_first_not_of("0123456789");
            if (digits == 0 || digits > 9 || digits == std::string::npos || digits + 1 != value.size()) {
                return "not a duration";
            }
            const char unit = value.back();
            const int64_t scale = unit == 's' ? 1 : unit == 'm' ? 60 : unit == 'h' ? 3600 : 0;
            const int64_t seconds = std::stoll(value.substr(0, digits)) * scale;
            if (seconds < 1 || seconds > kMaxStressSeconds) return "out of range";
            value = std::to_string(seconds);
            return {};
        },
        "");
}

// A stress's thread count: 1 to 255, or "all", passed on as the count `all`.
CLI::Validator StressThreads(uint16_t all) {
    const CLI::Validator count = PlainCount(3) & CLI::Range(1, int(PrimeCoordinator::kMaxThreads));
    return CLI::Validator(
        [all, count](std::string& value) {
            if (value != "all") return count(value);
            value = std::to_string(all);
            return std::string();
        },
        "");
}

}  // namespace

std::vector<OptionDef> RunnerOptionDefs(uint32_t processors, bool stress) {
    std::vector<std::pair<std::string, int>> tasks;
    std::string labels;
    for (int i = 0; i < TaskTable::count; ++i) {
        tasks.emplace_back(TaskTable::Label(i), i);
        labels += (i == 0 ? "" : " ") + tasks.back().first;
    }
    const std::vector<std::pair<std::string, ReportFormat>> formats = {
        {"table", ReportFormat::Table}, {"csv", ReportFormat::Csv}, {"json", ReportFormat::Json}};
    const std::vector<uint16_t> offered = OfferedThreadCounts(processors);
    std::string counts;
    for (uint16_t count : offered) counts += (counts.empty() ? "" : " ") + std::to_string(count);
    const std::string tasksValid = "valid tasks: " + labels;
    const std::string threadsValid =
        "valid thread counts on this machine (" + std::to_string(processors) + " logical processors): " + counts;
    const std::string repeatValid = "valid repeat counts: 1 to " + std::to_string(kMaxRepeat);
    const std::string formatValid = "valid formats: table csv json";
    const std::string fileValid = "valid: a file name of at most " + std::to_string(FileManager::kPathUnits - 1) + " characters";
    const std::string verifyValid = "valid checks: digest full";
    const std::string durationValid =
        "valid durations: a whole number of seconds, minutes or hours (90s, 10m, 2h), more than zero and at most 7 days";
    const std::string all = std::to_string(EveryProcessor(processors));
    const std::string stressThreadsValid =
        "valid thread counts for --stress: 1 to " + std::to_string(PrimeCoordinator::kMaxThreads) +
        ", or all (every logical processor: " + all + " here)";
    const std::vector<std::pair<std::string, VerifyMode>> checks = {{"digest", VerifyMode::Digest},
                                                                    {"full", VerifyMode::Full}};
    OptionDef threadsOption = {"--threads", "T",
                              "Worker threads, one of the counts offered here: " + counts + " (default 1)", threadsValid,
                              PlainCount(6) & CLI::IsMember(offered), Refused("thread count", " is not offered", threadsValid)};
    if (stress) {
        threadsOption = {"--threads", "T|all",
                       "Worker threads of a stress: 1 to " + std::to_string(PrimeCoordinator::kMaxThreads) +
                           ", or all (the default: " + all + ")",
                       stressThreadsValid, StressThreads(EveryProcessor(processors)),
                       Refused("thread count", " is out of range", stressThreadsValid)};
    }
    // The export job holds a name of limited length and the writers open it
    // as given, so a name is checked here rather than cut or changed later.
    const CLI::Validator usable([](std::string& value) { return JobPathOf(value) ? std::string() : "unusable"; }, "");
    auto fileRefusal = [fileValid](const std::string& option) {
        return [option, fileValid](const std::string& value) {
#if defined(_WIN32)
            const char* const encoding = " in the system's code page";
#else
            const char* const encoding = " in UTF-8";
#endif
            if (value.empty()) return option + " needs a file name; " + fileValid;
            return option + " cannot take \"" + OneLine(value) + "\"; " + fileValid + encoding;
        };
    };
    // A build without SQLite or gnuplot refuses --db and --plot before
    // anything runs, rather than after a sweep of minutes.
    const std::string storeValid = "valid: a file name (the store is created on first use)";
    OptionDef dbOption = {"--db", "FILE",
                         "Store this invocation and all of its runs in the result store FILE (an SQLite database, "
                         "created on first use) once the runs end, also after a wrong result or Ctrl-C; default: the "
                         "file the environment variable VANTREL_DB names, else nothing is stored",
                         storeValid,
                         CLI::Validator([](std::string& value) { return value.empty() ? "empty" : ""; }, ""),
                         [storeValid](const std::string&) { return "--db needs a file name; " + storeValid; }};
    if (!ResultStoreAvailable()) {
        dbOption.check = CLI::Validator([](std::string&) { return "unavailable"; }, "");
        dbOption.refusal = [](const std::string&) {
            return std::string("--db: this build of vantrel-cli has no result store (it was built without SQLite); "
                               "valid: a JSON report (--format json), which vantrel-cli compare reads");
        };
    }
    const std::string chartValid = "valid: a file name without control characters, as speedup.svg";
    OptionDef plotOption = {
        .name = "--plot",
        .value = "FILE.svg",
        .help = "With --sweep: once the results are printed, draw the speedup against the thread count as an SVG "
                "chart (with gnuplot); not drawn when a run was wrong or stopped",
        .valid = chartValid,
        .check = ChartFileName(),
        .refusal = [chartValid](const std::string& value) {
            return value.empty() ? "--plot needs a file name; " + chartValid
                                 : "--plot cannot take \"" + OneLine(value) + "\"; " + chartValid;
        },
        .needs = "--sweep",
        .unmet = "--plot draws the speedup of a sweep and goes with --sweep only; valid: --sweep --plot FILE.svg, or "
                 "history --plot FILE.svg for stored times"};
    if (!ChartsAvailable()) {
        plotOption.check = CLI::Validator([](std::string&) { return "unavailable"; }, "");
        plotOption.refusal = [](const std::string&) {
            return std::string("--plot: this build of vantrel-cli draws no charts (it cannot run gnuplot); valid: "
                               "--format csv or json, drawn with a tool of your own");
        };
    }
    return {{"--task", "LABEL", "Task size: " + labels + " (default 1M)", tasksValid,
          CLI::IsMember(tasks) & CLI::Transformer(tasks), Refused("unknown task", "", tasksValid)},
         threadsOption,
         {"--sweep", "", "Run every offered thread count in turn, with speedup and efficiency", "", kNoValue, {},
          "--threads", "--threads and --sweep exclude each other; valid: one of --threads T (" + counts + ") or --sweep"},
         {"--repeat", "R", "Runs of each setting; reports the minimum and the median (default 1)", repeatValid,
          PlainCount(4) & CLI::Range(1, kMaxRepeat), Refused("repeat count", " is out of range", repeatValid)},
         {"--format", "table|csv|json", "Report format: table, csv or json (default table)", formatValid,
          CLI::IsMember(formats) & CLI::Transformer(formats), Refused("unknown format", "", formatValid)},
         {"--events", "",
          "Print each notification (progress INDEX PRIME, finished INDEX PRIME) on stdout; the report goes to stderr",
          "", kNoValue},
         {"--save-primes", "FILE",
          "Save the primes of the last run (finished, or stopped by Ctrl-C) to FILE as the Windows program does: one "
          "INDEX-PRIME line per prime, CR LF",
          fileValid, usable, fileRefusal("--save-primes")},
         {"--save-grid", "FILE",
          "Save one row per run of this invocation (Task, Thread Count, Last Prime, Time) to FILE as the Windows "
          "program saves its grid: UTF-8 with byte-order mark, cells followed by two TABs, CR LF",
          fileValid, usable, fileRefusal("--save-grid")},
         {"--verify", "digest|full",
          "What is checked: digest (default) checks every finished run against the known N-th prime and the digest of "
          "all its primes, and names the first wrong slot; full checks besides the primes a stopped run holds, slot by "
          "slot, against a sieve",
          verifyValid, CLI::IsMember(checks) & CLI::Transformer(checks), Refused("unknown check", "", verifyValid)},
         {.name = "--stress",
          .value = "DURATION",
          .help = "Burn-in: run the task again and again until DURATION (90s, 10m, 2h; at most 7 days) has passed, "
                  "each run verified; report each run's time, the slowest, the fastest and the drift. --task defaults "
                  "to 10M and --threads to all (every logical processor); any T from 1 to 255 is taken",
          .valid = durationValid,
          .check = Duration(),
          .refusal = Refused("duration", " is not valid", durationValid),
          .conflicts = {{"--sweep", "--stress and --sweep exclude each other: a stress runs one thread count; valid: "
                                    "--stress DURATION with --threads T or all"},
                        {"--repeat", "--stress and --repeat exclude each other: a stress repeats its run until the "
                                     "time is up; valid: --stress DURATION alone"},
                        {"--save-primes", "--stress and --save-primes exclude each other: a stress keeps no run's "
                                          "primes; valid: --save-grid FILE, one row per run"}}},
         {.name = "--keep-going",
          .value = "",
          .help = "With --stress: count wrong and failed runs and go on until the time is up, instead of ending at "
                  "the first",
          .valid = "",
          .check = kNoValue,
          .needs = "--stress",
          .unmet = "--keep-going goes with --stress only; valid: --stress DURATION --keep-going"},
         dbOption,
         {"--label", "TEXT", "A label of your own, kept with the stored invocation (history shows it)",
          "valid: any text, as \"nightly\"", CLI::Validator([](std::string&) { return std::string(); }, "")},
         plotOption,
         {"--help", "", "Print this help and exit", "", {}},
         {"--version", "", "Print the version and exit", "", {}}};
}

namespace {

OptionTable RunnerOptionTable(uint32_t processors, bool stress) {
    return OptionTable(kProgram, RunnerOptionDefs(processors, stress));
}

ParseOutcome UsageError(std::string line, std::string usage = UsageLine()) {
    ParseOutcome outcome;
    outcome.text = std::move(line);
    outcome.usage = std::move(usage);
    return outcome;
}

}  // namespace

std::vector<uint16_t> OfferedThreadCounts(uint32_t processors) {
    std::vector<uint16_t> counts;
    const int top = ThreadListTop(processors);
    for (int k = 0; k <= top; ++k) counts.push_back(ThreadCountOfEntry(uint32_t(k)));
    return counts;
}

uint16_t EveryProcessor(uint32_t processors) {
    return uint16_t(std::min<uint32_t>(std::max<uint32_t>(processors, 1), PrimeCoordinator::kMaxThreads));
}

std::string UsageLine() { return RunnerOptionTable(1, false).Usage(); }

std::string VersionText() { return std::string(kProgram) + " " + VANTREL_VERSION + "\n"; }

ParseOutcome ParseCommandLine(const std::vector<std::string>& args, uint32_t processors) {
    const bool stress = std::any_of(args.begin(), args.end(), [](const std::string& arg) {
        return arg == "--stress" || arg.rfind("--stress=", 0) == 0;
    });
    const OptionTable table = RunnerOptionTable(processors, stress);
    CLI::App app{"Vantrel prime-search CPU benchmark, headless runner. Finds the first N primes with T worker threads "
                 "and reports the wall-clock time.",
                 kProgram};
    app.set_help_flag("--help", table["--help"].help);
    app.set_version_flag("--version", std::string(kProgram) + " " + VANTREL_VERSION, table["--version"].help);
    ParseOutcome outcome;
    RunnerOptions& options = outcome.options;
    uint16_t threads = 1;
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
    table.Add(app, "--db", options.db);
    table.Add(app, "--label", options.label);
    table.Add(app, "--plot", options.plot);
    app.footer("A missing folder or any failure to write a file is reported on one line and ends with exit code 1; "
               "a file is replaced only once it is complete.\n"
               "With --db FILE (or VANTREL_DB) the invocation is stored once its runs end, each run with its status: "
               "also after a wrong result or Ctrl-C, and every run of a stress. A store or chart that fails is "
               "reported on one line after the results and ends with exit code 1, unless the runs already ended "
               "with 1, 130 or 143.\n"
               "Exit codes: 0 done and verified, 1 wrong result, engine failure or failed save, store or chart, "
               "2 bad input, 130 interrupted, 143 terminated (what was found is still saved and stored).\n"
               "vantrel-cli history --help and vantrel-cli compare --help tell the subcommands' options.");
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

    if (const std::string command = subcommands.Given(); !command.empty()) {
        for (const CLI::Option* option : app.get_options()) {
            if (option->count() == 0) continue;
            return UsageError("\"" + command + "\" comes first: " + option->get_name() + " before it is an option of a run",
                              subcommands.Usage());
        }
        if (const std::string refused = subcommands.Finish(); !refused.empty()) {
            return UsageError(refused, subcommands.Usage());
        }
        outcome.action = command == "history" ? CliAction::History : CliAction::Compare;
        return outcome;
    }

    if (options.stressSeconds > 0) {
        if (app.count("--task") == 0) options.taskIndex = kStressTask;
        if (app.count("--threads") == 0) threads = EveryProcessor(processors);
    }
    options.threadCounts = options.sweep ? OfferedThreadCounts(processors) : std::vector<uint16_t>{threads};
    if (!options.savePrimes.empty() && !options.saveGrid.empty() && NameTheSameFile(options.savePrimes, options.saveGrid)) {
        return UsageError("--save-primes and --save-grid name the same file; valid: two different files");
    }
    if (app.count("--label") > 0 && StorePathFrom(options.db).empty()) {
        return UsageError("--label goes with a result store; valid: --db FILE --label TEXT, or VANTREL_DB set");
    }
    std::vector<std::string> commandLine = {kProgram};
    commandLine.insert(commandLine.end(), args.begin(), args.end());
    options.commandLine = CommandLineText(commandLine);
    outcome.action = CliAction::Run;
    return outcome;
}
