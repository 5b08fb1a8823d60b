#include "runner/OptionTable.h"

#include "runner/OptionParsing.h"

#include <algorithm>
#include <charconv>
#include <sstream>
#include <stdexcept>

#include "engine/TaskTable.h"
#include "runner/ReportFormat.h"
#include "runner/TerminalText.h"
#include "runner/TextTable.h"

namespace {

std::string Shown(const OptionDef& def) { return def.value.empty() ? def.name : def.name + " " + def.value; }

std::string GroupOf(const OptionDef& def) { return def.group.empty() ? kOtherGroup : def.group; }

// "--a", "--a or --b", "--a, --b or --c"
std::string Listed(const std::vector<std::string>& names) {
    std::string text;
    for (size_t i = 0; i < names.size(); ++i) {
        text += (i == 0 ? "" : i + 1 == names.size() ? " or " : ", ") + names[i];
    }
    return text;
}

// A help laid out by the table: the usage line and the synopses wrapped to
// the width, the options in the table's groups, each option's help beside
// its name and wrapped at word boundaries, what it goes with in words, the
// footer's paragraphs, and the examples last.
// A bracketed part of a synopsis kept on one line: its blanks become a
// character WrapWords does not break at, and back again once wrapped.
constexpr char kBoundBlank = '\x1f';

std::string Bound(std::string synopsis) {
    int depth = 0;
    for (char& c : synopsis) {
        depth += c == '[' ? 1 : c == ']' ? -1 : 0;
        if (c == ' ' && depth > 0) c = kBoundBlank;
    }
    return synopsis;
}

std::string Unbound(std::string text) {
    std::replace(text.begin(), text.end(), kBoundBlank, ' ');
    return text;
}

class HelpFormatter final : public CLI::Formatter {
public:
    HelpFormatter(OptionTable table_, HelpLayout layout_) : table(std::move(table_)), layout(std::move(layout_)) {
        size_t widest = 0;
        for (const OptionDef& def : table.Defs()) widest = std::max(widest, TextWidth(NameOf(def) + ValueOf(def)));
        // The names' column, unless the width leaves the help too little beside it.
        column_width(std::min(widest + 4, std::max<size_t>(layout.width / 3, 12)));
        label("Positionals", "Operands");
    }

    std::string make_help(const CLI::App* app, std::string name, CLI::AppFormatMode mode) const override {
        if (mode == CLI::AppFormatMode::Sub) return make_expanded(app);
        std::string text = make_description(app) + "\n" + make_usage(app, name) + make_positionals(app);
        for (const std::string& group : OptionGroups(table.Defs())) {
            std::vector<const CLI::Option*> options = app->get_options(
                [&group](const CLI::Option* option) { return option->nonpositional() && option->get_group() == group; });
            if (!options.empty()) text += make_group(group, false, options);
        }
        text += make_subcommands(app, mode) + make_footer(app);
        if (!layout.examples.empty()) {
            text += "\nExamples:\n";
            for (const HelpExample& example : layout.examples) {
                text += "  " + WrapWords(example.what, layout.width, 2, 2) + "\n";
                for (const std::string& command : example.commands) text += "    " + command + "\n";
            }
        }
        return text;
    }

    std::string make_description(const CLI::App* app) const override {
        return WrapWords(app->get_description(), layout.width) + "\n";
    }

    std::string make_usage(const CLI::App*, std::string) const override {
        std::vector<std::string> synopses = {table.Usage().substr(table.Usage().find(' ') + 1)};
        synopses.insert(synopses.end(), layout.synopses.begin(), layout.synopses.end());
        std::string text;
        for (size_t i = 0; i < synopses.size(); ++i) {
            // Each synopsis's further lines under its first option.
            const std::string& synopsis = synopses[i];
            const size_t program = std::min(synopsis.find(" ["), synopsis.size());
            text += (i == 0 ? "Usage: " : "       ") +
                    Unbound(WrapWords(Bound(synopsis), layout.width, 7 + program + 1, 7)) + "\n";
        }
        return text;
    }

    std::string make_group(std::string group, bool positional, std::vector<const CLI::Option*> options) const override {
        std::string text = "\n" + group + ":\n";
        for (const CLI::Option* option : options) text += make_option(option, positional);
        return text;
    }

    std::string make_option(const CLI::Option* option, bool positional) const override {
        const std::string name = "  " + make_option_name(option, positional) + make_option_opts(option);
        const size_t column = get_column_width();
        const std::string description = make_option_desc(option);
        const size_t shown = TextWidth(name);
        // A name wider than its column has its help on the lines below.
        if (shown + 2 > column) return name + "\n" + std::string(column, ' ') + WrapWords(description, layout.width, column, column) + "\n";
        return name + std::string(column - shown, ' ') + WrapWords(description, layout.width, column, column) + "\n";
    }

    std::string make_option_name(const CLI::Option* option, bool positional) const override {
        if (positional) return option->get_name(true, false);
        const OptionDef* def = Find(option);
        return def != nullptr ? NameOf(*def) : option->get_name(false, true);
    }

