// What the manual pages and the shell completions of a program are made of:
// its option tables and the words its help shows around them, taken from
// where the program's own parser takes them, so that an option added to a
// table reaches the help, the manual and the completion alike.
#pragma once

#include <cstdint>
#include <limits>
#include <string>
#include <utility>
#include <vector>

#include "runner/OptionTable.h"

// A command with options of its own: a program, or one of its subcommands.
struct CommandDocs {
    std::string command;      // "vantrel-cli", "vantrel-cli history"
    std::string usage;        // the table's usage line, "usage: vantrel-cli [--task LABEL] ..."
    std::string description;  // the help's first line
    std::string footer;       // the help's closing paragraphs, one a line
    std::vector<OptionDef> options;
    std::vector<std::pair<std::string, std::string>> operands = {};  // positionals in order: name, help
    std::vector<HelpExample> examples = {};                          // as the help ends with them
};

struct ProgramDocs {
    CommandDocs main;
    std::vector<CommandDocs> subcommands;  // each with a page of its own, "vantrel-cli-history"
};

// The tables as a machine of any size has them: the thread list's every
// count, rather than the counts of the machine that builds the manual.
constexpr uint32_t kAnyMachine = std::numeric_limits<uint32_t>::max();

ProgramDocs RunnerDocs();
ProgramDocs FleetDocs();  // only in a build with vantrel-mpi
