#include "cli/Subcommands.h"

#include <cstdlib>

#include "cli/ResultStore.h"
#include "cli/SaveFileName.h"
#include "engine/PrimeCoordinator.h"
#include "engine/TaskTable.h"

namespace {

// "WHAT "VALUE"AFTER; VALID"
std::function<std::string(const std::string&)> Refused(std::string what, std::string after, std::string valid) {
    return [=](const std::string& value) { return what + " \"" + value + "\"" + after + "; " + valid; };
}

// Any value but an empty one.
const CLI::Validator kNotEmpty([](std::string& value) { return value.empty() ? "empty" : ""; }, "");

// A number in plain decimal notation ("5", "2.5", "0.05") for which inRange
// holds; CLI11 alone would take "1e3", "0x10" and "inf" too.
CLI::Validator Decimal(std::function<bool(double)> inRange) {
    return CLI::Validator(
        [inRange](std::string& value) -> std::string {
            const size_t point = value.find('.');
            const std::string whole = value.substr(0, point);
            const std::string fraction = point == std::string::npos ? "0" : value.substr(point + 1);
            auto digits = [](const std::string& part) {
                return !part.empty() && part.size() <= 9 && part.find_first_not_of("0123456789") == std::string::npos;
            };
            if (!digits(whole) || !digits(fraction)) return "not a number";
            return inRange(std::strtod(value.c_str(), nullptr)) ? "" : "out of range";
        },
        "");
}

struct Formats {
    std::vector<std::pair<std::string, ReportFormat>> names = {
        {"table", ReportFormat::Table}, {"csv", ReportFormat::Csv}, {"json", ReportFormat::Json}};
    std::string valid = "valid formats: table csv json";
};

OptionDef FormatOption(const std::string& help) {
    const Formats formats;
    return {"--format", "table|csv|json", help, formats.valid,
            CLI::IsMember(formats.names) & CLI::Transformer(formats.names),
            Refused("unknown format", "", formats.valid)};
}

OptionDef HelpOption() { return {"--help", "", "Print this help and exit", "", {}}; }

OptionTable HistoryTable() {
    std::vector<std::string> tasks;
    std::string labels;
    for (int i = 0; i < TaskTable::count; ++i) {
        tasks.push_back(TaskTable::Label(i));
        labels += (i == 0 ? "" : " ") + tasks.back();
    }
    const std::string storeValid = "valid: the file of a result store that --db FILE of a run wrote";
    const std::string tasksValid = "valid tasks: " + labels;
    const std::string maxThreads = std::to_string(PrimeCoordinator::kMaxThreads);
    const std::string threadsValid = "valid thread counts: 1 to " + maxThreads;
    const std::string lastValid = "valid counts: 1 to 1000000";
    const std::string chartValid = "valid: a file name without control characters, as history.svg";
    OptionDef plot = {"--plot", "FILE.svg",
                       "Draw the median time of one task over the invocations, one line per thread count, as an SVG "
                       "chart (with gnuplot); give --task when the store holds several tasks",
                       chartValid, ChartFileName(),
                       [chartValid](const std::string& value) {
                           return value.empty() ? "--plot needs a file name; " + chartValid
                                                : "--plot cannot take \"" + OneLine(value) + "\"; " + chartValid;
                       }};
    return OptionTable(
        "vantrel-cli history",
        {{"--db", "FILE", "The result store (default: the file the environment variable VANTREL_DB names)",
          storeValid, kNotEmpty, [storeValid](const std::string&) { return "--db needs a file name; " + storeValid; }},
         {"--task", "LABEL", "Only this task: " + labels, tasksValid, CLI::IsMember(tasks),
          Refused("unknown task", "", tasksValid)},
         {"--threads", "T", "Only this thread count: 1 to " + maxThreads, threadsValid,
          PlainCount(3) & CLI::Range(1, int(PrimeCoordinator::kMaxThreads)),
          Refused("thread count", " is out of range", threadsValid)},
         {"--last", "N", "Only the latest N invocations that match", lastValid,
          PlainCount(7) & CLI::Range(1, 1000000), Refused("count", " is out of range", lastValid)},
         FormatOption("Output format: table, csv or json (default table)"),
         plot,
         HelpOption()});
}

OptionTable CompareTable() {
    const std::string gateValid = "valid: a percentage of 0 or more, as 5 or 2.5";
    const std::string alphaValid = "valid: a significance level between 0 and 1, as 0.05 or 0.01";
    // BASE and NEW are CLI11's positionals, shown here where the usage line
    // puts them: right after the subcommand.
    return OptionTable(
        "vantrel-cli compare BASE NEW",
        {{"--fail-on-slowdown", "PCT",
          "Regression gate: exit 1 when a setting is slower by more than PCT percent and, where both sides have 5 "
          "runs or more, significantly so",
          gateValid, Decimal([](double v) { return v >= 0.0; }), Refused("percentage", " is not valid", gateValid)},
         {"--alpha", "A", "Significance level of the two-sided Mann-Whitney U test (default 0.05)", alphaValid,
          Decimal([](double v) { return v > 0.0 && v < 1.0; }), Refused("significance level", " is not valid", alphaValid)},
         FormatOption("Output format: table, csv or json (default table)"),
         HelpOption()});
}

const char* const kCompareOperands =
    "compare needs two results, BASE and NEW; valid: JSON reports of vantrel-cli (--format json), or stored "
    "invocations db:FILE:ID, db:FILE:last, db:FILE:last~K";

}  // namespace

