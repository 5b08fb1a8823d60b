#include "mpi/FleetComm.h"

#include <thread>

#include "engine/PrimeCoordinator.h"
#include "runner/RunContext.h"

namespace {

// How long a rank sleeps between looks at a collective it waits for: a
// rank whose run has ended must not spin on a core that a rank sharing its
// host still runs on.
constexpr std::chrono::microseconds kCollectivePause{200};

// How long rank 0 waits for the answers to its roll call: a rank that waits
// answers within a pause or two.
constexpr std::chrono::seconds kRollCallTime{1};
// Once a stop signal has come, how long rank 0 waits for a collective before
// it calls the roll, and how long for the answers: within the second mpirun
// leaves before SIGKILL, with time for the report's end.
constexpr std::chrono::milliseconds kStopWait{300};
constexpr std::chrono::milliseconds kStopRollCallTime{250};

// The roll call's messages, point to point beside the collectives (which
// MPI keeps apart from them).
constexpr int kRollCallTag = 7001;
constexpr int kHereTag = 7002;
// Sent and not waited for: the buffers must outlive the sends.
const int kCall = 1;
const int kHere = 1;

using Clock = std::chrono::steady_clock;

}  // namespace

FleetComm::FleetComm() {
    MPI_Comm_rank(MPI_COMM_WORLD, &rank);
    MPI_Comm_size(MPI_COMM_WORLD, &size);
    // A peer that is gone is a rank that does not answer, not the end of this one.
    MPI_Comm_set_errhandler(MPI_COMM_WORLD, MPI_ERRORS_RETURN);
}

void FleetComm::Await(MPI_Request& request, Pace pace) {
    // Rank 0 gives the others the deadline; they give rank 0 twice as long
    // and its roll call, so that rank 0, when it is there, is the one that
    // reports; and rank 1 is the first of them, as it says why.
    const std::chrono::seconds deadline(deadlineSeconds);
    const auto limit = Root() ? deadline : 2 * deadline + kRollCallTime * (rank == 1 ? 1 : 2);
    auto start = Clock::now();
    std::optional<Clock::time_point> stopped;
    for (;;) {
        int done = 0;
        const int status = MPI_Test(&request, &done, MPI_STATUS_IGNORE);
        if (status == MPI_SUCCESS && done != 0) return;
        if (!Root()) AnswerRollCall();
        if (Root() && !stopped && stop != nullptr && stop->load()) stopped = Clock::now();
        if (stopped && Clock::now() - *stopped > kStopWait) {
            // Ranks still running answer the call; one that is gone cannot.
            const std::vector<int> absent = RollCall(kStopRollCallTime);
            if (!absent.empty()) throw FleetLost({absent, step, deadlineSeconds, true});
            stopped = Clock::now();
        }
        if (status != MPI_SUCCESS || Clock::now() - start > limit) {
            if (!Root()) throw FleetLost({{}, step, std::chrono::ceil<std::chrono::seconds>(limit).count()});
            const std::vector<int> absent = RollCall(kRollCallTime);
            if (!absent.empty() || status != MPI_SUCCESS) throw FleetLost({absent, step, deadlineSeconds});
            start = Clock::now();  // every rank waits: the collective is on its way
        }
        if (pace == Pace::Sleep) std::this_thread::sleep_for(kCollectivePause);
    }
}

std::vector<int> FleetComm::RollCall(std::chrono::milliseconds time) {
    replies.assign(size_t(size), 0);
    std::vector<MPI_Request> answers(size_t(size), MPI_REQUEST_NULL);
    for (int other = 1; other < size; ++other) {
        MPI_Request call;
        MPI_Isend(&kCall, 1, MPI_INT, other, kRollCallTag, MPI_COMM_WORLD, &call);
        MPI_Request_free(&call);
        MPI_Irecv(&replies[size_t(other)], 1, MPI_INT, other, kHereTag, MPI_COMM_WORLD, &answers[size_t(other)]);
    }
    const auto end = Clock::now() + time;
    std::vector<int> absent;
    for (;;) {
        absent.clear();
        for (int other = 1; other < size; ++other) {
            int done = 0;
            MPI_Request& answer = answers[size_t(other)];
            if (answer != MPI_REQUEST_NULL && MPI_Test(&answer, &done, MPI_STATUS_IGNORE) != MPI_SUCCESS) done = 0;
            if (answer != MPI_REQUEST_NULL && done == 0) absent.push_back(other);
        }
        if (absent.empty() || Clock::now() > end) break;
        std::this_thread::sleep_for(kCollectivePause);
    }
    // An answer that comes late must find no receive that writes it.
    for (int other : absent) {
        MPI_Cancel(&answers[size_t(other)]);
        MPI_Wait(&answers[size_t(other)], MPI_STATUS_IGNORE);
    }
    return absent;
}

void FleetComm::AnswerRollCall() {
    int called = 0;
    MPI_Iprobe(0, kRollCallTag, MPI_COMM_WORLD, &called, MPI_STATUS_IGNORE);
    if (called == 0) return;
    int call = 0;
    MPI_Recv(&call, 1, MPI_INT, 0, kRollCallTag, MPI_COMM_WORLD, MPI_STATUS_IGNORE);
    MPI_Request answer;
    MPI_Isend(&kHere, 1, MPI_INT, 0, kHereTag, MPI_COMM_WORLD, &answer);
    MPI_Request_free(&answer);
}

