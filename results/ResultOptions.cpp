#include "results/ResultOptions.h"

#include "engine/PrimeCoordinator.h"
#include "engine/Text.h"
#include "results/Charts.h"
#include "results/ResultStore.h"
#include "runner/OptionParsing.h"

namespace {

// A chart's --plot: `example` names a file in the valid values.
OptionDef ChartOption(const std::string& help, const std::string& example) {
    const std::string valid = "valid: a file name without control characters, as " + example;
    return {"--plot", "FILE.svg", help, valid, ChartFileName(), [valid](const std::string& value) {
                return value.empty() ? "--plot needs a file name; " + valid
                                     : "--plot cannot take \"" + OneLine(value) + "\"; " + valid;
            }};
}

// --db of a run and of history: a file's name. SQLite's ":memory:" would be
// a database that keeps nothing, and then nothing were stored or listed.
OptionDef StoreOption(const std::string& help, const std::string& valid) {
    const CLI::Validator fileName(
        [](std::string& value) { return value.empty() ? "empty" : value == ":memory:" ? "in memory" : ""; }, "");
    return {"--db", "FILE", help, valid, fileName, [valid](const std::string& value) {
                if (value.empty()) return "--db needs a file name; " + valid;
                return "--db cannot take \":memory:\", SQLite's name for a database in memory, which keeps nothing; " +
                       valid;
            }};
}

// What an option that this build cannot serve takes: nothing, with `why`.
void Unavailable(OptionDef& option, std::string why) {
    option.check = CLI::Validator([](std::string&) { return "unavailable"; }, "");
    option.refusal = [why](const std::string&) { return why; };
}

}  // namespace

std::vector<OptionDef> StoreOptionDefs() {
    const std::string storeValid = "valid: a file name (the store is created on first use)";
    OptionDef db = StoreOption("Store this invocation and all of its runs in the result store FILE (an SQLite database, "
                               "created on first use) once the runs end, also after a wrong result or Ctrl-C; default: "
                               "the file the environment variable VANTREL_DB names, else nothing is stored",
                               storeValid);
    if (!ResultStoreAvailable()) {
        Unavailable(db, "--db: this build of vantrel-cli has no result store (it was built without SQLite); valid: a "
                        "JSON report (--format json), which vantrel-cli compare reads");
    }
    return {db,
            {"--label", "TEXT", "A label of your own, kept with the stored invocation (history shows it)",
             "valid: any text, as \"nightly\"", CLI::Validator([](std::string&) { return std::string(); }, "")}};
}

OptionDef SweepChartOption() {
    OptionDef plot = ChartOption("With --sweep: once the results are printed, draw the speedup against the thread "
                                 "count as an SVG chart (with gnuplot); not drawn when a run was wrong or stopped",
                                 "speedup.svg");
    plot.needs = "--sweep";
    plot.unmet = "--plot draws the speedup of a sweep and goes with --sweep only; valid: --sweep --plot FILE.svg, or "
                 "history --plot FILE.svg for stored times";
    if (!ChartsAvailable()) {
        Unavailable(plot, "--plot: this build of vantrel-cli draws no charts (it cannot run gnuplot); valid: --format "
                          "csv or json, drawn with a tool of your own");
    }
    return plot;
}

OptionCheck ChartFileName() {
    return CLI::Validator(
        [](std::string& value) {
            for (char c : value) {
                if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) return "a control character";
            }
            return value.empty() ? "empty" : "";
        },
        "");
}

OptionTable HistoryOptionTable() {
    std::vector<std::string> tasks;
    for (const auto& [label, index] : TaskChoices()) tasks.push_back(label);
    const std::string storeValid = "valid: the file of a result store that --db FILE of a run wrote";
    const std::string tasksValid = "valid tasks: " + TaskLabels();
    const std::string maxThreads = std::to_string(PrimeCoordinator::kMaxThreads);
    const std::string threadsValid = "valid thread counts: 1 to " + maxThreads;
    const std::string lastValid = "valid counts: 1 to 1000000";
    return OptionTable(
        "vantrel-cli history",
        {StoreOption("The result store (default: the file the environment variable VANTREL_DB names)", storeValid),
         {"--task", "LABEL", "Only this task: " + TaskLabels(), tasksValid, CLI::IsMember(tasks),
          Refused("unknown task", "", tasksValid)},
         {"--threads", "T", "Only this thread count: 1 to " + maxThreads, threadsValid,
          PlainCount(3) & CLI::Range(1, int(PrimeCoordinator::kMaxThreads)),
          Refused("thread count", " is out of range", threadsValid)},
         {"--last", "N", "Only the latest N invocations that match", lastValid,
          PlainCount(7) & CLI::Range(1, 1000000), Refused("count", " is out of range", lastValid)},
         FormatOption("Output format: table, csv or json (default table)"),
         ChartOption("Draw the median time of one task over the invocations, one line per thread count, as an SVG "
                     "chart (with gnuplot); give --task when the store holds several tasks",
                     "history.svg"),
         HelpOption()});
}

OptionTable CompareOptionTable() {
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