CLI::Validator ChartFileName() {
    return CLI::Validator(
        [](std::string& value) {
            for (char c : value) {
                if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) return "a control character";
            }
            return value.empty() ? "empty" : "";
        },
        "");
}

Subcommands::Subcommands(CLI::App& app, HistoryOptions& history_, CompareOptions& compare_)
    : historyTable(HistoryTable()), compareTable(CompareTable()), history(history_), compare(compare_) {
    historyApp = app.add_subcommand("history", "The invocations kept in a result store, newest first: one line per "
                                               "invocation, task and thread count, with the median time");
    historyApp->set_help_flag("--help", historyTable["--help"].help);
    historyTable.Add(*historyApp, "--db", history.db);
    historyTable.Add(*historyApp, "--task", history.task);
    historyTable.Add(*historyApp, "--threads", threads);
    historyTable.Add(*historyApp, "--last", history.last);
    historyTable.Add(*historyApp, "--format", history.format);
    historyTable.Add(*historyApp, "--plot", history.plot);
    historyApp->footer("Exit codes: 0 listed (and drawn), 1 the chart could not be drawn (the lines are printed), "
                       "2 bad input or a store that cannot be read.");

    compareApp = app.add_subcommand("compare", "Two results side by side, setting by setting, with a significance "
                                               "test and a regression gate");
    compareApp->set_help_flag("--help", compareTable["--help"].help);
    compareApp->add_option("BASE", compare.base, "The results compared against: a JSON report of vantrel-cli, or a "
                                                 "stored invocation db:FILE:ID, db:FILE:last, db:FILE:last~K")
        ->required()
        ->type_name("");
    compareApp->add_option("NEW", compare.next, "The results compared, in the same forms")->required()->type_name("");
    compareTable.Add(*compareApp, "--fail-on-slowdown", failOnSlowdown);
    compareTable.Add(*compareApp, "--alpha", compare.alpha);
    compareTable.Add(*compareApp, "--format", compare.format);
    compareApp->footer("Exit codes: 0 compared, no setting past the gate; 1 a setting slower than the gate allows "
                       "(each named on stderr); 2 bad input, a file or id that cannot be read, or nothing in common.");
}

const CLI::App* Subcommands::GivenApp() const {
    if (historyApp->parsed()) return historyApp;
    return compareApp->parsed() ? compareApp : nullptr;
}

const OptionTable& Subcommands::GivenTable() const {
    return GivenApp() == historyApp ? historyTable : compareTable;
}

std::string Subcommands::Given() const { return GivenApp() != nullptr ? GivenApp()->get_name() : std::string(); }

std::string Subcommands::Usage() const { return GivenTable().Usage(); }

bool Subcommands::HelpAsked() const { return GivenApp() != nullptr && GivenApp()->get_help_ptr()->count() > 0; }

std::string Subcommands::Explain(const CLI::Error& error, const std::vector<std::string>& args) const {
    if (GivenApp() == compareApp && dynamic_cast<const CLI::RequiredError*>(&error) != nullptr &&
        (compareApp->count("BASE") == 0 || compareApp->count("NEW") == 0)) {
        return kCompareOperands;
    }
    return GivenTable().Explain(*GivenApp(), error, args);
}

std::string Subcommands::Finish() {
    const CLI::App* app = GivenApp();
    if (!app->remaining().empty()) return GivenTable().Unknown(app->remaining().front());
    if (app == historyApp && !ResultStoreAvailable()) {
        return "history: this build of vantrel-cli has no result store (it was built without SQLite); valid: JSON "
               "reports (--format json), compared with vantrel-cli compare";
    }
    if (app == historyApp && historyApp->count("--threads") > 0) history.threads = threads;
    if (app == compareApp && compareApp->count("--fail-on-slowdown") > 0) compare.failOnSlowdownPercent = failOnSlowdown;
    return {};
}
