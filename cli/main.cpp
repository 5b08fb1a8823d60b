// The headless runner's process: Ctrl-C and SIGTERM handling, the terminal
// test and the standard streams; everything else is in vantrel_cli_lib.
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
#include "cli/ResultSaver.h"

namespace {

static_assert(std::atomic<bool>::is_always_lock_free && std::atomic<int>::is_always_lock_free,
              "the signal handler needs lock-free flags");
std::atomic<bool> interruptRequested{false};
std::atomic<int> stopSignal{0};  // the first SIGINT or SIGTERM

// The first Ctrl-C or SIGTERM only sets the flag: the main thread stops the
// run cooperatively. A second one ends the process the default way, should
// that stop ever hang, and takes a save's temporary file with it.
extern "C" void OnStopSignal(int signal) {
    int none = 0;
    if (stopSignal.compare_exchange_strong(none, signal)) {
        interruptRequested.store(true);
        return;
    }
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
