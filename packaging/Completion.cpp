#include "packaging/Completion.h"

#include <cctype>
#include <map>

namespace {

// What a placeholder names, beyond files and a value of the user's own.
std::vector<std::string> PlaceholderWords(const std::string& placeholder) {
    std::vector<std::string> words;
    if (placeholder == "LABEL") {
        for (const auto& [label, index] : TaskChoices()) words.push_back(label);
    }
    return words;
}

bool IsPlaceholder(const std::string& part) { return !part.empty() && std::isupper(static_cast<unsigned char>(part[0])); }

// 'text' for the shell, whatever it holds.
std::string Quoted(const std::string& text) {
    std::string quoted = "'";
    for (char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

std::string Joined(const std::vector<std::string>& words, const std::string& separator = " ") {
    std::string text;
    for (const std::string& word : words) text += (text.empty() ? "" : separator) + word;
    return text;
}

// The shell function of a program: "_vantrel_cli" for bash, "_vantrel-cli" for zsh.
std::string FunctionName(const std::string& program, bool bash) {
    std::string name = "_" + program;
    if (bash) {
        for (char& c : name) c = std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
    }
    return name;
}

std::string SubcommandName(const CommandDocs& command) { return command.command.substr(command.command.rfind(' ') + 1); }

// The options with values in the case arms of bash: "--db|--plot) files=1 ;;".
std::string BashValueArms(const CommandDocs& command) {
    std::map<std::string, std::vector<std::string>> arms;  // the arm's action, its options in table order
    std::vector<std::string> order;
    for (const OptionDef& def : command.options) {
        if (def.value.empty()) continue;
        const ValueCompletion value = CompletionOf(def);
        std::string action = "return 0";  // a value of the user's own: nothing to offer
        if (def.value == "T" || def.value.rfind("T|", 0) == 0) {
            // A thread count: those a sweep runs here (the powers of two below
            // the processors this shell may use, then their number), as the
            // machine completing has them.
            action = "words=\"$(_vantrel_thread_counts)" + (value.words.empty() ? "" : " " + Joined(value.words)) + "\"";
        } else if (value.files) {
            action = "files=1 extension=" + Quoted(value.extension);
        } else if (!value.words.empty()) {
            action = "words=" + Quoted(Joined(value.words));
        }
        if (arms[action].empty()) order.push_back(action);
        arms[action].push_back(def.name);
    }
    std::string text;
    for (const std::string& action : order) text += "        " + Joined(arms[action], "|") + ") " + action + " ;;\n";
    return text;
}

std::string BashCommandArm(const CommandDocs& command, const std::string& pattern, const std::string& subcommands) {
    std::vector<std::string> names;
    // " --sweep=,--threads,--stress,": what each option cannot go with.
    std::string conflicts;
    for (const OptionDef& def : command.options) {
        names.push_back(def.name);
        const std::vector<std::string> excluded = ExcludedOptions(def, command.options);
        if (!excluded.empty()) conflicts += " " + def.name + "=," + Joined(excluded, ",") + ",";
    }
    std::string text = "    " + pattern + ")\n";
    text += "        conflicts=" + Quoted(conflicts + " ") + "\n";
    text += "        options=" + Quoted(Joined(names));
    if (!subcommands.empty()) text += " subcommands=" + Quoted(subcommands);
    if (!command.operands.empty()) text += " operands=1";
    text += "\n        case $prev in\n" + BashValueArms(command) + "        esac ;;\n";
    return text;
}

// The explanation of an option in zsh: the help's first clause, with what _arguments
// reads in it escaped.
std::string ZshExplanation(const std::string& help) {
    std::string clause = help.substr(0, std::min({help.find("; "), help.find(". "), help.find(" (")}));
    std::string text;
    for (char c : clause) {
        if (c == '\\' || c == '[' || c == ']' || c == ':') text += '\\';
        text += c;
    }
    return text;
}

std::string ZshAction(const OptionDef& def) {
    const ValueCompletion value = CompletionOf(def);
    if (value.files) return value.extension.empty() ? "_files" : "_files -g \"*" + value.extension + "\"";
    if (!value.words.empty()) return "(" + Joined(value.words) + ")";
    return " ";
}

// Each option as an argument of _arguments, with the options it cannot go with.
std::string ZshArguments(const CommandDocs& command) {
    std::string text;
    for (const OptionDef& def : command.options) {
        const std::vector<std::string> excluded = ExcludedOptions(def, command.options);
        std::string argument = (excluded.empty() ? "" : "(" + Joined(excluded) + ")") + def.name;
        argument += def.value.empty() ? "[" + ZshExplanation(def.help) + "]"
                                  : "=[" + ZshExplanation(def.help) + "]:" + def.value + ":" + ZshAction(def);
        text += "        " + Quoted(argument) + " \\\n";
    }
    for (size_t i = 0; i < command.operands.size(); ++i) {
        text += "        " + Quoted(std::to_string(i + 1) + ":" + command.operands[i].first + ":_files") + " \\\n";
    }
    return text;
}

}  // namespace

ValueCompletion CompletionOf(const OptionDef& def) {
    ValueCompletion value;
    size_t start = 0;
    while (start < def.value.size()) {
        const size_t bar = std::min(def.value.find('|', start), def.value.size());
        const std::string part = def.value.substr(start, bar - start);
        start = bar + 1;
        if (part.rfind("FILE", 0) == 0) {
            value.files = true;
            value.extension = part.substr(4);
        } else if (!IsPlaceholder(part)) {
            value.words.push_back(part);
        } else {
            for (const std::string& word : PlaceholderWords(part)) value.words.push_back(word);
        }
    }
    return value;
}

std::string BashCompletion(const ProgramDocs& program) {
    const std::string function = FunctionName(program.main.command, true);
    std::vector<std::string> subcommands;
    for (const CommandDocs& command : program.subcommands) subcommands.push_back(SubcommandName(command));
    std::string text = "# bash completion of " + program.main.command +
                       ": its options, subcommands and the values of its options.\n"
                       "# Made from the program's option tables when it is built.\n\n" +
                       "# The thread counts a sweep runs on the processors this shell may use.\n"
                       "_vantrel_thread_counts() {\n"
                       "    local n count=1\n"
                       "    n=$(nproc 2>/dev/null) || n=1\n"
                       "    while ((count < n)); do printf '%s ' $count; count=$((count * 2)); done\n"
                       "    echo $n\n"
                       "}\n\n" +
                       function + "() {\n" + R"(    local cur=${COMP_WORDS[COMP_CWORD]} prev= command= options= subcommands= operands=0
    local words= files=0 extension= given option offered= conflicts= word entry excluded
    # bash breaks "--task=1M" at the "=".
    if [[ $cur == = ]]; then
        cur= prev=${COMP_WORDS[COMP_CWORD-1]}
    elif ((COMP_CWORD > 1)) && [[ ${COMP_WORDS[COMP_CWORD-1]} == = ]]; then
        prev=${COMP_WORDS[COMP_CWORD-2]}
    elif ((COMP_CWORD > 0)); then
        prev=${COMP_WORDS[COMP_CWORD-1]}
    fi
    # A subcommand comes first, and its options after it.
    ((COMP_CWORD > 1)) && command=${COMP_WORDS[1]}
    COMPREPLY=()
    case $command in
)";
    for (const CommandDocs& command : program.subcommands) text += BashCommandArm(command, SubcommandName(command), "");
    text += BashCommandArm(program.main, "*", Joined(subcommands));
    text += R"(    esac
    if [[ -n $words ]]; then
        COMPREPLY=($(compgen -W "$words" -- "$cur"))
    elif ((files)) || { ((operands)) && [[ $cur != -* ]]; }; then
        compopt -o filenames 2>/dev/null
        if [[ -n $extension ]]; then
            COMPREPLY=($(compgen -d -- "$cur") $(compgen -f -X "!*$extension" -- "$cur"))
        else
            COMPREPLY=($(compgen -f -- "$cur"))
        fi
    else
        # Each option once, and none that one already given excludes.
        given=" ${COMP_WORDS[*]:0:COMP_CWORD} "
        for option in $options; do
            [[ $given == *" $option "* ]] && continue
            excluded=0
            for word in $given; do
                [[ $conflicts == *" $word=,"* ]] || continue
                entry=${conflicts#* $word=,}
                [[ ${entry%% *} == *",$option,"* || ${entry%% *} == "$option,"* ]] && excluded=1
            done
            ((excluded)) || offered+=" $option"
        done
        ((COMP_CWORD == 1)) && offered+=" $subcommands"
        COMPREPLY=($(compgen -W "$offered" -- "$cur"))
    fi
    return 0
}
)";
    text += "complete -F " + function + " " + program.main.command + "\n";
    return text;
}

