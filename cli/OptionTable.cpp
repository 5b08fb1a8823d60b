#include "cli/OptionTable.h"

#include <algorithm>
#include <sstream>
#include <stdexcept>

namespace {

std::string Shown(const OptionSpec& spec) { return spec.value.empty() ? spec.name : spec.name + " " + spec.value; }

}  // namespace

const CLI::Validator kNoValue([](std::string& value) { return value == "true" ? std::string() : "a value"; }, "");

CLI::Validator PlainCount(size_t maxDigits) {
    return CLI::Validator(
        [maxDigits](std::string& value) -> std::string {
            if (value.empty() || value.size() > maxDigits || value.find_first_not_of("0123456789") != std::string::npos) {
                return "not a count";
            }
            value.erase(0, std::min(value.find_first_not_of('0'), value.size() - 1));
            return {};
        },
        "");
}

OptionTable::OptionTable(std::string program_, std::vector<OptionSpec> specs_)
    : program(std::move(program_)), specs(std::move(specs_)) {}

const OptionSpec& OptionTable::operator[](const std::string& name) const {
    for (const OptionSpec& spec : specs) {
        if (spec.name == name) return spec;
    }
    throw std::logic_error("no option " + name);
}

std::string OptionTable::Usage() const {
    std::string text = "usage: " + program;
    for (const OptionSpec& spec : specs) {
        if (!spec.excludes.empty()) continue;  // shown with the option it excludes
        text += " [" + Shown(spec);
        for (const OptionSpec& other : specs) text += other.excludes == spec.name ? " | " + Shown(other) : "";
        text += "]";
    }
    return text;
}

std::string OptionTable::ValidOptions() const {
    std::string text = "valid options: ";
    for (const OptionSpec& spec : specs) text += (&spec == &specs.front() ? "" : ", ") + Shown(spec);
    return text;
}

std::string OptionTable::Unknown(const std::string& argument) const {
    return "unknown argument \"" + argument + "\"; " + ValidOptions();
}

std::string OptionTable::Checked(const OptionSpec& spec, std::string& value) const {
    // CLI11 takes the next argument for the value even when it is an option.
    if (!spec.value.empty() && value.rfind("--", 0) == 0) return spec.name + " needs a value; " + spec.valid;
    std::string checked = value;
    std::string failure;
    try {
        failure = spec.check(checked);
    } catch (const CLI::ValidationError&) {
        failure = "refused";  // IsMember throws, with no message, for a value that does not convert
    }
    if (failure.empty()) {
        value = checked;
        return {};
    }
    if (spec.refusal) return spec.refusal(value);
    return spec.name + " takes no value; " + ValidOptions();
}

std::string OptionTable::Explain(const CLI::App& app, const CLI::Error& error, const std::vector<std::string>& args) const {
    const std::string what = error.what();
    auto given = [&app](const std::string& name) {
        const CLI::Option* option = app.get_option_no_throw(name);
        return option != nullptr ? option->count() : 0;
    };
    for (const OptionSpec& spec : specs) {
        // CLI11 puts the option's name before the message Checked gave.
        if (dynamic_cast<const CLI::ValidationError*>(&error) != nullptr && what.rfind(spec.name + ": ", 0) == 0) {
            return what.substr(spec.name.size() + 2);
        }
        if (dynamic_cast<const CLI::ExcludesError*>(&error) != nullptr && given(spec.name) > 0) {
            if (!spec.excludes.empty() && given(spec.excludes) > 0) return spec.exclusion;
            for (const auto& [other, message] : spec.conflicts) {
                if (given(other) > 0) return message;
            }
        }
        if (dynamic_cast<const CLI::RequiresError*>(&error) != nullptr && !spec.needs.empty() && given(spec.name) > 0 &&
            given(spec.needs) == 0) {
            return spec.unmet;
        }
        if (dynamic_cast<const CLI::ArgumentMismatch*>(&error) != nullptr && !spec.value.empty() && given(spec.name) > 1) {
            return spec.name + " given more than once; " + spec.valid;
        }
    }
    if (dynamic_cast<const CLI::ExtrasError*>(&error) != nullptr) return Unknown(app.remaining().front());
    // Else the command line ended where a value was due ("--task", "--task=").
    const std::string last = args.empty() ? std::string() : args.back().substr(0, args.back().find('='));
    for (const OptionSpec& spec : specs) {
        if (!spec.value.empty() && spec.name == last) return spec.name + " needs a value; " + spec.valid;
    }
    return what + "; " + ValidOptions();
}

OptionTable::Parsed OptionTable::Parse(CLI::App& app, const std::vector<std::string>& args,
                                       const ParseHooks& hooks) const {
    app.failure_message([this, &args, &hooks](const CLI::App* failed, const CLI::Error& error) {
        return hooks.explain ? hooks.explain(*failed, error) : Explain(*failed, error, args);
    });
    Parsed parsed;
    try {
        app.parse(std::vector<std::string>(args.rbegin(), args.rend()));
    } catch (const CLI::ParseError& error) {
        // CLI11 checks the values before it looks for --help; help is given all the same.
        const bool help = dynamic_cast<const CLI::ValidationError*>(&error) != nullptr &&
                          (app.get_help_ptr()->count() > 0 || (hooks.helpAsked && hooks.helpAsked()));
        std::ostringstream out;
        std::ostringstream err;
        if ((help ? app.exit(CLI::CallForHelp(), out, err) : app.exit(error, out, err)) != 0) {
            parsed.text = err.str();
            return parsed;
        }
        parsed.ending = dynamic_cast<const CLI::CallForVersion*>(&error) != nullptr ? Ending::Version : Ending::Help;
        parsed.text = out.str();
        return parsed;
    }
    // CLI11 takes a last "--" for the end of the options; nothing may follow here.
    if (!app.remaining().empty()) {
        parsed.text = Unknown(app.remaining().front());
        return parsed;
    }
    parsed.ending = Ending::Parsed;
    return parsed;
}
