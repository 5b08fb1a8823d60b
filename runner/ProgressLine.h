// A line of a terminal that each update rewrites in place, kept within the
// terminal's width so that it never wraps: a wrapped line leaves a stale
// line behind at every redraw. The width is read anew at every update, so a
// terminal resized during a run (SIGWINCH) gets a line of its new width.
#pragma once

#include <cstddef>
#include <functional>
#include <ostream>
#include <string>
#include <vector>

#include "runner/Console.h"

// A piece of a progress line and how little it matters: a line too wide
// for its terminal leaves out the pieces of the highest rank first.
struct ProgressPart {
    std::string text;
    int rank = 0;
};

// The parts, joined by ", " in their order, within `width` characters:
// those of the highest rank are left out until the rest fits; what still
// does not fit is cut and ends in "...".
std::string FitProgress(const std::vector<ProgressPart>& parts, size_t width);

class ProgressLine {
public:
    // Shows nothing unless `shown` (the stream is a terminal). `columns`
    // gives the terminal's width now (empty: 80); `erases`: it takes
    // "\x1b[J", erasing from the cursor to its end.
    ProgressLine(std::ostream& out, bool shown, std::function<size_t()> columns = {}, bool erases = false);
    // Console's err, as the console says.
    explicit ProgressLine(const Console& console);
    ProgressLine(const ProgressLine&) = delete;
    ProgressLine& operator=(const ProgressLine&) = delete;
    ~ProgressLine() { Clear(); }

    void Show(const std::vector<ProgressPart>& parts);
    void Show(const std::string& text) { Show(std::vector<ProgressPart>{{text, 0}}); }

    // Blanks the line and leaves the cursor at its start.
    void Clear();

private:
    size_t Columns() const;

    std::ostream& out;
    bool shown;
    std::function<size_t()> columns;
    bool erases;
    std::string current;  // the text on the line now
    size_t width = 0;     // the terminal's width it was fitted to
};
