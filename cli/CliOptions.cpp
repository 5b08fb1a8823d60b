#include "cli/CliOptions.h"

#include <CLI/CLI.hpp>

#include <algorithm>
#include <filesystem>

#include "cli/BuildInfo.h"
#include "cli/SaveFileName.h"
#include "engine/TaskTable.h"
#include "export/FileManager.h"

namespace {

std::string JoinedLabels() {
    std::string text;
    for (int i = 0; i < TaskTable::count; ++i) {
        if (i > 0) text += ' ';
        text += TaskTable::Label(i);
    }
    return text;
}

std::string JoinedCounts(const std::vector<uint16_t>& counts) {
    std::string text;
    for (uint16_t c : counts) {
        if (!text.empty()) text += ' ';
        text += std::to_string(c);
    }
    return text;
}

const char* const kOptionList =
    "--task LABEL, --threads T, --sweep, --repeat R, --format table|csv|json, --events, --save-primes FILE, "
    "--save-grid FILE, --help, --version";

std::string ValidTasksText() { return "valid tasks: " + JoinedLabels(); }

std::string ValidThreadsText(uint32_t processors) {
    return "valid thread counts on this machine (" + std::to_string(processors) + " logical processors): " +
           JoinedCounts(OfferedThreadCounts(processors));
}

std::string ValidRepeatText() { return "valid repeat counts: 1 to " + std::to_string(kMaxRepeat); }

std::string ValidFormatsText() { return "valid formats: table csv json"; }

std::string ValidFileText() {
    return "valid: a file name of at most " + std::to_string(FileManager::kPathUnits - 1) + " characters";
}

// What the option takes, for messages about a missing or repeated value.
std::string ValidValuesOf(const std::string& option, uint32_t processors) {
    if (option == "--task") return ValidTasksText();
    if (option == "--threads") return ValidThreadsText(processors);
    if (option == "--repeat") return ValidRepeatText();
    if (option == "--format") return ValidFormatsText();
    if (option == "--save-primes" || option == "--save-grid") return ValidFileText();
    return std::string("valid options: ") + kOptionList;
}

// A plain unsigned decimal of at most `maxDigits` digits; nothing else.
bool ParseCount(const std::string& text, size_t maxDigits, uint32_t& value) {
    if (text.empty() || text.size() > maxDigits) return false;
    uint32_t v = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
        v = v * 10 + uint32_t(c - '0');
    }
    value = v;
    return true;
}

ParseOutcome UsageError(std::string line) {
    ParseOutcome outcome;
    outcome.action = CliAction::UsageError;
    outcome.text = std::move(line);
    return outcome;
}

// The option a CLI11 value error is about: its messages start with the name.
std::string OptionNamed(const std::string& message) {
    for (const char* name : {"--task", "--threads", "--repeat", "--format", "--save-primes", "--save-grid"}) {
        const std::string n = name;
        if (message.compare(0, n.size(), n) == 0) return n;
    }
    return {};
}

}  // namespace

std::vector<uint16_t> OfferedThreadCounts(uint32_t processors) {
    std::vector<uint16_t> counts;
    const int top = ThreadListTop(processors);
    for (int k = 0; k <= top; ++k) counts.push_back(ThreadCountOfEntry(uint32_t(k)));
    return counts;
}

std::string UsageLine() {
    return "usage: vantrel-cli [--task LABEL] [--threads T | --sweep] [--repeat R] [--format table|csv|json] "
           "[--events] [--save-primes FILE] [--save-grid FILE] [--help] [--version]";
}

std::string VersionText() { return std::string("vantrel-cli ") + VANTREL_VERSION + "\n"; }

