// The coordinator with its workers, and step by step without them: the test
// plays the finders, so orders that threads produce only by chance happen.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <limits>
#include <memory>
#include <mutex>
#include <new>
#include <random>
#include <thread>
#include <tuple>

#include "engine/PrimeCoordinator.h"
#include "tests/support/BlockingTarget.h"
#include "tests/support/Primes.h"

// Fails every nothrow array allocation of at least this many bytes while armed.
static std::atomic<size_t> failArraysFrom{std::numeric_limits<size_t>::max()};

void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
    if (size >= failArraysFrom.load()) return nullptr;
    try {
        return ::operator new[](size);
    } catch (...) {
        return nullptr;
    }
}

namespace {

Message Progress(uint32_t w, uint32_t l) { return {WM_SEARCH_PROGRESS, w, l}; }
Message Finished(uint32_t w, uint32_t l) { return {WM_SEARCH_FINISHED, w, l}; }

const std::vector<Message> k100KMessages = {Progress(1898, 16369), Progress(83182, 1064953),
                                            Progress(99999, 1299709), Finished(99999, 1299709)};

const std::vector<uint32_t>& Sieve() {
    static const std::vector<uint32_t> primes = PrimesBelow(2200000);
    return primes;
}

// True when no finder of the coordinator has a thread that could still run.
bool NoWorkerAlive(const PrimeCoordinator& coordinator) {
    for (const PrimeFinder* finder : coordinator.finders) {
        if (finder->thread.joinable()) return false;
    }
    return true;
}

// The coordinators are kept on the heap. ThreadSanitizer knows a lock by its
// address and is never told that a std::mutex on the stack has gone (its
// destructor does nothing), so the engine's locks of one test and a target's
// lock of the next, placed at the same stack address, would merge into one
// lock whose orders form a cycle that no run can take. A freed heap object's
// locks are forgotten.
class PrimeCoordinatorTest : public ::testing::TestWithParam<int> {
protected:
    // A new coordinator that reports to `target`.
    PrimeCoordinator& Recording() { return *(heap = std::make_unique<PrimeCoordinator>(&target)); }

    // A new coordinator that reports to `blocking` and serves it while it waits.
    PrimeCoordinator& Served() {
        return *(heap = std::make_unique<PrimeCoordinator>(&blocking, [this] { blocking.Serve(); }));
    }

    // A coordinator in a running search with no worker threads, its table
    // filled up to slot lastIndex, and `count` finders that the test drives by
    // hand (Fill).
    PrimeCoordinator& Steps(uint32_t n, uint16_t count, uint32_t lastIndex) {
        PrimeCoordinator& coordinator = Recording();
        EXPECT_EQ(coordinator.Start(n, 0), StartResult::Started);
        coordinator.StopWorkers(-1);  // no hand-out may start a thread
        coordinator.running.store(true);
        coordinator.threadCount = count;
        std::copy(Sieve().begin(), Sieve().begin() + lastIndex + 1, coordinator.primes);
        coordinator.lastIndex = lastIndex;
        for (uint16_t i = 0; i < count; ++i) {
            PrimeFinder* finder = new PrimeFinder(i, &coordinator);
            EXPECT_TRUE(finder->ReserveResults(112569));
            coordinator.finders.push_back(finder);
        }
        return coordinator;
    }

    // Gives finder i the sieve's primes of (start, end) and marks it done or not.
    void Fill(int i, uint32_t start, uint32_t end, bool done) {
        PrimeFinder* finder = heap->finders[size_t(i)];
        finder->rangeStart = start;
        finder->rangeEnd = end;
        finder->count = 0;
        finder->merged = false;
        for (uint32_t p : Sieve()) {
            // The pre-test primes up to 131 are seeds: a finder never reports them.
            if (p > start && p < end && p > 131) finder->results[finder->count++] = p;
        }
        finder->done.store(done);
    }