std::string ZshCompletion(const ProgramDocs& program) {
    const std::string function = FunctionName(program.main.command, false);
    std::string text = "#compdef " + program.main.command + "\n# zsh completion of " + program.main.command +
                       ": its options, subcommands and the values of its options.\n"
                       "# Made from the program's option tables when it is built.\n\n" +
                       function + "() {\n";
    if (!program.subcommands.empty()) {
        text += "    # A subcommand comes first, and its options after it.\n    if ((CURRENT > 2)); then\n"
                "        case $words[2] in\n";
        for (const CommandDocs& command : program.subcommands) {
            text += "        " + SubcommandName(command) + ")\n            shift words\n            ((CURRENT--))\n"
                    "            _arguments -S \\\n" + ZshArguments(command) + "                && return 0\n"
                    "            return 1 ;;\n";
        }
        text += "        esac\n    fi\n    local -a subcommands=(\n";
        for (const CommandDocs& command : program.subcommands) {
            text += "        " + Quoted(SubcommandName(command) + ":" + ZshExplanation(command.description)) + "\n";
        }
        text += "    )\n    local ret=1\n"
                "    ((CURRENT == 2)) && [[ $PREFIX != -* ]] && _describe -t subcommands subcommand subcommands && ret=0\n";
    } else {
        text += "    local ret=1\n";
    }
    text += "    _arguments -S \\\n" + ZshArguments(program.main) + "        && ret=0\n    return ret\n}\n\n";
    text += "if [[ $funcstack[1] == " + function + " ]]; then\n    " + function + " \"$@\"\nelse\n    compdef " + function +
            " " + program.main.command + "\nfi\n";
    return text;
}
