// Small texts every report writes the same way: a name kept on one line, CSV
// fields, numbers in full precision, seconds, counts of things.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

// `text` with every control character (a line break in a file name, say)
// shown as '?', so that a message stays on one line.
std::string OneLine(std::string text);

// `text` without the blanks, tabs and line ends around it.
std::string Trimmed(const std::string& text);

// One CSV field, quoted when it holds a comma, a quote or a line break.
std::string CsvField(const std::string& text);

// The shortest text that reads back as the same double ("0.1", "1e-05").
std::string FullPrecision(double value);

// "0.09 sec": two decimals as the grid shows a time, without its padding.
std::string SecondsText(double seconds);

// "0.093 sec": three decimals, where trends of a few milliseconds matter.
std::string PreciseSecondsText(double seconds);

// "1 rank", "3 ranks".
std::string Plural(size_t count, const std::string& one, const std::string& many);

// Ascending numbers with each run of consecutive ones as "first-last":
// "0-3,8" with separator ",", "0-3, 8" with ", ".
template <class Number>
std::string RangesText(const std::vector<Number>& ascending, const char* separator) {
    std::string text;
    for (size_t i = 0; i < ascending.size();) {
        size_t end = i;
        while (end + 1 < ascending.size() && ascending[end + 1] == ascending[end] + 1) ++end;
        text += (text.empty() ? "" : separator) + std::to_string(ascending[i]);
        if (end > i) text += "-" + std::to_string(ascending[end]);
        i = end + 1;
    }
    return text;
}
