// Where an invocation's texts go, and what the terminals among them take.
#pragma once

#include <cstddef>
#include <functional>
#include <ostream>

// The terminals the standard streams are, as the process finds them; a
// stream that is not one (a file, a pipe, a test's string) has all off.
struct Terminals {
    size_t helpWidth = 80;                // stdout's width when it is a terminal; 80 when not
    bool out = false;                     // stdout is a terminal that takes colours
    bool err = false;                     // stderr is a terminal: a live progress line goes there
    bool errControls = false;             // and it takes control sequences (colours, erasing to its end)
    std::function<size_t()> errColumns;   // its width now, read anew at every redraw (it may be resized)
    const char* noColor = nullptr;        // the environment's NO_COLOR; null when unset
};

struct Console {
    std::ostream& out;  // the report, or with --events the notifications (the report then goes to err)
    std::ostream& err;  // messages and, when liveProgress is set, a progress line rewritten in place
    bool liveProgress = false;
    std::function<size_t()> errColumns = {};  // the width of err's terminal now; empty: 80
    bool erases = false;   // err's terminal erases to its end on "\x1b[J"
    bool colours = false;  // the table report has colours

    // Whether the report or, with `events`, the notifications can no longer
    // be written: their reader has gone (`| head`, `| less` quit early).
    // The runs then stop as on Ctrl-C, and what finished is kept.
    bool Closed(bool events) const { return out.fail() || (events && err.fail()); }
};

// What stops the runs when their output is closed, as the verdict names it.
constexpr const char* kClosedOutputStop = "a closed output";
