// Where an invocation's texts go.
#pragma once

#include <ostream>

struct Console {
    std::ostream& out;  // the report, or with --events the notifications (the report then goes to err)
    std::ostream& err;  // messages and, when liveProgress is set, a progress line rewritten in place
    bool liveProgress = false;
};
