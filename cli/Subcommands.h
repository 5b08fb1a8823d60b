// The runner's subcommands, history and compare, on its CLI11 app: each with
// an option table of its own, so that its help, its usage line and every
// message about its command line come from that table.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "results/Compare.h"
#include "results/History.h"
#include "runner/OptionTable.h"

// What a subcommand's help says around its option table, which its manual
// page shows too.
struct SubcommandWords {
    std::string name;
    std::string description;
    std::string footer;
    std::vector<std::pair<std::string, std::string>> operands = {};  // its positionals in order: name, help
};
SubcommandWords HistoryWords();
SubcommandWords CompareWords();

class Subcommands {
public:
    // Adds history and compare to app, their options bound to history and
    // compare; app keeps pointers to this object's tables.
    Subcommands(CLI::App& app, HistoryOptions& history, CompareOptions& compare);
    Subcommands(const Subcommands&) = delete;
    Subcommands& operator=(const Subcommands&) = delete;

    // The subcommand on the command line: "history", "compare", or empty.
    std::string Given() const;
    // Its usage line.
    std::string Usage() const;
    // True when it asks for its help.
    bool HelpAsked() const;
    // The one line that says why CLI11 refused its part of args.
    std::string Explain(const CLI::Error& error, const std::vector<std::string>& args) const;
    // After a parse CLI11 took: fills in the options CLI11 cannot bind
    // directly; returns the one line refusing what is left over, or nothing.
    std::string Finish();

private:
    const CLI::App* GivenApp() const;
    const OptionTable& GivenTable() const;

    OptionTable historyTable;
    OptionTable compareTable;
    CLI::App* historyApp;
    CLI::App* compareApp;
    HistoryOptions& history;
    CompareOptions& compare;
    uint16_t threads = 0;
    double failOnSlowdown = 0.0;
};
