// The lines of a text table for people: each cell padded with spaces to its
// column's width and two more (a longer cell pushes the rest of its line
// out, unless its column has a cap), an optional note after the last column,
// and no spaces at the end of a line. Widths count characters of UTF-8, not
// bytes, so that a label in any script keeps its columns in line.
#pragma once

#include <string>
#include <vector>

class TextTable {
public:
    // The least width of each column; columns beyond these have none.
    explicit TextTable(std::vector<size_t> widths = {});

    // Cells of `column` longer than `maxWidth` characters are cut to that
    // width, their end shown as "...": for free text such as a label, which
    // would otherwise widen every line of the table.
    void Cap(size_t column, size_t maxWidth);

    // Widens the columns to hold `cells`.
    void Fit(const std::vector<std::string>& cells);

    std::string Line(const std::vector<std::string>& cells, const std::string& note = {}) const;

private:
    size_t CapOf(size_t column) const;

    std::vector<size_t> widths;
    std::vector<size_t> caps;  // 0: none
};

// The characters `text` shows: each UTF-8 sequence one, each byte that
// starts none also one (a terminal shows it as one replacement character),
// a colour's escape sequence none.
size_t TextWidth(const std::string& text);

// The first `width` characters of `text`, never a part of one.
std::string TextPrefix(const std::string& text, size_t width);
