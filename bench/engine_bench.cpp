// Times the engine against a bare single-threaded loop of the same arithmetic
// (the same candidates, the same divisions) and prints the ratios, together
// with the speedup the batch schedule itself allows.
//
//   engine_bench [--tasks 1M,2M,10M] [--reps R]
//   engine_bench --only bare|engine TASK THREADS   (one run, e.g. under callgrind)
#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "engine/PrimeCoordinator.h"
#include "engine/TaskTable.h"
#include "engine/TrialDivision.h"

namespace {

using Clock = std::chrono::steady_clock;

double Seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

struct Range {
    uint32_t start, end;
};

// The ranges the engine searches, in order, until the table is full.
std::vector<Range> Ranges() {
    std::vector<Range> ranges{{2, PrimeCoordinator::kFirstRangeEnd}};
    for (uint32_t s = PrimeCoordinator::kFirstRangeEnd; s < 4293935104u; s += PrimeCoordinator::kRangeSpan)
        ranges.push_back({s, s + PrimeCoordinator::kRangeSpan});
    return ranges;
}

// Searches the ranges one after another on this thread with the workers' own
// test of a candidate (nothing of the engine around it), and records the time
// of each. Returns the total time; the N-th prime goes to *last.
double BareLoop(uint32_t n, std::vector<double>* rangeTimes, uint32_t* last) {
    const Clock::time_point begin = Clock::now();
    std::vector<uint32_t> table(size_t(n) + 1);
    std::copy(SeedPrimes.begin(), SeedPrimes.end(), table.begin());
    std::vector<uint32_t> found(EstimateCapacity(PrimeCoordinator::kFirstRangeEnd + PrimeCoordinator::kRangeSpan,
                                                 PrimeCoordinator::kFirstRangeEnd));
    uint32_t lastIndex = SeedLastSlot;
    for (const Range& range : Ranges()) {
        const Clock::time_point t0 = Clock::now();
        uint32_t count = 0;
        for (uint32_t c = range.start + 1; c < range.end; c += 2) {
            if (PreTest(c) && WalkTable(c, table.data())) found[count++] = c;
        }
        const uint32_t k = std::min(count, n - lastIndex);
        std::memcpy(&table[lastIndex + 1], found.data(), size_t(k) * 4);
        lastIndex += k;
        if (rangeTimes) rangeTimes->push_back(Seconds(Clock::now() - t0));
        if (lastIndex >= n) break;
    }
    *last = table[n - 1];
    return Seconds(Clock::now() - begin);
}

class FinishWaiter : public INotifyTarget {
public:
    void Notify(uint32_t message, uint32_t, uint32_t lParam) override {
        if (message != WM_SEARCH_FINISHED) return;
        std::lock_guard<std::mutex> lock(mutex);
        finished = true;
        last = lParam;
        done.notify_all();
    }
    uint32_t Wait() {
        std::unique_lock<std::mutex> lock(mutex);
        done.wait(lock, [&] { return finished; });
        finished = false;
        return last;
    }

private:
    std::mutex mutex;
    std::condition_variable done;
    bool finished = false;
    uint32_t last = 0;
};

double EngineRun(uint32_t n, uint16_t threads, uint32_t* last) {
    FinishWaiter waiter;
    PrimeCoordinator coordinator(&waiter);
    const Clock::time_point begin = Clock::now();
    if (coordinator.Start(n, threads) != StartResult::Started) return -1;
    *last = waiter.Wait();
    const double seconds = Seconds(Clock::now() - begin);
    coordinator.Stop();
    return seconds;
}

// The speedup T threads can reach at best: each batch of T ranges lasts as
// long as its slowest range, and the completing batch's later ranges are
// searched for nothing.
double ScheduleLimit(const std::vector<double>& rangeTimes, unsigned threads) {
    double one = 0, many = 0;
    const size_t used = rangeTimes.size();
    for (double t : rangeTimes) one += t;
    many = rangeTimes[0];
    // Ranges beyond the completing one are searched by the last batch too;
    // time them like the completing range.
    for (size_t i = 1; i < used; i += threads) {
        double slowest = 0;
        for (size_t j = i; j < i + threads; ++j) slowest = std::max(slowest, rangeTimes[std::min(j, used - 1)]);
        many += slowest;
    }
    return one / many;
}

double Min(const std::vector<double>& v) {
    double best = v.empty() ? 0 : v[0];
    for (double x : v) best = std::min(best, x);
    return best;
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> tasks = {"1M", "2M", "10M"};
    int reps = 5;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--only") == 0 && i + 3 < argc) {
            // One measurement alone, for an instruction count under callgrind:
            //   engine_bench --only bare|engine TASK THREADS
            const std::string what = argv[i + 1];
            const int task = TaskTable::Find(argv[i + 2]);
            if (task < 0) return 2;
            uint32_t last = 0;
            const double s = what == "bare" ? BareLoop(TaskTable::taskSizes[task], nullptr, &last)
                                            : EngineRun(TaskTable::taskSizes[task], uint16_t(std::atoi(argv[i + 3])), &last);
            std::printf("%s %s: %.3f s, last prime %u\n", what.c_str(), argv[i + 2], s, last);
            return last == TaskTable::lastPrimes[task] ? 0 : 1;
        }
        if (std::strcmp(argv[i], "--reps") == 0 && i + 1 < argc) {
            reps = std::max(1, std::atoi(argv[++i]));
        } else if (std::strcmp(argv[i], "--tasks") == 0 && i + 1 < argc) {
            tasks.clear();
            std::string list = argv[++i];
            for (size_t p = 0; p <= list.size();) {
                size_t q = list.find(',', p);
                if (q == std::string::npos) q = list.size();
                tasks.push_back(list.substr(p, q - p));
                p = q + 1;
            }
        } else {
            std::fprintf(stderr, "usage: engine_bench [--tasks 1M,2M,10M] [--reps R] | --only bare|engine TASK THREADS\n");
            return 2;
        }
    }
    const uint32_t processors = LogicalProcessors();
    std::printf("engine_bench: %u logical processors, best of %d runs each\n\n", processors, reps);
    std::printf("%-5s %9s %9s %7s %9s %8s %8s\n", "task", "bare s", "1 thr s", "1t/bare", "2 thr s", "speedup",
                "limit");
    bool ok = true;
    for (const std::string& label : tasks) {
        const int task = TaskTable::Find(label);
        if (task < 0) {
            std::fprintf(stderr, "unknown task %s\n", label.c_str());
            return 2;
        }
        const uint32_t n = TaskTable::taskSizes[task];
        std::vector<double> bare, one, two, rangeTimes, bestRangeTimes;
        const int taskReps = n >= 10000000 ? std::max(1, reps / 2) : reps;
        for (int r = 0; r < taskReps; ++r) {
            uint32_t lastBare = 0, lastOne = 0, lastTwo = 0;
            rangeTimes.clear();
            bare.push_back(BareLoop(n, &rangeTimes, &lastBare));
            if (bestRangeTimes.empty() || bare.back() <= Min(bare)) bestRangeTimes = rangeTimes;
            one.push_back(EngineRun(n, 1, &lastOne));
            if (processors >= 2) two.push_back(EngineRun(n, 2, &lastTwo));
            const uint32_t expected = TaskTable::lastPrimes[task];
            if (lastBare != expected || lastOne != expected || (processors >= 2 && lastTwo != expected)) {
                std::fprintf(stderr, "%s: wrong last prime (%u %u %u, expected %u)\n", label.c_str(), lastBare,
                             lastOne, lastTwo, expected);
                ok = false;
            }
        }
        const double b = Min(bare), o = Min(one);
        if (processors >= 2) {
            const double t = Min(two);
            std::printf("%-5s %9.3f %9.3f %7.3f %9.3f %7.3fx %7.3fx\n", label.c_str(), b, o, o / b, t, o / t,
                        ScheduleLimit(bestRangeTimes, 2));
        } else {
            std::printf("%-5s %9.3f %9.3f %7.3f %9s %8s %8s\n", label.c_str(), b, o, o / b, "-", "-", "-");
        }
        std::fflush(stdout);
    }
    std::printf("\n1t/bare: engine on 1 thread over the bare loop (target <= 1.02 at 1M and 2M).\n"
                "speedup: 1 thread over 2 threads (targets >= 1.85 at 2M, >= 1.94 at 10M);\n"
                "limit: what the batch schedule allows, from the bare loop's time per range.\n");
    return ok ? 0 : 1;
}
