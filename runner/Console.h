// Where an invocation's texts go.
#pragma once

#include <ostream>

struct Console {
    std::ostream& out;  // the report, or with --events the notifications (the report then goes to err)
    std::ostream& err;  // messages and, when liveProgress is set, a progress line rewritten in place
    bool liveProgress = false;

    // Whether the report or, with `events`, the notifications can no longer
    // be written: their reader has gone (`| head`, `| less` quit early).
    // The runs then stop as on Ctrl-C, and what finished is kept.
    bool Closed(bool events) const { return out.fail() || (events && err.fail()); }
};

// What stops the runs when their output is closed, as the verdict names it.
constexpr const char* kClosedOutputStop = "a closed output";
