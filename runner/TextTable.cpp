#include "runner/TextTable.h"

#include <algorithm>

TextTable::TextTable(std::vector<size_t> widths_) : widths(std::move(widths_)) {}

void TextTable::Fit(const std::vector<std::string>& cells) {
    if (widths.size() < cells.size()) widths.resize(cells.size(), 0);
    for (size_t i = 0; i < cells.size(); ++i) widths[i] = std::max(widths[i], cells[i].size());
}

std::string TextTable::Line(const std::vector<std::string>& cells, const std::string& note) const {
    std::string line;
    for (size_t i = 0; i < cells.size(); ++i) {
        const size_t width = i < widths.size() ? widths[i] : 0;
        line += cells[i] + std::string(cells[i].size() < width ? width - cells[i].size() + 2 : 2, ' ');
    }
    line += note;
    line.erase(line.find_last_not_of(' ') + 1);
    return line;
}
