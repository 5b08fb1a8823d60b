// One rank's part of a fleet run. Every rank of MPI_COMM_WORLD runs the same
// plan: first an agreement that every rank was given the same options; before
// each run a barrier, so that every setting starts on all ranks together;
// after each run an agreement on whether to stop, so that a rank that was
// stopped never leaves the others waiting; after each setting a gather of
// every rank's runs to rank 0, which alone writes the report and the store,
// setting by setting. Every wait has a deadline (mpi/FleetComm.h).
#pragma once

#include <atomic>
#include <ostream>
#include <string>
#include <vector>

struct FleetEnd {
    int code = 0;            // runner/ExitCodes.h, the same on every rank that ends with the others
    bool abandoned = false;  // ranks did not arrive: the job must be ended (MPI_Abort), not finalized
};

// Collective over MPI_COMM_WORLD, between MPI_Init_thread and MPI_Finalize.
// args excludes the program name; ranks given other options than rank 0's
// are refused with 2. interrupt, once set, stops this rank's run; the fleet
// then stops after the run. Rank 0 writes the report to out and messages to
// err; the other ranks write nothing, except rank 1 when rank 0 does not
// answer. The code is kExitInterrupted when Ctrl-C to mpirun, or SIGINT or
// SIGTERM to a rank, stopped the fleet.
FleetEnd RunFleet(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
                  const std::atomic<bool>& interrupt);
