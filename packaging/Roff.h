// Text as the man macros of groff take it. Every text of a page comes from
// the programs' help, so nothing in it may be read as a request, an escape
// or a font change by accident.
#pragma once

#include <string>

// Plain text for one line of a page: backslashes and hyphen-minus signs
// escaped (an option copied from the page must stay "--task"), and a
// line that would begin with a control character protected.
std::string RoffText(const std::string& text);

// A usage line's or an option's words in the fonts of a synopsis: option
// names and literal values bold, placeholders (upper case, "FILE.svg")
// italic, brackets and bars as they are: "[--format table|csv|json]".
std::string RoffSyntax(const std::string& words);
