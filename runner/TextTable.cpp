#include "runner/TextTable.h"

#include <algorithm>

namespace {

constexpr const char* kCutMark = "...";
constexpr size_t kCutMarkWidth = 3;

// The bytes of the character that starts at `at`: a whole UTF-8 sequence,
// else the one byte.
size_t CharacterBytes(const std::string& text, size_t at) {
    const auto lead = static_cast<unsigned char>(text[at]);
    if (lead < 0x80) return 1;
    const size_t length = lead >= 0xC2 && lead <= 0xDF ? 2 : lead >= 0xE0 && lead <= 0xEF ? 3
                          : lead >= 0xF0 && lead <= 0xF4                                    ? 4
                                                                                            : 1;
    if (at + length > text.size()) return 1;
    for (size_t i = 1; i < length; ++i) {
        if ((static_cast<unsigned char>(text[at + i]) & 0xC0) != 0x80) return 1;
    }
    return length;
}

// The bytes of a colour's escape sequence ("\x1b[31m") that starts at
// `at`, which a terminal does not show; 0 where none starts.
size_t ColourBytes(const std::string& text, size_t at) {
    if (text.compare(at, 2, "\x1b[") != 0) return 0;
    const size_t end = text.find_first_not_of("0123456789;", at + 2);
    return end != std::string::npos && text[end] == 'm' ? end + 1 - at : 0;
}

}  // namespace

size_t TextWidth(const std::string& text) {
    size_t width = 0;
    for (size_t at = 0; at < text.size();) {
        if (const size_t colour = ColourBytes(text, at); colour > 0) {
            at += colour;
            continue;
        }
        at += CharacterBytes(text, at);
        ++width;
    }
    return width;
}

std::string TextPrefix(const std::string& text, size_t width) {
    size_t at = 0;
    for (size_t taken = 0; taken < width && at < text.size(); ++taken) at += CharacterBytes(text, at);
    return text.substr(0, at);
}

TextTable::TextTable(std::vector<size_t> widths_) : widths(std::move(widths_)) {}

void TextTable::Cap(size_t column, size_t maxWidth) {
    if (caps.size() <= column) caps.resize(column + 1, 0);
    caps[column] = std::max(maxWidth, kCutMarkWidth + 1);
}

size_t TextTable::CapOf(size_t column) const { return column < caps.size() ? caps[column] : 0; }

void TextTable::Fit(const std::vector<std::string>& cells) {
    if (widths.size() < cells.size()) widths.resize(cells.size(), 0);
    for (size_t i = 0; i < cells.size(); ++i) {
        const size_t cap = CapOf(i);
        const size_t width = TextWidth(cells[i]);
        widths[i] = std::max(widths[i], cap != 0 && width > cap ? cap : width);
    }
}

std::string TextTable::Line(const std::vector<std::string>& cells, const std::string& note) const {
    std::string line;
    for (size_t i = 0; i < cells.size(); ++i) {
        const size_t cap = CapOf(i);
        size_t shown = TextWidth(cells[i]);
        if (cap != 0 && shown > cap) {
            line += TextPrefix(cells[i], cap - kCutMarkWidth) + kCutMark;
            shown = cap;
        } else {
            line += cells[i];
        }
        const size_t width = i < widths.size() ? widths[i] : 0;
        line.append(shown < width ? width - shown + 2 : 2, ' ');
    }
    line += note;
    line.erase(line.find_last_not_of(' ') + 1);
    return line;
}
