#include "packaging/Roff.h"

#include <cctype>
#include <sstream>

namespace {

// A placeholder starts with a capital: "LABEL", "FILE.svg", "T", "BASE".
bool IsPlaceholder(const std::string& word) { return !word.empty() && std::isupper(static_cast<unsigned char>(word[0])); }

// One word without brackets: a name or value, or alternatives "table|csv|json" and "T|all".
std::string SyntaxWord(const std::string& word) {
    if (word.empty() || word == "|") return word;
    std::string text;
    size_t start = 0;
    while (start <= word.size()) {
        const size_t bar = std::min(word.find('|', start), word.size());
        const std::string part = word.substr(start, bar - start);
        if (start > 0) text += '|';
        text += IsPlaceholder(part) ? "\\fI" : "\\fB";
        text += RoffText(part);
        text += "\\fR";
        start = bar + 1;
    }
    return text;
}

}  // namespace

std::string RoffText(const std::string& text) {
    std::string escaped;
    for (char c : text) {
        if (c == '\\') {
            escaped += "\\e";
        } else if (c == '-') {
            escaped += "\\-";
        } else {
            escaped += c;
        }
    }
    if (!escaped.empty() && (escaped[0] == '.' || escaped[0] == '\'')) escaped.insert(0, "\\&");
    return escaped;
}

std::string RoffSyntax(const std::string& words) {
    std::istringstream in(words);
    std::string word;
    std::string text;
    int depth = 0;  // within brackets, which the line is not broken in
    while (in >> word) {
        const size_t first = word.find_first_not_of('[');
        const size_t last = word.find_last_not_of(']');
        const std::string open = word.substr(0, std::min(first, word.size()));
        const std::string core = first == std::string::npos ? std::string() : word.substr(first, last - first + 1);
        const std::string close = last == std::string::npos ? std::string() : word.substr(last + 1);
        if (!text.empty()) text += depth > 0 ? "\\ " : " ";
        text += open + SyntaxWord(core) + close;
        depth += int(open.size()) - int(close.size());
    }
    return text;
}
