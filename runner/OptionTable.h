// A program's options as one table on CLI11: the help, the usage line, the
// list of valid options and every message about a bad command line come from
// it, so that programs sharing options share their words too. Beside it the
// pieces the tables of both programs and the subcommands are built from.
#pragma once

#include <CLI/CLI.hpp>

#include <functional>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

// One option: how the help, the usage line and the messages show it, and
// which values it takes.
struct OptionDef {
    std::string name;      // "--task"
    std::string value;     // follows the name in the usage line ("LABEL"); empty for a flag
    std::string help;
    std::string valid;     // ends a message about its value ("valid tasks: ...")
    CLI::Validator check;  // CLI11's check of a value; it may rewrite it for the conversion ("1M" to its row)
    std::function<std::string(const std::string& value)> refusal = {};  // the message when check refuses
    std::string excludes = {};   // an option listed earlier that cannot go with this one, its alternative in the usage line,
    std::string exclusion = {};  // and the message when both are given
    // Further options listed earlier that cannot go with this one, each with
    // the message when both are given; the usage line shows them apart.
    std::vector<std::pair<std::string, std::string>> conflicts = {};
    std::string needs = {};  // an option listed earlier without which this one cannot be given,
    std::string unmet = {};  // and the message when it is missing
};

// A flag given a value ("--events=1"); CLI11 makes "true" of the bare flag.
extern const CLI::Validator kNoValue;

// A count in plain decimal digits, at most maxDigits of them, passed on
// without leading zeros (to CLI11, "010" is octal and "0x10" hex).
CLI::Validator PlainCount(size_t maxDigits);

// "WHAT "VALUE"AFTER; VALID": how most options refuse a value.
std::function<std::string(const std::string&)> Refused(std::string what, std::string after, std::string valid);

// An option that takes one of the named choices, turned into its value; any
// other is refused as "unknown WHAT".
template <class T>
OptionDef ChoiceOption(std::string name, std::string value, std::string help, const std::string& what,
                       std::string valid, const std::vector<std::pair<std::string, T>>& choices) {
    auto refusal = Refused("unknown " + what, "", valid);
    return {std::move(name), std::move(value), std::move(help), std::move(valid),
            CLI::IsMember(choices) & CLI::Transformer(choices), std::move(refusal)};
}

// Any value but an empty one.
extern const CLI::Validator kNotEmpty;

// A number in plain decimal notation ("5", "2.5", "0.05": at most nine digits,
// then optionally a point and at most nine more) for which inRange holds;
// CLI11 alone would take "1e3", "0x10" and "inf" too.
CLI::Validator Decimal(std::function<bool(double)> inRange);

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
    // option taking one value, refused in the table's words.
    template <class T>
    void Add(CLI::App& app, const std::string& name, T& target) const {
        const OptionDef& def = (*this)[name];
        CLI::Option* option = nullptr;
        if constexpr (std::is_same_v<T, bool>) {
            option = app.add_flag(def.name, target, def.help);
        } else {
            option = app.add_option(def.name, target, def.help)->type_name(def.value);
        }
        // A check that may rewrite the value, as transform() adds one (GCC 12
        // flags transform()'s insertion with a false -Wnull-dereference).
        option->check(CLI::Validator([this, &def](std::string& value) { return Checked(def, value); }, ""))
            ->get_validator()
            ->non_modifying(false);
        if (!def.excludes.empty()) option->excludes(app.get_option(def.excludes));
        for (const auto& conflict : def.conflicts) option->excludes(app.get_option(conflict.first));
        if (!def.needs.empty()) option->needs(app.get_option(def.needs));
    }

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
