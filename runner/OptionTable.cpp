#include "runner/OptionTable.h"

#include "runner/OptionParsing.h"

#include <algorithm>
#include <charconv>
#include <sstream>
#include <stdexcept>

#include "engine/TaskTable.h"
#include "runner/ReportFormat.h"

namespace {

std::string Shown(const OptionDef& def) { return def.value.empty() ? def.name : def.name + " " + def.value; }

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

std::function<std::string(const std::string&)> Refused(std::string what, std::string after, std::string valid) {
    return [=](const std::string& value) { return what + " \"" + value + "\"" + after + "; " + valid; };
}

const CLI::Validator kNotEmpty([](std::string& value) { return value.empty() ? "empty" : ""; }, "");

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
            double number = 0.0;
            std::from_chars(value.data(), value.data() + value.size(), number, std::chars_format::fixed);
            return inRange(number) ? "" : "out of range";
        },
        "");
}

std::string TaskLabels() {
    std::string labels;
    for (int i = 0; i < TaskTable::count; ++i) labels += (i == 0 ? "" : " ") + TaskTable::Label(i);
    return labels;
}

std::vector<std::pair<std::string, int>> TaskChoices() {
    std::vector<std::pair<std::string, int>> tasks;
    for (int i = 0; i < TaskTable::count; ++i) tasks.emplace_back(TaskTable::Label(i), i);
    return tasks;
}

OptionDef FormatOption(const std::string& help) {
    const std::vector<std::pair<std::string, ReportFormat>> formats = {
        {"table", ReportFormat::Table}, {"csv", ReportFormat::Csv}, {"json", ReportFormat::Json}};
    return ChoiceOption("--format", "table|csv|json", help, "format", "valid formats: table csv json", formats);
}

OptionDef HelpOption() { return {"--help", "", "Print this help and exit", "", {}}; }

OptionDef VersionOption() { return {"--version", "", "Print the version and exit", "", {}}; }

OptionTable::OptionTable(std::string program_, std::vector<OptionDef> defs_)
    : program(std::move(program_)), defs(std::move(defs_)) {}

const OptionDef& OptionTable::operator[](const std::string& name) const {
    for (const OptionDef& def : defs) {
        if (def.name == name) return def;
    }
    throw std::logic_error("no option " + name);
}

std::string OptionTable::Usage() const {
    std::string text = "usage: " + program;
    for (const OptionDef& def : defs) {
        if (!def.excludes.empty()) continue;  // shown with the option it excludes
        text += " [" + Shown(def);
        for (const OptionDef& other : defs) text += other.excludes == def.name ? " | " + Shown(other) : "";
        text += "]";
    }
    return text;
}

std::string OptionTable::ValidOptions() const {
    std::string text = "valid options: ";
    for (const OptionDef& def : defs) text += (&def == &defs.front() ? "" : ", ") + Shown(def);
    return text;
}

std::string OptionTable::Unknown(const std::string& argument) const {
    return "unknown argument \"" + argument + "\"; " + ValidOptions();
}

std::string OptionTable::Checked(const OptionDef& def, std::string& value) const {
    // CLI11 takes the next argument for the value even when it is an option.
    if (!def.value.empty() && value.rfind("--", 0) == 0) return def.name + " needs a value; " + def.valid;
    std::string checked = value;
    std::string failure;
    try {
        if (def.check) failure = def.check(checked);
    } catch (const CLI::ValidationError&) {
        failure = "refused";  // IsMember throws, with no message, for a value that does not convert
    }
    if (failure.empty()) {
        value = checked;
        return {};
    }
    if (def.refusal) return def.refusal(value);
    return def.name + " takes no value; " + ValidOptions();
}

std::string OptionTable::Explain(const CLI::App& app, const CLI::Error& error, const std::vector<std::string>& args) const {
    const std::string what = error.what();
    auto given = [&app](const std::string& name) {
        const CLI::Option* option = app.get_option_no_throw(name);
        return option != nullptr ? option->count() : 0;
    };
    for (const OptionDef& def : defs) {
        // CLI11 puts the option's name before the message Checked gave.
        if (dynamic_cast<const CLI::ValidationError*>(&error) != nullptr && what.rfind(def.name + ": ", 0) == 0) {
            return what.substr(def.name.size() + 2);
        }
        if (dynamic_cast<const CLI::ExcludesError*>(&error) != nullptr && given(def.name) > 0) {
            if (!def.excludes.empty() && given(def.excludes) > 0) return def.exclusion;
            for (const auto& [other, message] : def.conflicts) {
                if (given(other) > 0) return message;
            }
        }
        if (dynamic_cast<const CLI::RequiresError*>(&error) != nullptr && !def.needs.empty() && given(def.name) > 0 &&
            given(def.needs) == 0) {
            return def.unmet;
        }
        if (dynamic_cast<const CLI::ArgumentMismatch*>(&error) != nullptr && !def.value.empty() && given(def.name) > 1) {
            return def.name + " given more than once; " + def.valid;
        }
    }
    if (dynamic_cast<const CLI::ExtrasError*>(&error) != nullptr) return Unknown(app.remaining().front());
    // Else the command line ended where a value was due ("--task", "--task=").
    const std::string last = args.empty() ? std::string() : args.back().substr(0, args.back().find('='));
    for (const OptionDef& def : defs) {
        if (!def.value.empty() && def.name == last) return def.name + " needs a value; " + def.valid;
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