ParseOutcome ParseCommandLine(const std::vector<std::string>& args, uint32_t processors) {
    CLI::App app{"Vantrel prime-search CPU benchmark, headless runner. Finds the first N primes with T worker "
                 "threads and reports the wall-clock time.",
                 "vantrel-cli"};
    app.set_help_flag("--help", "Print this help and exit");
    app.set_version_flag("--version", std::string("vantrel-cli ") + VANTREL_VERSION, "Print the version and exit");
    std::string task = TaskTable::Label(TaskTable::defaultIndex);
    std::string threads;
    std::string repeat;
    std::string format = "table";
    bool sweep = false;
    bool events = false;
    app.allow_extras();
    app.add_option("--task", task, "Task size: " + JoinedLabels() + " (default 1M)")->type_name("LABEL");
    CLI::Option* threadsOption = app.add_option(
        "--threads", threads, "Worker threads, one of the counts offered here: " + JoinedCounts(OfferedThreadCounts(processors)) +
                                  " (default 1)");
    threadsOption->type_name("T");
    CLI::Option* sweepOption = app.add_flag("--sweep", sweep, "Run every offered thread count in turn, with speedup and efficiency");
    sweepOption->disable_flag_override();
    threadsOption->excludes(sweepOption);
    CLI::Option* repeatOption = app.add_option("--repeat", repeat, "Runs of each setting; reports the minimum and the median (default 1)")
        ->type_name("R");
    app.add_option("--format", format, "Report format: table, csv or json (default table)")->type_name("FORMAT");
    app.add_flag("--events", events, "Print each notification (progress INDEX PRIME, finished INDEX PRIME) on stdout; "
                                     "the report goes to stderr")
        ->disable_flag_override();
    std::string savePrimes;
    std::string saveGrid;
    CLI::Option* savePrimesOption =
        app.add_option("--save-primes", savePrimes,
                       "Save the primes of the last run (finished, or stopped by Ctrl-C) to FILE as the Windows "
                       "program does: one INDEX-PRIME line per prime, CR LF")
            ->type_name("FILE");
    CLI::Option* saveGridOption =
        app.add_option("--save-grid", saveGrid,
                       "Save one row per run of this invocation (Task, Thread Count, Last Prime, Time) to FILE as "
                       "the Windows program saves its grid: UTF-8 with byte-order mark, cells followed by two TABs, "
                       "CR LF")
            ->type_name("FILE");
    app.footer("A missing folder or any failure to write a file is reported on one line and ends with exit code 1; "
               "an incomplete file is removed.\n"
               "Exit codes: 0 done and verified, 1 wrong result, engine failure or failed save, 2 bad input, "
               "130 interrupted (what was found is still saved).");

    std::vector<std::string> reversed(args.rbegin(), args.rend());
    try {
        app.parse(reversed);
    } catch (const CLI::CallForHelp&) {
        ParseOutcome outcome;
        outcome.action = CliAction::Help;
        outcome.text = app.help();
        return outcome;
    } catch (const CLI::CallForVersion&) {
        ParseOutcome outcome;
        outcome.action = CliAction::Version;
        outcome.text = VersionText();
        return outcome;
    } catch (const CLI::ExtrasError& e) {
        // CLI11 ends its message with the arguments it did not expect.
        const std::string what = e.what();
        const size_t colon = what.rfind("expected: ");
        const std::string unexpected = colon == std::string::npos ? what : what.substr(colon + 10);
        return UsageError("unknown argument " + unexpected + "; valid options: " + kOptionList);
    } catch (const CLI::ExcludesError&) {
        return UsageError("--threads and --sweep exclude each other; valid: one of --threads T (" +
                          JoinedCounts(OfferedThreadCounts(processors)) + ") or --sweep");
    } catch (const CLI::ParseError& e) {
        const std::string what = e.what();
        const std::string option = OptionNamed(what);
        if (!option.empty()) {
            const bool repeated = what.find("At Most") != std::string::npos;
            return UsageError(option + (repeated ? " given more than once" : " needs a value") + "; " +
                              ValidValuesOf(option, processors));
        }
        if (what.find("flag override") != std::string::npos) {
            const std::string flag = what.substr(0, what.find(' '));
            return UsageError("--" + flag + " takes no value; valid options: " + kOptionList);
        }
        return UsageError(what + "; valid options: " + kOptionList);
    }

    const std::vector<std::string> extras = app.remaining();
    if (!extras.empty()) return UsageError("unknown argument \"" + extras.front() + "\"; valid options: " + kOptionList);

    ParseOutcome outcome;
    outcome.action = CliAction::Run;
    RunnerOptions& options = outcome.options;

    // An option name where a value belongs means the value was left out.
    auto missing = [&](const std::string& option, const std::string& value) {
        return !value.empty() && value[0] == '-' && value.size() > 1 && value[1] == '-' ? option + " needs a value; "
                                                                                        : std::string();
    };

    options.taskIndex = TaskTable::Find(task);
    if (options.taskIndex < 0) {
        const std::string lead = missing("--task", task);
        return UsageError((lead.empty() ? "unknown task \"" + task + "\"; " : lead) + ValidTasksText());
    }

    const std::vector<uint16_t> offered = OfferedThreadCounts(processors);
    options.sweep = sweep;
    if (sweep) {
        options.threadCounts = offered;
    } else if (threadsOption->count() > 0) {
        uint32_t t = 0;
        if (!ParseCount(threads, 6, t) || std::find(offered.begin(), offered.end(), t) == offered.end()) {
            const std::string lead = missing("--threads", threads);
            return UsageError((lead.empty() ? "thread count \"" + threads + "\" is not offered; " : lead) +
                              ValidThreadsText(processors));
        }
        options.threadCounts.push_back(uint16_t(t));
    } else {
        options.threadCounts.push_back(1);
    }

    if (repeatOption->count() > 0) {
        uint32_t r = 0;
        if (!ParseCount(repeat, 4, r) || r < 1 || r > uint32_t(kMaxRepeat)) {
            const std::string lead = missing("--repeat", repeat);
            return UsageError((lead.empty() ? "repeat count \"" + repeat + "\" is out of range; " : lead) +
                              ValidRepeatText());
        }
        options.repeat = int(r);
    }

    if (format == "table") {
        options.format = ReportFormat::Table;
    } else if (format == "csv") {
        options.format = ReportFormat::Csv;
    } else if (format == "json") {
        options.format = ReportFormat::Json;
    } else {
        const std::string lead = missing("--format", format);
        return UsageError((lead.empty() ? "unknown format \"" + format + "\"; " : lead) + ValidFormatsText());
    }

    options.events = events;

    // The export job holds a name of limited length and the writers open it
    // as given, so a name is checked here rather than cut or changed later.
    auto checkFile = [&](const std::string& option, const std::string& value) -> std::string {
        const std::string lead = missing(option, value);
        if (!lead.empty()) return lead + ValidFileText();
        if (value.empty()) return option + " needs a file name; " + ValidFileText();
        if (!JobPathOf(value)) {
#if defined(_WIN32)
            const char* const encoding = " in the system's code page";
#else
            const char* const encoding = " in UTF-8";
#endif
            return option + " cannot take \"" + OneLine(value) + "\"; " + ValidFileText() + encoding;
        }
        return {};
    };
    if (savePrimesOption->count() > 0) {
        const std::string problem = checkFile("--save-primes", savePrimes);
        if (!problem.empty()) return UsageError(problem);
        options.savePrimes = savePrimes;
    }
    if (saveGridOption->count() > 0) {
        const std::string problem = checkFile("--save-grid", saveGrid);
        if (!problem.empty()) return UsageError(problem);
        options.saveGrid = saveGrid;
    }
    if (!options.savePrimes.empty() && !options.saveGrid.empty() &&
        std::filesystem::path(options.savePrimes).lexically_normal() ==
            std::filesystem::path(options.saveGrid).lexically_normal()) {
        return UsageError("--save-primes and --save-grid name the same file; valid: two different files");
    }
    return outcome;
}
