// The fleet's waits for one another on MPI_COMM_WORLD, none of them without
// end: every collective is non-blocking and waited for with a deadline.
// Rank 0, when ranks have not arrived within the deadline, calls the roll
// (every rank that waits answers it) and throws FleetLost naming those that
// did not answer; the other ranks give rank 0 twice as long before they
// throw it too. Whoever catches it ends the job (MPI_Abort): a collective
// that a rank never joins cannot be finished or left.
//
// Only the main thread calls MPI (MPI_THREAD_FUNNELED); the engine's
// workers never do, and no MPI call happens while a run is timed.
#pragma once

#include <mpi.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <limits>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "mpi/FleetResults.h"

// Ranks did not arrive at a step within the deadline. On rank 0 `loss`
// names them; on the other ranks it is empty (rank 0 did not answer).
struct FleetLost : std::runtime_error {
    explicit FleetLost(FleetLoss loss_) : std::runtime_error("ranks did not arrive"), loss(std::move(loss_)) {}
    FleetLoss loss;
};

class FleetComm {
public:
    FleetComm();

    bool Root() const { return rank == 0; }

    // How long a wait may last, and where the ranks are, for the report of
    // those that do not arrive ("the end of run 2 of 3 of 10M on 4 cores").
    void SetDeadline(int64_t seconds) { deadlineSeconds = seconds; }
    // The stop signal's flag. Once it is set, rank 0 waits for the other
    // ranks only briefly: under mpirun it comes as the job is ended (a
    // Ctrl-C, or a rank lost), and SIGKILL follows a second later, which
    // the report must be whole before.
    void SetStop(const std::atomic<bool>* stop_) { stop = stop_; }
    void SetStep(std::string step_) { step = std::move(step_); }
    const std::string& Step() const { return step; }

    // The start of a run on every rank at once. Ranks that wait long (for
    // rank 0's report) sleep in a first barrier, which leaves them up to a
    // pause per round apart; a second, spinning one, entered by ranks that
    // are all there by then, lines them up to microseconds.
    void StartTogether();

    unsigned AllMax(unsigned value);

    // Every count that some rank holds in `counts` (each at most
    // PrimeCoordinator::kMaxThreads), ascending, on every rank.
    std::vector<uint16_t> AllCounts(const std::vector<uint16_t>& counts);

    // Rank 0's value on every rank.
    int FromRankZero(int value);

    // Whether every rank holds the same digest.
    bool Same(uint64_t digest);

    // Every rank's text on rank 0, in rank order (elsewhere empty): the sizes
    // first, then the bytes in one gather. Nothing on any rank when the
    // texts together exceed what one gather holds; rank 0 then says so in
    // tally.gatherFailure, of `what` ("the ranks' results of 10M on 4 cores").
    std::optional<std::vector<std::string>> Gather(const std::string& text, const std::string& what, FleetTally& tally);

    // This rank's host, and the lowest rank that shares its node's memory.
    RankInfo Info(const ProcessorFacts& processors, BindMode bind);

    int rank = 0;
    int size = 1;
    // MPI counts the bytes of one gather in int; the tests lower it.
    int64_t gatherLimit = std::numeric_limits<int>::max();

private:
    enum class Pace { Sleep, Spin };
    void Await(MPI_Request& request, Pace pace);
    // Rank 0: the ranks that do not answer a call within a second.
    std::vector<int> RollCall(std::chrono::milliseconds time);
    void AnswerRollCall();

    int64_t deadlineSeconds = 3600;
    const std::atomic<bool>* stop = nullptr;
    std::string step = "the start of the job";
    std::vector<int> replies;  // rank 0: the roll call's answers
};
