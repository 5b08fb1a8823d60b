// vantrel-mpi's process: MPI, and Ctrl-C and SIGTERM handling; the fleet run
// itself is in FleetRun.
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
#include <csignal>
#include <cstdint>
#include <iostream>
#include <string>
#include <thread>
#include <vector>

#include <time.h>

#include "mpi/FleetRun.h"

namespace {

static_assert(std::atomic<bool>::is_always_lock_free && std::atomic<uint32_t>::is_always_lock_free,
              "the signal handler needs lock-free flags");
std::atomic<bool> interruptRequested{false};
std::atomic<uint32_t> firstSignalAt{0};  // milliseconds of a monotonic clock (wrapping)

// How long a stopped rank waits for MPI_Finalize before it exits without it.
constexpr std::chrono::milliseconds kFinalizeWait{250};

uint32_t MonotonicMilliseconds() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);  // safe in a signal handler
    return uint32_t(now.tv_sec) * 1000u + uint32_t(now.tv_nsec / 1000000);
}

// The first SIGINT or SIGTERM only sets the flag: the rank stops its run
// cooperatively and the fleet agrees to stop. A second one, a second or more
// later, ends the rank the default way, should that stop ever hang.
extern "C" void OnStopSignal(int signal) {
    if (!interruptRequested.exchange(true)) {
        firstSignalAt.store(MonotonicMilliseconds());
        return;
    }
    if (MonotonicMilliseconds() - firstSignalAt.load() < 1000) return;
    std::signal(signal, SIG_DFL);
    std::raise(signal);
}

}  // namespace

int main(int argc, char** argv) {
    std::signal(SIGINT, OnStopSignal);
    std::signal(SIGTERM, OnStopSignal);
    int provided = 0;
    MPI_Init_thread(&argc, &argv, MPI_THREAD_FUNNELED, &provided);
    std::vector<std::string> args;
    for (int i = 1; i < argc; ++i) args.emplace_back(argv[i]);
    const int code = RunFleet(args, std::cout, std::cerr, interruptRequested);
    if (code == kFleetStopped) {
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