    std::string make_option_opts(const CLI::Option* option) const override {
        const OptionDef* def = Find(option);
        return def != nullptr ? ValueOf(*def) : std::string();
    }

    std::string make_option_desc(const CLI::Option* option) const override {
        const OptionDef* def = Find(option);
        if (def == nullptr) return option->get_description();
        const std::string conditions = OptionConditions(*def, table.Defs());
        return def->help + (conditions.empty() ? "" : ". " + conditions);
    }

    std::string make_subcommand(const CLI::App* sub) const override {
        const size_t column = get_column_width();
        const std::string name = "  " + sub->get_name();
        return name + std::string(column > name.size() ? column - name.size() : 2, ' ') +
               WrapWords(sub->get_description(), layout.width, column, std::max(column, name.size() + 2)) + "\n";
    }

    std::string make_footer(const CLI::App* app) const override {
        std::string text;
        std::istringstream paragraphs(app->get_footer());
        for (std::string paragraph; std::getline(paragraphs, paragraph);) {
            if (!paragraph.empty()) text += "\n" + WrapWords(paragraph, layout.width) + "\n";
        }
        return text;
    }

private:
    static std::string NameOf(const OptionDef& def) { return def.alias.empty() ? def.name : def.alias + ", " + def.name; }
    static std::string ValueOf(const OptionDef& def) { return def.value.empty() ? std::string() : " " + def.value; }

    const OptionDef* Find(const CLI::Option* option) const {
        for (const OptionDef& def : table.Defs()) {
            if (option->check_lname(def.name.substr(2))) return &def;
        }
        return nullptr;
    }

    OptionTable table;
    HelpLayout layout;
};

}  // namespace

std::vector<std::string> OptionGroups(const std::vector<OptionDef>& defs) {
    std::vector<std::string> groups;
    for (const char* group : {kRunGroup, kReportGroup, kKeepGroup, kBurnInGroup}) {
        if (std::any_of(defs.begin(), defs.end(), [group](const OptionDef& def) { return def.group == group; })) {
            groups.push_back(group);
        }
    }
    for (const OptionDef& def : defs) {
        if (std::find(groups.begin(), groups.end(), GroupOf(def)) == groups.end() && GroupOf(def) != kHelpGroup) {
            groups.push_back(GroupOf(def));
        }
    }
    groups.push_back(kHelpGroup);
    return groups;
}

std::vector<std::string> ExcludedOptions(const OptionDef& def, const std::vector<OptionDef>& defs) {
    std::vector<std::string> names;
    for (const OptionDef& other : defs) {
        bool excludes = other.name == def.excludes || other.excludes == def.name;
        for (const auto& conflict : def.conflicts) excludes = excludes || conflict.first == other.name;
        for (const auto& conflict : other.conflicts) excludes = excludes || conflict.first == def.name;
        if (excludes && other.name != def.name) names.push_back(other.name);
    }
    return names;
}

std::string OptionConditions(const OptionDef& def, const std::vector<OptionDef>& defs) {
    std::string text;
    if (const std::vector<std::string> excluded = ExcludedOptions(def, defs); !excluded.empty()) {
        text = "Not with " + Listed(excluded) + ".";
    }
    if (!def.needs.empty()) text += (text.empty() ? "" : " ") + ("Only with " + def.needs + ".");
    return text;
}

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
    OptionDef def = ChoiceOption("--format", "table|csv|json", help, "format", "valid formats: table csv json", formats);
    def.group = kReportGroup;
    return def;
}

OptionDef ColorOption() {
    const std::vector<std::pair<std::string, ColorMode>> modes = {
        {"auto", ColorMode::Auto}, {"always", ColorMode::Always}, {"never", ColorMode::Never}};
    OptionDef def = ChoiceOption("--color", "auto|always|never",
                                 "Colours in a table (PASS green, FAIL and wrong results red, outliers yellow): auto "
                                 "(default) on a terminal unless NO_COLOR is set, always, or never; CSV and JSON have "
                                 "none",
                                 "colour setting", "valid colour settings: auto always never", modes);
    def.group = kReportGroup;
    return def;
}

OptionDef HelpOption() {
    OptionDef def{"--help", "", "Print this help and exit", "", {}};
    def.alias = "-h";
    def.group = kHelpGroup;
    return def;
}

OptionDef VersionOption() {
    OptionDef def{"--version", "", "Print the version and exit", "", {}};
    def.group = kHelpGroup;
    return def;
}

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

void OptionTable::AddHelp(CLI::App& app, const HelpLayout& layout, const std::string& version) const {
    const OptionDef& help = (*this)["--help"];
    app.formatter(std::make_shared<HelpFormatter>(*this, layout));
    app.set_help_flag(help.alias + "," + help.name, help.help)->group(GroupOf(help));
    if (!version.empty()) {
        const OptionDef& def = (*this)["--version"];
        app.set_version_flag(def.name, version, def.help)->group(GroupOf(def));
    }
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
