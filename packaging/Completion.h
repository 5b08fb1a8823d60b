// The bash and zsh completions of a program, from the same tables as its
// help: every option of the program and of each subcommand completes, and
// so do the values an option names in its table.
#pragma once

#include <string>
#include <vector>

#include "packaging/ProgramDocs.h"

// What the value of an option completes to, read from the table's value
// placeholder: its lower-case alternatives as they are ("table|csv|json",
// the "all" of "T|all"), the task labels for LABEL, files for FILE (of the
// extension FILE.svg names), and nothing for a value of the user's own
// ("T", "DURATION", "TEXT").
struct ValueCompletion {
    std::vector<std::string> words;
    bool files = false;
    std::string extension;  // files only: ".svg"; empty for any file
};
ValueCompletion CompletionOf(const OptionDef& def);

std::string BashCompletion(const ProgramDocs& program);
std::string ZshCompletion(const ProgramDocs& program);
