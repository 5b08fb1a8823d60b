#include "runner/ProgressLine.h"

#include <algorithm>

#include "runner/TextTable.h"

namespace {

constexpr const char* kCutMark = "...";
constexpr size_t kDefaultColumns = 80;

std::string Joined(const std::vector<ProgressPart>& parts, int highestRank) {
    std::string line;
    for (const ProgressPart& part : parts) {
        if (part.rank <= highestRank && !part.text.empty()) line += (line.empty() ? "" : ", ") + part.text;
    }
    return line;
}

}  // namespace

std::string FitProgress(const std::vector<ProgressPart>& parts, size_t width) {
    int highest = 0;
    for (const ProgressPart& part : parts) highest = std::max(highest, part.rank);
    for (int rank = highest; rank >= 0; --rank) {
        const std::string line = Joined(parts, rank);
        if (TextWidth(line) <= width) return line;
    }
    const std::string line = Joined(parts, 0);
    const size_t mark = std::string(kCutMark).size();
    return width > mark ? TextPrefix(line, width - mark) + kCutMark : TextPrefix(line, width);
}

ProgressLine::ProgressLine(std::ostream& out_, bool shown_, std::function<size_t()> columns_, bool erases_)
    : out(out_), shown(shown_), columns(std::move(columns_)), erases(erases_) {}

ProgressLine::ProgressLine(const Console& console)
    : ProgressLine(console.err, console.liveProgress, console.errColumns, console.erases) {}

size_t ProgressLine::Columns() const {
    const size_t now = columns ? columns() : 0;
    return now > 0 ? now : kDefaultColumns;
}

void ProgressLine::Show(const std::vector<ProgressPart>& parts) {
    if (!shown) return;
    const size_t now = Columns();
    // One column fewer than the terminal's: a character in the last column
    // leaves some terminals about to wrap.
    const std::string text = FitProgress(parts, std::max<size_t>(now, 2) - 1);
    if (text == current && now == width) return;
    if (erases) {
        // The cursor stays at the line's start, so that a terminal that
        // rewraps its lines when it narrows keeps it there too; erasing to
        // the end of the screen then takes the old line's rewrapped rest.
        out << '\r' << text << "\x1b[J\r";
    } else {
        const size_t shownWidth = TextWidth(text);
        const size_t old = std::min(TextWidth(current), now - 1);
        out << '\r' << text << std::string(old > shownWidth ? old - shownWidth : 0, ' ');
    }
    out.flush();
    current = text;
    width = now;
}

void ProgressLine::Clear() {
    if (current.empty()) return;
    if (erases) {
        // Erasing to the screen's end from its very first cell is, to tmux
        // (scroll-on-clear), clearing the screen, whose lines then go to the
        // scrollback: it starts at the line's second cell, after a blank, and
        // the line's own erasing takes the first.
        out << "\r \x1b[J\r\x1b[K";
    } else {
        out << '\r' << std::string(std::min(TextWidth(current), Columns() - 1), ' ') << '\r';
    }
    out.flush();
    current.clear();
}
