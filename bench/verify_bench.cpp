// Times what the runner adds to a run to verify it: the digest of the whole
// primes table (and the rest of the check of a finished run) against the
// run itself, on every logical processor; and, for scale, the sieve that
// names the first wrong slot, which runs only when the digest differs.
//
//   verify_bench [TASK] [--reps R]      (default 10M, 20 repetitions)
#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "engine/PrimeCoordinator.h"
#include "engine/TaskTable.h"
#include "runner/RunRecord.h"
#include "verify/PrimeSieve.h"
#include "verify/Verification.h"

namespace {

using Clock = std::chrono::steady_clock;

double Seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

class FinishWaiter : public INotifyTarget {
public:
    void Notify(uint32_t message, uint32_t wParam, uint32_t lParam) override {
        if (message != WM_SEARCH_FINISHED) return;
        std::lock_guard<std::mutex> guard(lock);
        finished = true;
        index = wParam;
        prime = lParam;
        done.notify_all();
    }
    void Wait() {
        std::unique_lock<std::mutex> guard(lock);
        done.wait(guard, [&] { return finished; });
    }
    uint32_t index = 0, prime = 0;

private:
    std::mutex lock;
    std::condition_variable done;
    bool finished = false;
};

// The best and the median of `reps` timings of f.
template <class F>
std::pair<double, double> Time(int reps, F f) {
    std::vector<double> times;
    for (int i = 0; i < reps; ++i) {
        const Clock::time_point begin = Clock::now();
        f();
        times.push_back(Seconds(Clock::now() - begin));
    }
    std::sort(times.begin(), times.end());
    return {times.front(), times[times.size() / 2]};
}

}  // namespace

int main(int argc, char** argv) {
    std::string label = "10M";
    int reps = 20;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--reps") == 0 && i + 1 < argc) {
            reps = std::max(1, std::atoi(argv[++i]));
        } else if (argv[i][0] != '-') {
            label = argv[i];
        } else {
            std::fprintf(stderr, "usage: verify_bench [TASK] [--reps R]\n");
            return 2;
        }
    }
    const int task = TaskTable::Find(label);
    if (task < 0) {
        std::fprintf(stderr, "unknown task %s\n", label.c_str());
        return 2;
    }
    const uint32_t n = TaskTable::taskSizes[task];
    const auto threads = uint16_t(std::min<uint32_t>(LogicalProcessors(), PrimeCoordinator::kMaxThreads));

    FinishWaiter waiter;
    PrimeCoordinator coordinator(&waiter);
    const Clock::time_point begin = Clock::now();
    if (coordinator.Start(n, threads) != StartResult::Started) return 1;
    waiter.Wait();
    const double run = Seconds(Clock::now() - begin);
    coordinator.Stop();

    uint64_t digest = 0;
    const auto [hashBest, hashMedian] = Time(reps, [&] { digest = PrimesDigest(coordinator.primes, n); });
    std::string fault;
    const auto [checkBest, checkMedian] = Time(reps, [&] {
        fault = VerifyRun(n, TaskTable::lastPrimes[task], TaskTable::resultDigests[task], waiter.index, waiter.prime,
                          coordinator.primes, coordinator.lastIndex).fault;
    });
    const auto [sieveBest, sieveMedian] = Time(1, [&] { fault += FirstWrongSlot(coordinator.primes, n).fault; });

    std::printf("verify_bench: task %s on %u threads, the check %d times (best, median)\n\n", label.c_str(),
                unsigned(threads), reps);
    std::printf("run                    %9.3f s\n", run);
    std::printf("digest (XXH3, %4u MB) %9.4f s  %9.4f s  %6.3f%% of the run\n", unsigned(uint64_t{n} * 4 >> 20),
                hashBest, hashMedian, hashMedian / run * 100.0);
    std::printf("whole check of a run   %9.4f s  %9.4f s  %6.3f%% of the run\n", checkBest, checkMedian,
                checkMedian / run * 100.0);
    std::printf("sieve, on a mismatch   %9.3f s             %6.1f%% of the run\n", sieveBest, sieveBest / run * 100.0);
    std::printf("\nTarget: the whole check under 1%% of the run.\n");
    if (digest != TaskTable::resultDigests[task] || !fault.empty()) {
        std::fprintf(stderr, "%s: the run does not verify: %s\n", label.c_str(), fault.c_str());
        return 1;
    }
    return checkMedian < run / 100.0 ? 0 : 1;
}
