// The headless runner's process: Ctrl-C handling, the terminal test and the
// standard streams; everything else is in vantrel_cli_lib.
#include <atomic>
#include <csignal>
#include <cstdio>
#include <iostream>
#include <string>
#include <vector>

#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

#include "cli/BenchmarkSession.h"

namespace {

static_assert(std::atomic<bool>::is_always_lock_free, "the signal handler needs a lock-free flag");
std::atomic<bool> interruptRequested{false};

// The first Ctrl-C only sets the flag: the main thread stops the run
// cooperatively. A second one ends the process the default way, should that
// stop ever hang.
extern "C" void OnInterrupt(int) {
    interruptRequested.store(true);
    std::signal(SIGINT, SIG_DFL);
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
    std::signal(SIGINT, OnInterrupt);
    std::vector<std::string> args;
    for (int i = 1; i < argc; ++i) args.emplace_back(argv[i]);
    return RunCli(args, std::cout, std::cerr, StderrIsTerminal(), interruptRequested);
}