void FleetComm::StartTogether() {
    MPI_Request request;
    MPI_Ibarrier(MPI_COMM_WORLD, &request);
    Await(request, Pace::Sleep);
    MPI_Ibarrier(MPI_COMM_WORLD, &request);
    Await(request, Pace::Spin);
}

unsigned FleetComm::AllMax(unsigned value) {
    unsigned result = 0;
    MPI_Request request;
    MPI_Iallreduce(&value, &result, 1, MPI_UNSIGNED, MPI_MAX, MPI_COMM_WORLD, &request);
    Await(request, Pace::Sleep);
    return result;
}

std::vector<uint16_t> FleetComm::AllCounts(const std::vector<uint16_t>& counts) {
    // One bit per count, joined in one reduction.
    constexpr int kWords = (PrimeCoordinator::kMaxThreads + 64) / 64;
    uint64_t mine[kWords] = {};
    uint64_t all[kWords] = {};
    for (uint16_t count : counts) mine[count / 64] |= uint64_t(1) << (count % 64);
    MPI_Request request;
    MPI_Iallreduce(mine, all, kWords, MPI_UINT64_T, MPI_BOR, MPI_COMM_WORLD, &request);
    Await(request, Pace::Sleep);
    std::vector<uint16_t> joined;
    for (int count = 0; count < kWords * 64; ++count) {
        if ((all[count / 64] >> (count % 64)) & 1u) joined.push_back(uint16_t(count));
    }
    return joined;
}

int FleetComm::FromRankZero(int value) {
    MPI_Request request;
    MPI_Ibcast(&value, 1, MPI_INT, 0, MPI_COMM_WORLD, &request);
    Await(request, Pace::Sleep);
    return value;
}

bool FleetComm::Same(uint64_t digest) {
    // The largest digest and the complement of the smallest, in one reduction.
    uint64_t values[2] = {digest, ~digest};
    uint64_t largest[2] = {0, 0};
    MPI_Request request;
    MPI_Iallreduce(values, largest, 2, MPI_UINT64_T, MPI_MAX, MPI_COMM_WORLD, &request);
    Await(request, Pace::Sleep);
    return largest[0] == ~largest[1];
}

std::optional<std::vector<std::string>> FleetComm::Gather(const std::string& text, const std::string& what,
                                                         FleetTally& tally) {
    const auto start = Clock::now();
    int length = int(text.size());
    std::vector<int> lengths(Root() ? size_t(size) : 0);
    MPI_Request request;
    MPI_Igather(&length, 1, MPI_INT, lengths.data(), 1, MPI_INT, 0, MPI_COMM_WORLD, &request);
    Await(request, Pace::Sleep);
    int64_t total = 0;
    for (int bytes : lengths) total += bytes;
    if (FromRankZero(total <= gatherLimit ? 1 : 0) == 0) {
        if (Root()) {
            tally.ungathered = what;
            tally.gatherFailure = what + " came to " + std::to_string(total) + " bytes, more than one gather holds (" +
                                  std::to_string(gatherLimit) + " bytes, as MPI counts them in int): run fewer ranks "
                                  "or repeats in one job";
        }
        return std::nullopt;
    }
    std::vector<int> offsets(lengths.size());
    for (size_t i = 1; i < lengths.size(); ++i) offsets[i] = offsets[i - 1] + lengths[i - 1];
    std::string bytes(size_t(total), '\0');
    MPI_Igatherv(text.data(), length, MPI_CHAR, bytes.data(), lengths.data(), offsets.data(), MPI_CHAR, 0,
                 MPI_COMM_WORLD, &request);
    Await(request, Pace::Sleep);
    std::vector<std::string> texts;
    for (size_t i = 0; i < lengths.size(); ++i) texts.push_back(bytes.substr(size_t(offsets[i]), size_t(lengths[i])));
    if (Root()) {
        tally.gatheredBytes += uint64_t(total) + lengths.size() * sizeof(int);
        tally.gatherSeconds += std::chrono::duration<double>(Clock::now() - start).count();
    }
    return texts;
}

RankInfo FleetComm::Info(const ProcessorFacts& processors, BindMode bind) {
    RankInfo info;
    info.rank = rank;
    char name[MPI_MAX_PROCESSOR_NAME] = {};
    int length = 0;
    MPI_Get_processor_name(name, &length);
    info.host.assign(name, size_t(length));
    // MPI has no split that does not block; it comes before any run.
    MPI_Comm node;
    MPI_Comm_split_type(MPI_COMM_WORLD, MPI_COMM_TYPE_SHARED, rank, MPI_INFO_NULL, &node);
    MPI_Request request;
    MPI_Iallreduce(&rank, &info.node, 1, MPI_INT, MPI_MIN, node, &request);
    Await(request, Pace::Sleep);
    MPI_Comm_free(&node);
    info.context = CollectRunContext(processors, bind);
    return info;
}
