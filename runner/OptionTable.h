// A program's options as one table on CLI11: the help, the usage line, the
// list of valid options and every message about a bad command line come from
// it, so that programs sharing options share their words too. Beside it the
// pieces the tables of both programs and the subcommands are built from.
//
// CLI11's header costs seconds of compile time in every file that includes
// it, and most files that know a table (the docs, the fleet's report, the
// sessions) only read its words: this header leaves CLI11 out, and
// runner/OptionParsing.h, for the files that parse, brings it in.
#pragma once

#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace CLI {
class App;
class Error;
}  // namespace CLI

// The check of a value: empty when it is taken, else why not; it may
// rewrite the value for the conversion ("1M" to its row). A CLI11 validator
// is one (runner/OptionParsing.h has those the tables share).
using OptionCheck = std::function<std::string(std::string& value)>;

// One option: how the help, the usage line and the messages show it, and
// which values it takes.
struct OptionDef {
    std::string name;      // "--task"
    std::string value;     // follows the name in the usage line ("LABEL"); empty for a flag
    std::string help;
    std::string valid;     // ends a message about its value ("valid tasks: ...")
    OptionCheck check;     // empty: any value is taken
    std::function<std::string(const std::string& value)> refusal = {};  // the message when check refuses
    std::string excludes = {};   // an option listed earlier that cannot go with this one, its alternative in the usage line,
    std::string exclusion = {};  // and the message when both are given
    // Further options listed earlier that cannot go with this one, each with
    // the message when both are given; the usage line shows them apart.
    std::vector<std::pair<std::string, std::string>> conflicts = {};
    std::string needs = {};  // an option listed earlier without which this one cannot be given,
    std::string unmet = {};  // and the message when it is missing
};

// "WHAT "VALUE"AFTER; VALID": how most options refuse a value.
std::function<std::string(const std::string&)> Refused(std::string what, std::string after, std::string valid);

// The task labels as the help lists them, "100K 500K ... 200M", and each
// label with its index in the task table.
std::string TaskLabels();
std::vector<std::pair<std::string, int>> TaskChoices();

// --format table|csv|json with the help given, --help and --version.
OptionDef FormatOption(const std::string& help);
OptionDef HelpOption();
OptionDef VersionOption();

// What a program with subcommands changes in OptionTable::Parse: who explains
// a refusal (by default the table), and whether a subcommand's --help was
// given (CLI11 checks values before it looks for help).
struct ParseHooks {
    std::function<std::string(const CLI::App& failed, const CLI::Error& error)> explain = {};
    std::function<bool()> helpAsked = {};
};

class OptionTable {
public:
    // The options in the order the help, the usage line and the list show them.
    OptionTable(std::string program, std::vector<OptionDef> defs);

    const OptionDef& operator[](const std::string& name) const;
    const std::vector<OptionDef>& Defs() const { return defs; }

    std::string Usage() const;  // "usage: vantrel-cli [--task LABEL] [--threads T | --sweep] ..."
    std::string Unknown(const std::string& argument) const;  // "unknown argument "X"; valid options: ..."

    // Adds option `name` to app, bound to target: a flag for a bool, else an
    // option taking one value, refused in the table's words. Defined in
    // runner/OptionParsing.h.
    template <class T>
    void Add(CLI::App& app, const std::string& name, T& target) const;

    // The one line that says why CLI11 refused the command line `args`: for
    // app.failure_message.
    std::string Explain(const CLI::App& app, const CLI::Error& error, const std::vector<std::string>& args) const;

    // How a command line parsed by Parse ends.
    enum class Ending { Parsed, Help, Version, UsageError };
    struct Parsed {
        Ending ending = Ending::UsageError;
        std::string text;  // Help/Version: the text for stdout; UsageError: one line, no newline
    };

    // Parses args (without the program name) into the targets Add bound on
    // app, whose help and version flags are set; every refusal in the
    // table's words.
    Parsed Parse(CLI::App& app, const std::vector<std::string>& args, const ParseHooks& hooks = {}) const;

private:
    std::string ValidOptions() const;
    std::string Checked(const OptionDef& def, std::string& value) const;

    std::string program;
    std::vector<OptionDef> defs;
};
