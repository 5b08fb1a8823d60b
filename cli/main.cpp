// The headless runner's process: the stop signals, the terminal test and the
// standard streams; everything else is in the runner's libraries.
#include <iostream>
#include <string>
#include <vector>

#include "cli/RunCli.h"
#include "runner/Platform.h"
#include "runner/StopSignals.h"

int main(int argc, char** argv) {
    const std::atomic<bool>& interrupt = InstallStopSignals();
    // A report whose reader has gone (`| head`) is not the end of the
    // process: the write fails, the runs stop, and what finished is stored.
    platform::IgnoreClosedPipes();
    std::vector<std::string> args;
    for (int i = 1; i < argc; ++i) args.emplace_back(argv[i]);
    const int code = RunCli(args, std::cout, std::cerr, platform::StandardTerminals(), interrupt);
    return StopExitCode(code);
}
