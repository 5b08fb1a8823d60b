// Text shaped for a terminal and for a page of limited width: words wrapped
// to a width, labelled lines whose values line up, and the colours a table
// may have.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "runner/ReportFormat.h"

// `text` broken at its blanks into lines of at most `width` characters: the
// first begins after `first` characters the caller has already written, the
// others begin with `indent` blanks. A word longer than a line has the line
// to itself. No line break at the end.
std::string WrapWords(const std::string& text, size_t width, size_t indent = 0, size_t first = 0);

// "Label:  value" lines, the values lined up after the longest label and
// wrapped to `width` beneath themselves; each line ends in a line break.
std::string LabelledLines(const std::vector<std::pair<std::string, std::string>>& lines, size_t width);

// The width reports keep their tables and context lines within, whatever
// they are written to.
constexpr size_t kReportWidth = 100;

enum class Colour { Green, Red, Yellow };

// `text` in `colour` when `on`, else as it is.
std::string Painted(const std::string& text, Colour colour, bool on);

// A verdict line with its first word in colour when `on`: PASS green, FAIL
// red; any other line as it is.
std::string PaintedVerdict(const std::string& line, bool on);

// Whether a table has colours: `mode` says; auto means on a terminal that
// takes them, unless the environment variable NO_COLOR is set and not empty
// (`noColor`, null when unset). An explicit --color always outweighs it.
bool ColoursOn(ColorMode mode, bool terminal, const char* noColor);
