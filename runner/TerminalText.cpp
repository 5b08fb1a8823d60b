#include "runner/TerminalText.h"

#include <algorithm>

#include "runner/TextTable.h"

std::string WrapWords(const std::string& text, size_t width, size_t indent, size_t first) {
    std::string wrapped;
    size_t used = first;
    bool lineEmpty = true;
    for (size_t at = 0; at < text.size();) {
        if (text[at] == ' ') {
            ++at;
            continue;
        }
        const size_t end = std::min(text.find(' ', at), text.size());
        const std::string word = text.substr(at, end - at);
        at = end;
        const size_t shown = TextWidth(word);
        if (!lineEmpty && used + 1 + shown > width) {
            wrapped += "\n" + std::string(indent, ' ');
            used = indent;
            lineEmpty = true;
        }
        if (!lineEmpty) {
            wrapped += ' ';
            ++used;
        }
        wrapped += word;
        used += shown;
        lineEmpty = false;
    }
    return wrapped;
}

std::string LabelledLines(const std::vector<std::pair<std::string, std::string>>& lines, size_t width) {
    size_t column = 0;
    for (const auto& [label, value] : lines) column = std::max(column, TextWidth(label) + 3);
    std::string text;
    for (const auto& [label, value] : lines) {
        text += label + ":";
        if (!value.empty()) text += std::string(column - TextWidth(label) - 1, ' ') + WrapWords(value, width, column, column);
        text += "\n";
    }
    return text;
}

std::string Painted(const std::string& text, Colour colour, bool on) {
    if (!on || text.empty()) return text;
    const char* code = colour == Colour::Green ? "32" : colour == Colour::Red ? "31" : "33";
    return std::string("\x1b[") + code + "m" + text + "\x1b[0m";
}

std::string PaintedVerdict(const std::string& line, bool on) {
    for (const auto& [word, colour] : {std::pair{"PASS", Colour::Green}, std::pair{"FAIL", Colour::Red}}) {
        if (line.rfind(word, 0) == 0) return Painted(word, colour, on) + line.substr(std::string(word).size());
    }
    return line;
}

bool ColoursOn(ColorMode mode, bool terminal, const char* noColor) {
    switch (mode) {
        case ColorMode::Always: return true;
        case ColorMode::Never: return false;
        case ColorMode::Auto: break;
    }
    return terminal && (noColor == nullptr || *noColor == '\0');
}
