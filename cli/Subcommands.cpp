#include "cli/Subcommands.h"

#include "results/ResultOptions.h"
#include "results/ResultStore.h"
#include "runner/OptionParsing.h"

SubcommandWords HistoryWords() {
    return {"history",
            "The invocations kept in a result store, newest first: one line per invocation, task and thread count, "
            "with the median time",
            "Exit codes: 0 listed (and drawn), 1 the chart could not be drawn (the lines are printed), 2 bad input or a "
            "store that cannot be read."};
}

SubcommandWords CompareWords() {
    return {"compare",
            "Two results side by side, setting by setting, with a significance test and a regression gate",
            "Exit codes: 0 compared, no setting past the gate; 1 a setting slower than the gate allows (each named on "
            "stderr); 2 bad input, a file or id that cannot be read, or nothing in common.",
            {{"BASE", "The results compared against: a JSON report of vantrel-cli, or a stored invocation db:FILE:ID, "
                      "db:FILE:last, db:FILE:last~K"},
             {"NEW", "The results compared, in the same forms"}}};
}

Subcommands::Subcommands(CLI::App& app, HistoryOptions& history_, CompareOptions& compare_)
    : historyTable(HistoryOptionTable()), compareTable(CompareOptionTable()), history(history_), compare(compare_) {
    const SubcommandWords historyWords = HistoryWords();
    historyApp = app.add_subcommand(historyWords.name, historyWords.description);
    historyApp->set_help_flag("--help", historyTable["--help"].help);
    historyTable.Add(*historyApp, "--db", history.db);
    historyTable.Add(*historyApp, "--task", history.task);
    historyTable.Add(*historyApp, "--threads", threads);
    historyTable.Add(*historyApp, "--last", history.last);
    historyTable.Add(*historyApp, "--format", history.format);
    historyTable.Add(*historyApp, "--plot", history.plot);
    historyApp->footer(historyWords.footer);

    const SubcommandWords compareWords = CompareWords();
    compareApp = app.add_subcommand(compareWords.name, compareWords.description);
    compareApp->set_help_flag("--help", compareTable["--help"].help);
    const auto& [base, baseHelp] = compareWords.operands.at(0);
    const auto& [next, nextHelp] = compareWords.operands.at(1);
    compareApp->add_option(base, compare.baseSource, baseHelp)->required()->type_name("");
    compareApp->add_option(next, compare.newSource, nextHelp)->required()->type_name("");
    compareTable.Add(*compareApp, "--fail-on-slowdown", failOnSlowdown);
    compareTable.Add(*compareApp, "--alpha", compare.alpha);
    compareTable.Add(*compareApp, "--format", compare.format);
    compareApp->footer(compareWords.footer);
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
