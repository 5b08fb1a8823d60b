// Runs the runner in-process, as main() does, and keeps what it printed.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <sstream>
#include <thread>
#include <string>
#include <vector>

#include "cli/BenchmarkSession.h"
#include "cli/CliOptions.h"
#include "cli/RunCli.h"
#include "runner/ExitCodes.h"
#include "runner/SearchDriver.h"

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

// Returns body(), with `interrupt` set should it still be at work after the
// few seconds a small task needs, so that a search that never ends fails its
// test (exit 130) instead of hanging.
template <class Body>
auto Bounded(std::atomic<bool>& interrupt, Body body) {
    std::mutex lock;
    std::condition_variable ended;
    bool done = false;
    std::thread watchdog([&] {
        std::unique_lock<std::mutex> guard(lock);
        if (!ended.wait_for(guard, std::chrono::seconds(10), [&] { return done; })) interrupt.store(true);
    });
    auto result = body();
    {
        std::lock_guard<std::mutex> guard(lock);
        done = true;
    }
    ended.notify_one();
    watchdog.join();
    return result;
}

// interrupted: as if Ctrl-C had come before the first run started.
inline CliResult RunRunner(const std::vector<std::string>& args, bool interrupted = false) {
    std::atomic<bool> interrupt{interrupted};
    return Bounded(interrupt, [&] { return RunRunner(args, interrupt); });
}

// The session of `args`, its engine's results changed by `hook` (if any)
// before they are verified, as an engine with a fault would have left them.
// `stopWhen`, if given, sees every notification on the worker that sends it
// and asks for a stop, as Ctrl-C would, when it returns true.
inline CliResult RunWithFault(const std::vector<std::string>& args, SearchDriver::ResultHook hook,
                              std::function<bool(const Notification&)> stopWhen = nullptr) {
    const ParseOutcome parsed = ParseCommandLine(args, LogicalProcessors());
    std::ostringstream out;
    std::ostringstream err;
    std::atomic<bool> interrupt{false};
    BenchmarkSession session(parsed.options, out, err, false, interrupt);
    session.SetResultHook(std::move(hook));
    if (stopWhen) {
        session.SetNotifyHook([&](const Notification& notification) {
            if (!stopWhen(notification)) return;
            interrupt.store(true);
            // Held (under the engine's lock) until the stop reaches the
            // workers: the search goes no further than this notification.
            const PrimeFinder* finder = session.Coordinator().finders.front();
            while (!finder->stopRequested.load()) std::this_thread::yield();
        });
    }
    CliResult result;
    result.exitCode = parsed.action == CliAction::Run ? Bounded(interrupt, [&] { return session.Run(); }) : -1;
    result.out = out.str();
    result.err = err.str();
    return result;
}
