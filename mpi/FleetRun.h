// One rank's part of a fleet run. Every rank of MPI_COMM_WORLD runs the same
// plan: before each run a barrier, so that every setting starts on all ranks
// together; after each run an agreement on whether to stop, so that a rank
// that was stopped never leaves the others waiting; after each setting a
// gather of every rank's runs to rank 0, which alone writes the report.
//
// Threads: only the main thread calls MPI (MPI_THREAD_FUNNELED); the
// engine's workers never do.
#pragma once

#include <atomic>
#include <ostream>
#include <string>
#include <vector>

// Collective over MPI_COMM_WORLD, between MPI_Init_thread and MPI_Finalize.
// args excludes the program name and is the same on every rank. interrupt,
// once set, stops this rank's run; the fleet then stops after the run. Rank
// 0 writes the report to out and messages to err; the other ranks write
// nothing. Returns the exit code, the same on every rank (runner/ExitCodes.h;
// kExitInterrupted when Ctrl-C to mpirun, or SIGINT or SIGTERM to a rank,
// stopped the fleet).
int RunFleet(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
             const std::atomic<bool>& interrupt);
