// Runs the runner in-process, as main() does, and keeps what it printed.
#pragma once

#include <atomic>
#include <sstream>
#include <string>
#include <vector>

#include "cli/BenchmarkSession.h"

struct CliResult {
    int exitCode = -1;
    std::string out;
    std::string err;
};

inline CliResult RunRunner(const std::vector<std::string>& args, const std::atomic<bool>& interrupt) {
    std::ostringstream out;
    std::ostringstream err;
    CliResult result;
    result.exitCode = RunCli(args, out, err, false, interrupt);
    result.out = out.str();
    result.err = err.str();
    return result;
}

// interrupted: as if Ctrl-C had come before the first run started.
inline CliResult RunRunner(const std::vector<std::string>& args, bool interrupted = false) {
    const std::atomic<bool> interrupt{interrupted};
    return RunRunner(args, interrupt);
}
