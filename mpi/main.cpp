// vantrel-mpi's process: MPI and the stop signals (runner/StopSignals.h); the
// fleet run itself is in FleetRun.
//
// Under mpirun a Ctrl-C (or SIGTERM) reaches mpirun alone; it sends every
// rank SIGCONT, then after odls_base_sigkill_timeout seconds (default 1)
// SIGTERM, and after as long again SIGKILL. So SIGTERM is the rank's stop
// request, and the stop, the last gather and rank 0's report must fit into
// the second before SIGKILL. Once mpirun has begun to end the job,
// MPI_Finalize waits for it to the end (SIGKILL); a stopped rank therefore
// gives it a moment and then exits with its code on its own.
#include <mpi.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <iostream>
#include <string>
#include <thread>
#include <vector>

#include "mpi/FleetRun.h"
#include "runner/ExitCodes.h"
#include "runner/StopSignals.h"

namespace {

// How long a stopped rank waits for MPI_Finalize before it exits without it.
constexpr std::chrono::milliseconds kFinalizeWait{250};

}  // namespace

int main(int argc, char** argv) {
    const std::atomic<bool>& interrupt = InstallStopSignals();
    int provided = 0;
    MPI_Init_thread(&argc, &argv, MPI_THREAD_FUNNELED, &provided);
    std::vector<std::string> args;
    for (int i = 1; i < argc; ++i) args.emplace_back(argv[i]);
    const int code = RunFleet(args, std::cout, std::cerr, interrupt);
    if (code == kExitInterrupted) {
        std::cout.flush();
        std::cerr.flush();
        std::thread([code] {
            std::this_thread::sleep_for(kFinalizeWait);
            std::_Exit(code);
        }).detach();
    }
    MPI_Finalize();
    return code;
}
