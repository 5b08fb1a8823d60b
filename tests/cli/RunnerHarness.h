// Runs the runner in-process, as main() does, and keeps what it printed.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <sstream>
#include <thread>
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

// interrupted: as if Ctrl-C had come before the first run started. A runner
// still at work after the few seconds a small task needs is interrupted, so
// that a search that never ends fails its test (exit 130) instead of hanging.
inline CliResult RunRunner(const std::vector<std::string>& args, bool interrupted = false) {
    std::atomic<bool> interrupt{interrupted};
    std::mutex lock;
    std::condition_variable ended;
    bool done = false;
    std::thread watchdog([&] {
        std::unique_lock<std::mutex> guard(lock);
        if (!ended.wait_for(guard, std::chrono::seconds(10), [&] { return done; })) interrupt.store(true);
    });
    CliResult result = RunRunner(args, interrupt);
    {
        std::lock_guard<std::mutex> guard(lock);
        done = true;
    }
    ended.notify_one();
    watchdog.join();
    return result;
}
