// The lines of a text table for people: each cell padded with spaces to its
// column's width and two more (a longer cell pushes the rest of its line
// out, never cut), an optional note after the last column, and no spaces at
// the end of a line.
#pragma once

#include <string>
#include <vector>

class TextTable {
public:
    // The least width of each column; columns beyond these have none.
    explicit TextTable(std::vector<size_t> widths = {});

    // Widens the columns to hold `cells`.
    void Fit(const std::vector<std::string>& cells);

    std::string Line(const std::vector<std::string>& cells, const std::string& note = {}) const;

private:
    std::vector<size_t> widths;
};
