// What parses a command line against an option table: the checks of values
// the tables share, on CLI11's validators, and the binding of a table's
// options to a CLI11 app. Only the files that build tables or parse include
// it (see runner/OptionTable.h).
#pragma once

#include <CLI/CLI.hpp>

#include <type_traits>

#include "runner/OptionTable.h"

// A flag given a value ("--events=1"); CLI11 makes "true" of the bare flag.
extern const CLI::Validator kNoValue;

// A count in plain decimal digits, at most maxDigits of them, passed on
// without leading zeros (to CLI11, "010" is octal and "0x10" hex).
CLI::Validator PlainCount(size_t maxDigits);

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

template <class T>
void OptionTable::Add(CLI::App& app, const std::string& name, T& target) const {
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
