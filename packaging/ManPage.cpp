#include "packaging/ManPage.h"

#include <map>
#include <sstream>
#include <stdexcept>

#include "packaging/Roff.h"

namespace {

constexpr const char* kExitCodes = "Exit codes";

std::vector<std::string> Paragraphs(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        if (!line.empty()) lines.push_back(line);
    }
    return lines;
}

std::string Synopsis(const CommandDocs& command) {
    std::string usage = command.usage.substr(command.usage.find(' ') + 1);  // without "usage:"
    const size_t space = usage.find(' ');
    const std::string program = usage.substr(0, space);
    const std::string rest = space == std::string::npos ? std::string() : usage.substr(space + 1);
    return ".SY " + RoffText(program) + "\n" + RoffSyntax(rest) + "\n.YS\n";
}

std::string Description(const CommandDocs& page) {
    std::string text = RoffText(page.description) + "\n";
    for (const std::string& paragraph : Paragraphs(page.footer)) {
        if (paragraph.rfind(kExitCodes, 0) != 0) text += ".PP\n" + RoffText(paragraph) + "\n";
    }
    return text;
}

std::string ExitStatus(const CommandDocs& page) {
    std::string text;
    for (const std::string& paragraph : Paragraphs(page.footer)) {
        if (paragraph.rfind(kExitCodes, 0) == 0) text += (text.empty() ? "" : ".PP\n") + RoffText(paragraph) + "\n";
    }
    return text;
}

std::string OptionNames(const std::vector<std::string>& names) {
    std::string text;
    for (const std::string& name : names) text += (text.empty() ? "" : ", ") + ("\\fB" + RoffText(name) + "\\fR");
    return text;
}

// One option: its name and value, its help, and what it goes with; -h
// beside --help.
std::string Option(const OptionDef& def, const std::vector<OptionDef>& options) {
    const std::string name = def.alias.empty() ? def.name : def.alias + ", " + def.name;
    std::string text = ".TP\n" + RoffSyntax(def.value.empty() ? name : name + " " + def.value) + "\n";
    text += RoffText(def.help) + "\n";
    const std::vector<std::string> excluded = ExcludedOptions(def, options);
    if (!excluded.empty()) text += ".br\nNot with " + OptionNames(excluded) + ".\n";
    if (!def.needs.empty()) text += ".br\nOnly with " + OptionNames({def.needs}) + ".\n";
    return text;
}

std::string Options(const CommandDocs& page) {
    std::string text;
    for (const auto& [name, help] : page.operands) text += ".TP\n\\fI" + RoffText(name) + "\\fR\n" + RoffText(help) + "\n";
    const std::vector<std::string> groups = OptionGroups(page.options);
    for (const std::string& group : groups) {
        if (groups.size() > 1) text += ".SS " + RoffText(group) + "\n";
        for (const OptionDef& def : page.options) {
            if ((def.group.empty() ? kOtherGroup : def.group) == group) text += Option(def, page.options);
        }
    }
    return text;
}

std::string Examples(const CommandDocs& page) {
    std::string text;
    for (const HelpExample& example : page.examples) {
        // Not indented further: the help's commands, up to 76 columns, keep
        // within a page of 80.
        text += (text.empty() ? "" : ".PP\n") + RoffText(example.what) + "\n.PP\n.EX\n";
        for (const std::string& command : example.commands) text += RoffText(command) + "\n";
        text += ".EE\n";
    }
    return text;
}

std::string Subcommands(const std::vector<CommandDocs>& subcommands) {
    std::string text;
    for (const CommandDocs& command : subcommands) {
        const std::string name = command.command.substr(command.command.rfind(' ') + 1);
        text += ".TP\n\\fB" + RoffText(name) + "\\fR\n" + RoffText(command.description) + "; see\n.BR " +
                RoffText(PageName(command)) + " (1).\n";
    }
    return text;
}

}  // namespace

std::string PageName(const CommandDocs& page) {
    std::string name = page.command;
    for (char& c : name) c = c == ' ' ? '-' : c;
    return name;
}

std::string ManPage(const std::string& pageTemplate, const CommandDocs& page, const std::vector<CommandDocs>& subcommands,
                    const PageStamp& stamp) {
    std::string synopsis = Synopsis(page);
    for (const CommandDocs& command : subcommands) synopsis += Synopsis(command);
    std::map<std::string, std::string> parts = {{"@SYNOPSIS@", synopsis},
                                                {"@DESCRIPTION@", Description(page)},
                                                {"@OPTIONS@", Options(page)},
                                                {"@SUBCOMMANDS@", Subcommands(subcommands)},
                                                {"@EXAMPLES@", Examples(page)},
                                                {"@EXIT_STATUS@", ExitStatus(page)}};
    std::map<std::string, bool> placed;
    std::string text;
    std::istringstream in(pageTemplate);
    for (std::string line; std::getline(in, line);) {
        if (const auto part = parts.find(line); part != parts.end()) {
            if (part->second.empty()) throw std::runtime_error(PageName(page) + ": nothing to show for " + line);
            text += part->second;
            placed[line] = true;
            continue;
        }
        for (const auto& [mark, value] : {std::pair{"@VERSION@", stamp.version}, {"@DATE@", stamp.date}}) {
            for (size_t at = line.find(mark); at != std::string::npos; at = line.find(mark, at + value.size())) {
                line.replace(at, std::string(mark).size(), value);
            }
        }
        if (const size_t at = line.find('@'); at != std::string::npos && line.find('@', at + 1) != std::string::npos) {
            throw std::runtime_error(PageName(page) + ": unknown mark in \"" + line + "\"");
        }
        text += line + "\n";
    }
    for (const auto& [mark, value] : parts) {
        if (!value.empty() && !placed[mark]) throw std::runtime_error(PageName(page) + ": the template leaves out " + mark);
    }
    return text;
}
