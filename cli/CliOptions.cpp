#include "cli/CliOptions.h"

#include "cli/BuildInfo.h"
#include "cli/OptionTable.h"
#include "cli/SaveFileName.h"
#include "engine/TaskTable.h"
#include "export/FileManager.h"

namespace {

constexpr const char* kProgram = "vantrel-cli";

// "WHAT "VALUE"AFTER; VALID"
std::function<std::string(const std::string&)> Refused(std::string what, std::string after, std::string valid) {
    return [=](const std::string& value) { return what + " \"" + value + "\"" + after + "; " + valid; };
}

}  // namespace

std::vector<OptionSpec> RunnerOptionSpecs(uint32_t processors) {
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
    return {{"--task", "LABEL", "Task size: " + labels + " (default 1M)", tasksValid,
          CLI::IsMember(tasks) & CLI::Transformer(tasks), Refused("unknown task", "", tasksValid)},
         {"--threads", "T", "Worker threads, one of the counts offered here: " + counts + " (default 1)", threadsValid,
          PlainCount(6) & CLI::IsMember(offered), Refused("thread count", " is not offered", threadsValid)},
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
         {"--help", "", "Print this help and exit", "", {}},
         {"--version", "", "Print the version and exit", "", {}}};
}

namespace {

OptionTable RunnerOptionTable(uint32_t processors) { return OptionTable(kProgram, RunnerOptionSpecs(processors)); }

ParseOutcome UsageError(std::string line) {
    ParseOutcome outcome;
    outcome.text = std::move(line);
    return outcome;
}

}  // namespace

std::vector<uint16_t> OfferedThreadCounts(uint32_t processors) {
    std::vector<uint16_t> counts;
    const int top = ThreadListTop(processors);
    for (int k = 0; k <= top; ++k) counts.push_back(ThreadCountOfEntry(uint32_t(k)));
    return counts;
}

std::string UsageLine() { return RunnerOptionTable(1).Usage(); }

std::string VersionText() { return std::string(kProgram) + " " + VANTREL_VERSION + "\n"; }

ParseOutcome ParseCommandLine(const std::vector<std::string>& args, uint32_t processors) {
    const OptionTable table = RunnerOptionTable(processors);
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
    app.footer("A missing folder or any failure to write a file is reported on one line and ends with exit code 1; "
               "a file is replaced only once it is complete.\n"
               "Exit codes: 0 done and verified, 1 wrong result, engine failure or failed save, 2 bad input, "
               "130 interrupted, 143 terminated (what was found is still saved).");
    const OptionTable::Parsed parsed = table.Parse(app, args);
    switch (parsed.ending) {
        case OptionTable::Ending::UsageError: return UsageError(parsed.text);
        case OptionTable::Ending::Help:
        case OptionTable::Ending::Version:
            outcome.action = parsed.ending == OptionTable::Ending::Version ? CliAction::Version : CliAction::Help;
            outcome.text = parsed.text;
            return outcome;
        case OptionTable::Ending::Parsed: break;
    }

    options.threadCounts = options.sweep ? OfferedThreadCounts(processors) : std::vector<uint16_t>{threads};
    if (!options.savePrimes.empty() && !options.saveGrid.empty() && NameTheSameFile(options.savePrimes, options.saveGrid)) {
        return UsageError("--save-primes and --save-grid name the same file; valid: two different files");
    }
    outcome.action = CliAction::Run;
    return outcome;
}
