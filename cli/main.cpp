// The headless runner's process: Ctrl-C and SIGTERM handling, the terminal
// test and the standard streams; everything else is in vantrel_cli_lib.
#include <atomic>
#include <cstdint>
#include <csignal>
#include <cstdio>
#include <iostream>
#include <string>
#include <vector>

#ifdef _WIN32
#include <io.h>
#include <windows.h>
#else
#include <time.h>
#include <unistd.h>
#endif

#include "cli/BenchmarkSession.h"
#include "cli/ResultSaver.h"

namespace {

static_assert(std::atomic<bool>::is_always_lock_free && std::atomic<int>::is_always_lock_free &&
                  std::atomic<uint32_t>::is_always_lock_free,
              "the signal handler needs lock-free flags");
std::atomic<bool> interruptRequested{false};
std::atomic<int> stopSignal{0};           // the first SIGINT or SIGTERM
std::atomic<uint32_t> firstSignalAt{0};   // its time, in milliseconds of a monotonic clock (wrapping)

uint32_t MonotonicMilliseconds() {
#ifdef _WIN32
    return uint32_t(GetTickCount());
#else
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);  // safe in a signal handler
    return uint32_t(now.tv_sec) * 1000u + uint32_t(now.tv_nsec / 1000000);
#endif
}

// The first Ctrl-C or SIGTERM only sets the flag: the main thread stops the
// run cooperatively. A second one, a second or more later, ends the process
// the default way, should that stop ever hang, and takes a save's temporary
// file with it. Signals within that second are the same request arriving
// twice: `timeout` sends SIGTERM to the runner and again to its process group.
extern "C" void OnStopSignal(int signal) {
    int none = 0;
    if (stopSignal.compare_exchange_strong(none, signal)) {
        firstSignalAt.store(MonotonicMilliseconds());
        interruptRequested.store(true);
        return;
    }
    if (MonotonicMilliseconds() - firstSignalAt.load() < 1000) return;
    RemoveSaveInProgress();
    std::signal(signal, SIG_DFL);
    std::raise(signal);
}

bool StderrIsTerminal() {
#ifdef _WIN32
    return _isatty(_fileno(stderr)) != 0;
#else
    return isatty(fileno(stderr)) != 0;
#endif
}

}  // namespace

int main(int argc, char** argv) {
    std::signal(SIGINT, OnStopSignal);
    std::signal(SIGTERM, OnStopSignal);
    std::vector<std::string> args;
    for (int i = 1; i < argc; ++i) args.emplace_back(argv[i]);
    const int code = RunCli(args, std::cout, std::cerr, StderrIsTerminal(), interruptRequested);
    return code == kExitInterrupted && stopSignal.load() == SIGTERM ? kExitTerminated : code;
}
