// A manual page (groff man macros) of a command, from its template: the
// template holds what no table says (the name line, environment, files,
// examples, see also), and marks where the parts made of the command's
// option table and help go.
#pragma once

#include <string>
#include <vector>

#include "packaging/ProgramDocs.h"

struct PageStamp {
    std::string version;  // "2.0"
    std::string date;     // "2026-01-01"
};

// The page of `page` (with its program's subcommands, which it lists). The
// template's marks, each on a line of its own:
//   @SYNOPSIS@     the usage lines of the command and its subcommands
//   @DESCRIPTION@  the help's description and its closing paragraphs
//   @OPTIONS@      the positionals and options, each with its help and the options it excludes or needs,
//                  under the help's group headings where it has more than one group
//   @SUBCOMMANDS@  each subcommand with its description and its page
//   @EXAMPLES@     the examples the help ends with
//   @EXIT_STATUS@  the closing paragraph on exit codes
// and @VERSION@ and @DATE@ anywhere. Throws std::runtime_error for a mark it
// does not know, and for a part with something to show that the template
// leaves out or with nothing to show that it asks for.
std::string ManPage(const std::string& pageTemplate, const CommandDocs& page, const std::vector<CommandDocs>& subcommands,
                    const PageStamp& stamp);

// The page's name: "vantrel-cli history" is vantrel-cli-history(1).
std::string PageName(const CommandDocs& page);