    RecordingTarget target;
    BlockingTarget blocking;
    std::unique_ptr<PrimeCoordinator> heap;  // last: it goes before the targets it reports to
};

TEST_P(PrimeCoordinatorTest, HundredThousandSendsTheSameMessagesForAnyThreadCount) {
    PrimeCoordinator& coordinator = Recording();
    ASSERT_EQ(coordinator.Start(100000, uint16_t(GetParam())), StartResult::Started);
    ASSERT_TRUE(target.WaitFinished());
    // The completion ends every worker by itself (every finder ran in the second batch).
    EXPECT_TRUE(WaitUntil([&] {
        return std::all_of(coordinator.finders.begin(), coordinator.finders.end(),
                           [](const PrimeFinder* finder) { return finder->exited.load(); });
    }));
    EXPECT_FALSE(coordinator.Stop());  // the completing worker owned the end
    EXPECT_EQ(target.Messages(), k100KMessages);
    EXPECT_EQ(coordinator.lastIndex, 100000u);
    EXPECT_EQ(coordinator.primes[99999], 1299709u);
    EXPECT_EQ(coordinator.primes[100000], 1299721u);
    EXPECT_TRUE(NoWorkerAlive(coordinator));

    const std::vector<uint32_t> expected = PrimesBelow(1299722);
    ASSERT_EQ(expected.size(), 100001u);
    EXPECT_TRUE(std::equal(expected.begin(), expected.end(), coordinator.primes));
}

INSTANTIATE_TEST_SUITE_P(Threads, PrimeCoordinatorTest, ::testing::Values(1, 2, 3, 4));

TEST_F(PrimeCoordinatorTest, OneMillionWithTwoThreadsEndsOnTheMillionthPrime) {
    PrimeCoordinator& coordinator = Recording();
    ASSERT_EQ(coordinator.Start(1000000, 2), StartResult::Started);
    ASSERT_TRUE(target.WaitFinished(kLongWaitMs));
    coordinator.Stop();
    const std::vector<Message> messages = target.Messages();
    ASSERT_GE(messages.size(), 2u);
    EXPECT_EQ(messages.back(), Finished(999999, 15485863));
    EXPECT_EQ(messages[messages.size() - 2], Progress(999999, 15485863));
    for (size_t i = 1; i + 1 < messages.size(); ++i) {
        EXPECT_EQ(messages[i].message, WM_SEARCH_PROGRESS);
        EXPECT_GT(messages[i].wParam, messages[i - 1].wParam);  // merged in range order
    }
}

TEST_F(PrimeCoordinatorTest, RefusesBadArgumentsAndKeepsTheEarlierTable) {
    PrimeCoordinator& coordinator = Recording();
    ASSERT_EQ(coordinator.Start(100000, 1), StartResult::Started);
    ASSERT_TRUE(target.WaitFinished());
    coordinator.Stop();
    const uint32_t* table = coordinator.primes;

    EXPECT_EQ(coordinator.Start(30, 1), StartResult::TargetTooSmall);
    EXPECT_EQ(coordinator.Start(100000, 256), StartResult::TooManyThreads);
    EXPECT_EQ(coordinator.Start(200000001, 1), StartResult::TargetTooLarge);
    EXPECT_FALSE(coordinator.running.load());
    EXPECT_EQ(coordinator.primes, table);
    EXPECT_EQ(coordinator.lastIndex, 100000u);
    EXPECT_STRNE(StartResultText(StartResult::OutOfMemory), "");
}

TEST_F(PrimeCoordinatorTest, SmallestTargetCompletesInTheFirstMerge) {
    PrimeCoordinator& coordinator = Recording();
    ASSERT_EQ(coordinator.Start(31, 4), StartResult::Started);
    ASSERT_TRUE(target.WaitFinished());
    coordinator.Stop();
    // Slot 31 holds 131, the 32nd prime; the 31st prime is 127.
    EXPECT_EQ(target.Messages(), (std::vector<Message>{Progress(30, 127), Finished(30, 127)}));
}

TEST_F(PrimeCoordinatorTest, ZeroThreadsSearchNothingUntilStopped) {
    PrimeCoordinator& coordinator = Recording();
    ASSERT_EQ(coordinator.Start(100000, 0), StartResult::Started);
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_TRUE(coordinator.running.load());
    EXPECT_TRUE(coordinator.finders.empty());
    EXPECT_EQ(coordinator.lastIndex, 31u);
    EXPECT_TRUE(coordinator.Stop());
    EXPECT_FALSE(coordinator.running.load());
    EXPECT_TRUE(target.Messages().empty());
}

TEST_F(PrimeCoordinatorTest, StopInTheMiddleLeavesNoThreadAndMergesNothingAfter) {
    PrimeCoordinator& coordinator = Recording();
    ASSERT_EQ(coordinator.Start(5000000, 2), StartResult::Started);
    ASSERT_TRUE(target.WaitCount(2));  // the second batch is under way
    EXPECT_TRUE(coordinator.Stop());
    EXPECT_FALSE(coordinator.running.load());
    EXPECT_TRUE(NoWorkerAlive(coordinator));
    const std::vector<Message> atStop = target.Messages();
    const uint32_t lastIndex = coordinator.lastIndex;
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    EXPECT_EQ(target.Messages(), atStop);
    EXPECT_EQ(coordinator.lastIndex, lastIndex);
    EXPECT_EQ(atStop.back().message, WM_SEARCH_PROGRESS);
    EXPECT_EQ(atStop.back().wParam, lastIndex - 1);
    EXPECT_EQ(atStop.back().lParam, coordinator.primes[lastIndex - 1]);
    EXPECT_FALSE(coordinator.Stop());  // nothing left to stop
}

TEST_F(PrimeCoordinatorTest, StartsAgainAfterCompletionAndAfterStop) {
    PrimeCoordinator& coordinator = Recording();
    ASSERT_EQ(coordinator.Start(100000, 2), StartResult::Started);
    ASSERT_TRUE(target.WaitFinished());
    const uint32_t* table = coordinator.primes;
    // No Stop in between: Start ends the completed search's threads itself.
    // With no worker the fresh state can be read without a race. The table
    // is of the same task's size: it is reseeded, not allocated again (a new
    // one would be allocated before the old one is freed, at another address).
    ASSERT_EQ(coordinator.Start(100000, 0), StartResult::Started);
    EXPECT_EQ(coordinator.primes, table);
    EXPECT_EQ(coordinator.lastIndex, 31u);
    EXPECT_EQ(coordinator.primes[31], 131u);
    EXPECT_EQ(coordinator.primes[32], 0u);
    // A smaller task gets a table of its own size: a large one is not kept.
    ASSERT_EQ(coordinator.Start(1000, 0), StartResult::Started);
    EXPECT_NE(coordinator.primes, table);

    RecordingTarget second;
    coordinator.notifyTarget = &second;
    ASSERT_EQ(coordinator.Start(100000, 1), StartResult::Started);
    ASSERT_TRUE(second.WaitCount(1));
    coordinator.Stop();

    RecordingTarget third;
    coordinator.notifyTarget = &third;
    ASSERT_EQ(coordinator.Start(100000, 4), StartResult::Started);
    ASSERT_TRUE(third.WaitFinished());
    coordinator.Stop();
    EXPECT_EQ(third.Messages(), k100KMessages);
}

// The target delivers only when the waiting thread serves it (a window's
// thread that must pump to receive SendMessageW). Every wait of the engine
// serves it through the wait hook, so none of them can deadlock.
TEST_F(PrimeCoordinatorTest, StopServesAWorkerBlockedInANotification) {
    PrimeCoordinator& coordinator = Served();
    ASSERT_EQ(coordinator.Start(1000000, 2), StartResult::Started);
    ASSERT_TRUE(blocking.WaitPending());  // a worker sits in Notify holding the engine lock
    EXPECT_TRUE(coordinator.Stop());
    EXPECT_TRUE(NoWorkerAlive(coordinator));
    EXPECT_FALSE(blocking.Delivered().empty());
}

TEST_F(PrimeCoordinatorTest, StopWhileTheFinishIsBeingSentDeliversItBeforeReturning) {
    PrimeCoordinator& coordinator = Served();
    ASSERT_EQ(coordinator.Start(100000, 2), StartResult::Started);
    // Serve progress until the worker is blocked sending the finish.
    while (!blocking.HasPendingFinish()) {
        ASSERT_TRUE(blocking.WaitPending());
        if (!blocking.HasPendingFinish()) blocking.Serve();
    }
    EXPECT_FALSE(coordinator.Stop());  // the completing worker owned the end
    EXPECT_EQ(blocking.Delivered(), k100KMessages);
    EXPECT_TRUE(NoWorkerAlive(coordinator));
}

TEST_F(PrimeCoordinatorTest, StartAndDestructorServeABlockedWorker) {
    PrimeCoordinator& coordinator = Served();
    ASSERT_EQ(coordinator.Start(1000000, 2), StartResult::Started);
    ASSERT_TRUE(blocking.WaitPending());  // the first range's progress, unserved
    ASSERT_EQ(coordinator.Start(100000, 2), StartResult::Started);
    // Start served it, and the ended search sent nothing after it.
    EXPECT_EQ(blocking.Delivered(), (std::vector<Message>{Progress(1898, 16369)}));
    ASSERT_TRUE(blocking.WaitPending());
    heap.reset();  // the destructor must serve the new search's blocked worker too
    EXPECT_EQ(blocking.Delivered(), (std::vector<Message>{Progress(1898, 16369), Progress(1898, 16369)}));
    EXPECT_EQ(blocking.Serve(), 0u);
}

// Start, Stop and completion in random order: under the thread sanitizer this
// is the test that finds races between hand-out, completion and Stop.
TEST_F(PrimeCoordinatorTest, RandomStartStopCompleteCycles) {
    std::mt19937 random(12345);
    const uint32_t targets[] = {31, 2000, 20000, 100000};
    const uint16_t threads[] = {0, 1, 2, 3, 5, 8};
    const std::vector<uint32_t> expected = PrimesBelow(1299722);
    for (int cycle = 0; cycle < 300; ++cycle) {
        // Targets and a coordinator of each cycle's own, the coordinator gone first.
        BlockingTarget served;
        RecordingTarget recording;
        const bool useBlocking = cycle % 3 == 0;
        INotifyTarget* to = useBlocking ? static_cast<INotifyTarget*>(&served) : &recording;
        const auto cycleHeap = std::make_unique<PrimeCoordinator>(to, [&] { served.Serve(); });
        PrimeCoordinator& coordinator = *cycleHeap;
        const uint32_t n = targets[random() % 4];
        const uint16_t t = threads[random() % 6];
        ASSERT_EQ(coordinator.Start(n, t), StartResult::Started);
        const int action = int(random() % 3);
        if (action == 1) std::this_thread::sleep_for(std::chrono::microseconds(random() % 3000));
        if (action == 2 && t > 0 && !useBlocking) {
            ASSERT_TRUE(recording.WaitFinished());
        }
        const bool owned = coordinator.Stop();
        EXPECT_TRUE(NoWorkerAlive(coordinator));
        EXPECT_FALSE(coordinator.running.load());
        EXPECT_LE(coordinator.lastIndex, n);

        const std::vector<Message> messages = useBlocking ? served.Delivered() : recording.Messages();
        size_t finishes = 0;
        for (size_t i = 0; i < messages.size(); ++i) {
            const Message& m = messages[i];
            if (m.message == WM_SEARCH_FINISHED) ++finishes;
            EXPECT_EQ(m.lParam, expected[m.wParam]) << "cycle " << cycle;
            if (i > 0 && m.message == WM_SEARCH_PROGRESS) {
                EXPECT_GT(m.wParam, messages[i - 1].wParam);
            }
        }
        ASSERT_LE(finishes, 1u);
        EXPECT_EQ(owned, finishes == 0);  // exactly one side owns the end of a search
        if (finishes == 1) {
            EXPECT_EQ(messages.back(), Finished(n - 1, expected[n - 1]));
        }
        if (n == 100000) {  // every message is one of the run's known ones, in order
            ASSERT_LE(messages.size(), k100KMessages.size());
            EXPECT_TRUE(std::equal(messages.begin(), messages.end(), k100KMessages.begin()));
        }
        if (cycle % 2 == 1) {  // Start again and leave it to the destructor
            ASSERT_EQ(coordinator.Start(n, t), StartResult::Started);
        }
        if (HasFailure()) return;  // one failed cycle tells enough
    }
}

TEST_F(PrimeCoordinatorTest, WorkerStartHookRunsOnceOnEachWorkerThreadOfEachSearch) {
    PrimeCoordinator& coordinator = Recording();
    std::mutex lock;
    std::vector<std::pair<uint16_t, uint16_t>> calls;  // (worker, threads)
    std::vector<std::thread::id> callers;
    coordinator.SetWorkerStartHook([&](uint16_t worker, uint16_t threads) {
        std::lock_guard<std::mutex> hold(lock);
        calls.emplace_back(worker, threads);
        callers.push_back(std::this_thread::get_id());
    });
    size_t searches = 0;
    auto search = [&](uint16_t threads) {
        calls.clear();
        callers.clear();
        ASSERT_EQ(coordinator.Start(100000, threads), StartResult::Started);
        ASSERT_TRUE(target.WaitCount(k100KMessages.size() * ++searches));
        coordinator.Stop();
        const std::vector<Message> messages = target.Messages();
        // Placing the threads changes no result.
        EXPECT_TRUE(std::equal(k100KMessages.begin(), k100KMessages.end(), messages.end() - 4));
    };
    for (uint16_t threads : {uint16_t(4), uint16_t(3)}) {
        search(threads);
        std::sort(calls.begin(), calls.end());
        std::vector<std::pair<uint16_t, uint16_t>> expected;
        for (uint16_t k = 0; k < threads; ++k) expected.emplace_back(k, threads);
        EXPECT_EQ(calls, expected);
        std::sort(callers.begin(), callers.end());
        EXPECT_EQ(std::unique(callers.begin(), callers.end()), callers.end());  // each on a thread of its own
        EXPECT_EQ(std::count(callers.begin(), callers.end(), std::this_thread::get_id()), 0);
    }
    coordinator.SetWorkerStartHook({});
    search(2);
    EXPECT_TRUE(calls.empty());
}

TEST_F(PrimeCoordinatorTest, LaterFinderDoneFirstWaitsForItsPredecessor) {
    PrimeCoordinator& coordinator = Steps(100000, 2, 1899);  // after the first range: 1900 primes
    Fill(0, 16384, 1064960, false);
    Fill(1, 1064960, 2113536, true);
    EXPECT_EQ(coordinator.finders[1]->count, 73558u);

    coordinator.OnFinderDone(1);  // finder 0 still searching
    EXPECT_TRUE(target.Messages().empty());
    EXPECT_EQ(coordinator.lastIndex, 1899u);

    coordinator.finders[0]->done.store(true);
    coordinator.OnFinderDone(0);  // merges both, the second only in part
    EXPECT_EQ(target.Messages(), (std::vector<Message>{Progress(83182, 1064953), Progress(99999, 1299709),
                                                       Finished(99999, 1299709)}));
    EXPECT_EQ(coordinator.lastIndex, 100000u);
    EXPECT_EQ(coordinator.primes[100000], 1299721u);
    EXPECT_FALSE(coordinator.running.load());
    EXPECT_FALSE(coordinator.Stop());
}

TEST_F(PrimeCoordinatorTest, FirstBatchPassesIdleFindersWithoutAMessage) {
    PrimeCoordinator& coordinator = Steps(100000, 3, 31);
    Fill(0, 2, 16384, true);
    Fill(1, 0, 0, true);
    Fill(2, 0, 0, true);
    coordinator.nextStart = 16384;
    coordinator.OnFinderDone(0);
    EXPECT_EQ(target.Messages(), (std::vector<Message>{Progress(1898, 16369)}));
    // Every finder was done, so the second batch went out: three ranges.
    for (int i = 0; i < 3; ++i) {
        const PrimeFinder* finder = coordinator.finders[size_t(i)];
        EXPECT_FALSE(finder->done.load());
        EXPECT_EQ(finder->rangeStart, 16384u + uint32_t(i) * 1048576u);
        EXPECT_EQ(finder->rangeEnd, 16384u + uint32_t(i + 1) * 1048576u);
    }
    EXPECT_EQ(coordinator.nextStart, 16384u + 3u * 1048576u);
    coordinator.Stop();
}

TEST_F(PrimeCoordinatorTest, RangesWrapModuloTwoToThe32) {
    PrimeCoordinator& coordinator = Steps(100000, 3, 31);
    for (int i = 0; i < 3; ++i) {
        Fill(i, 0, 0, true);
        coordinator.finders[size_t(i)]->merged = true;
    }
    coordinator.nextStart = 4292886528u;
    coordinator.OnFinderDone(0);
    const auto& f = coordinator.finders;
    EXPECT_EQ(std::tie(f[0]->rangeStart, f[0]->rangeEnd), std::make_tuple(4292886528u, 4293935104u));
    EXPECT_EQ(std::tie(f[1]->rangeStart, f[1]->rangeEnd), std::make_tuple(4293935104u, 16384u));  // empty: its end wrapped
    EXPECT_EQ(std::tie(f[2]->rangeStart, f[2]->rangeEnd), std::make_tuple(16384u, 1064960u));
    EXPECT_EQ(coordinator.nextStart, 1064960u);
    coordinator.Stop();
}

TEST_F(PrimeCoordinatorTest, OverflowedRangeFailsTheSearchAndStopClaimsIt) {
    PrimeCoordinator& coordinator = Steps(100000, 1, 1899);
    Fill(0, 16384, 1064960, true);
    coordinator.finders[0]->overflowed = true;
    coordinator.OnFinderDone(0);
    EXPECT_TRUE(target.Messages().empty());  // nothing merged, no finish
    EXPECT_FALSE(coordinator.running.load());
    EXPECT_EQ(coordinator.lastIndex, 1899u);
    EXPECT_FALSE(coordinator.Failure().empty());
    EXPECT_TRUE(coordinator.Stop());  // the caller learns the run has ended
    EXPECT_FALSE(coordinator.Stop());

    ASSERT_EQ(coordinator.Start(100000, 1), StartResult::Started);
    EXPECT_TRUE(coordinator.Failure().empty());
    ASSERT_TRUE(target.WaitFinished());
    coordinator.Stop();
}

TEST_F(PrimeCoordinatorTest, MissingBuffersRefuseStartAndKeepTheEarlierResults) {
    PrimeCoordinator& coordinator = Recording();
    ASSERT_EQ(coordinator.Start(100000, 2), StartResult::Started);
    ASSERT_TRUE(target.WaitFinished());
    coordinator.Stop();
    const uint32_t* table = coordinator.primes;

    failArraysFrom.store(112569 * sizeof(uint32_t));  // a finder's buffer, not the 100K table
    const StartResult result = coordinator.Start(100000, 2);
    failArraysFrom.store(std::numeric_limits<size_t>::max());
    EXPECT_EQ(result, StartResult::OutOfMemory);
    EXPECT_FALSE(coordinator.running.load());
    EXPECT_TRUE(coordinator.finders.empty());
    EXPECT_EQ(coordinator.primes, table);
    EXPECT_EQ(coordinator.lastIndex, 100000u);
    EXPECT_EQ(coordinator.primes[99999], 1299709u);
    EXPECT_FALSE(coordinator.Stop());
}

TEST_F(PrimeCoordinatorTest, TableThatDoesNotFitIsReportedWithNothingRunning) {
    PrimeCoordinator& coordinator = Recording();
    ASSERT_EQ(coordinator.Start(100000, 1), StartResult::Started);
    ASSERT_TRUE(target.WaitFinished());
    coordinator.Stop();

    failArraysFrom.store(1000001 * sizeof(uint32_t));
    const StartResult result = coordinator.Start(1000000, 1);
    failArraysFrom.store(std::numeric_limits<size_t>::max());
    EXPECT_EQ(result, StartResult::OutOfMemory);
    EXPECT_FALSE(coordinator.running.load());
    EXPECT_TRUE(coordinator.finders.empty());
    // The earlier table was given up to make room: nothing stale is left.
    EXPECT_EQ(coordinator.primes, nullptr);
    EXPECT_EQ(coordinator.lastIndex, 0u);

    RecordingTarget again;
    coordinator.notifyTarget = &again;
    ASSERT_EQ(coordinator.Start(100000, 1), StartResult::Started);
    ASSERT_TRUE(again.WaitFinished());
    coordinator.Stop();
    EXPECT_EQ(coordinator.lastIndex, 100000u);
}

}  // namespace
