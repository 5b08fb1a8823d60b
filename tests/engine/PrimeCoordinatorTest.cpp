#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <mutex>
#include <random>
#include <thread>

#include "engine/PrimeCoordinator.h"
#include "tests/engine/TestSupport.h"

namespace {

const std::vector<Message> k100KMessages = {Progress(1898, 16369), Progress(83182, 1064953),
                                            Progress(99999, 1299709), Finished(99999, 1299709)};

// True when no finder of the coordinator has a thread that could still run.
bool NoWorkerAlive(const PrimeCoordinator& coordinator) {
    for (const PrimeFinder* finder : coordinator.finders) {
        if (finder->thread.joinable()) return false;
    }
    return true;
}

}  // namespace

class HundredThousand : public ::testing::TestWithParam<int> {};

TEST_P(HundredThousand, SendsTheSameMessagesForAnyThreadCount) {
    RecordingTarget target;
    const auto heap = std::make_unique<PrimeCoordinator>(&target);
    PrimeCoordinator& coordinator = *heap;
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

INSTANTIATE_TEST_SUITE_P(Threads, HundredThousand, ::testing::Values(1, 2, 3, 4));

TEST(PrimeCoordinator, OneMillionWithTwoThreadsEndsOnTheMillionthPrime) {
    RecordingTarget target;
    const auto heap = std::make_unique<PrimeCoordinator>(&target);
    PrimeCoordinator& coordinator = *heap;
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

TEST(PrimeCoordinator, RefusesBadArgumentsAndKeepsTheEarlierTable) {
    RecordingTarget target;
    const auto heap = std::make_unique<PrimeCoordinator>(&target);
    PrimeCoordinator& coordinator = *heap;
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

TEST(PrimeCoordinator, SmallestTargetCompletesInTheFirstMerge) {
    RecordingTarget target;
    const auto heap = std::make_unique<PrimeCoordinator>(&target);
    PrimeCoordinator& coordinator = *heap;
    ASSERT_EQ(coordinator.Start(31, 4), StartResult::Started);
    ASSERT_TRUE(target.WaitFinished());
    coordinator.Stop();
    // Slot 31 holds 131, the 32nd prime; the 31st prime is 127.
    EXPECT_EQ(target.Messages(), (std::vector<Message>{Progress(30, 127), Finished(30, 127)}));
}

TEST(PrimeCoordinator, ZeroThreadsSearchNothingUntilStopped) {
    RecordingTarget target;
    const auto heap = std::make_unique<PrimeCoordinator>(&target);
    PrimeCoordinator& coordinator = *heap;
    ASSERT_EQ(coordinator.Start(100000, 0), StartResult::Started);
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_TRUE(coordinator.running.load());
    EXPECT_TRUE(coordinator.finders.empty());
    EXPECT_EQ(coordinator.lastIndex, 31u);
    EXPECT_TRUE(coordinator.Stop());
    EXPECT_FALSE(coordinator.running.load());
    EXPECT_TRUE(target.Messages().empty());
}

TEST(PrimeCoordinator, StopInTheMiddleLeavesNoThreadAndMergesNothingAfter) {
    RecordingTarget target;
    const auto heap = std::make_unique<PrimeCoordinator>(&target);
    PrimeCoordinator& coordinator = *heap;
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

TEST(PrimeCoordinator, StartsAgainAfterCompletionAndAfterStop) {
    RecordingTarget first;
    const auto heap = std::make_unique<PrimeCoordinator>(&first);
    PrimeCoordinator& coordinator = *heap;
    ASSERT_EQ(coordinator.Start(100000, 2), StartResult::Started);
    ASSERT_TRUE(first.WaitFinished());
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
TEST(PrimeCoordinator, StopServesAWorkerBlockedInANotification) {
    BlockingTarget target;
    const auto heap = std::make_unique<PrimeCoordinator>(&target, [&] { target.Serve(); });
    PrimeCoordinator& coordinator = *heap;
    ASSERT_EQ(coordinator.Start(1000000, 2), StartResult::Started);
    ASSERT_TRUE(target.WaitPending());  // a worker sits in Notify holding the engine lock
    EXPECT_TRUE(coordinator.Stop());
    EXPECT_TRUE(NoWorkerAlive(coordinator));
    EXPECT_FALSE(target.Delivered().empty());
}

TEST(PrimeCoordinator, StopWhileTheFinishIsBeingSentDeliversItBeforeReturning) {
    BlockingTarget target;
    const auto heap = std::make_unique<PrimeCoordinator>(&target, [&] { target.Serve(); });
    PrimeCoordinator& coordinator = *heap;
    ASSERT_EQ(coordinator.Start(100000, 2), StartResult::Started);
    // Serve progress until the worker is blocked sending the finish.
    while (!target.HasPendingFinish()) {
        ASSERT_TRUE(target.WaitPending());
        if (!target.HasPendingFinish()) target.Serve();
    }
    EXPECT_FALSE(coordinator.Stop());  // the completing worker owned the end
    EXPECT_EQ(target.Delivered(), k100KMessages);
    EXPECT_TRUE(NoWorkerAlive(coordinator));
}

TEST(PrimeCoordinator, StartAndDestructorServeABlockedWorker) {
    BlockingTarget target;
    {
        const auto heap = std::make_unique<PrimeCoordinator>(&target, [&] { target.Serve(); });
        PrimeCoordinator& coordinator = *heap;
        ASSERT_EQ(coordinator.Start(1000000, 2), StartResult::Started);
        ASSERT_TRUE(target.WaitPending());  // the first range's progress, unserved
        ASSERT_EQ(coordinator.Start(100000, 2), StartResult::Started);
        // Start served it, and the ended search sent nothing after it.
        EXPECT_EQ(target.Delivered(), (std::vector<Message>{Progress(1898, 16369)}));
        ASSERT_TRUE(target.WaitPending());
    }  // the destructor must serve the new search's blocked worker too
    EXPECT_EQ(target.Delivered(), (std::vector<Message>{Progress(1898, 16369), Progress(1898, 16369)}));
    EXPECT_EQ(target.Serve(), 0u);
}

// Start, Stop and completion in random order: under the thread sanitizer this
// is the test that finds races between hand-out, completion and Stop.
TEST(PrimeCoordinator, RandomStartStopCompleteCycles) {
    std::mt19937 random(12345);
    const uint32_t targets[] = {31, 2000, 20000, 100000};
    const uint16_t threads[] = {0, 1, 2, 3, 5, 8};
    const std::vector<uint32_t> expected = PrimesBelow(1299722);
    for (int cycle = 0; cycle < 300; ++cycle) {
        BlockingTarget blocking;
        RecordingTarget recording;
        const bool useBlocking = cycle % 3 == 0;
        INotifyTarget* target = useBlocking ? static_cast<INotifyTarget*>(&blocking) : &recording;
        const auto heap = std::make_unique<PrimeCoordinator>(target, [&] { blocking.Serve(); });
        PrimeCoordinator& coordinator = *heap;
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

        const std::vector<Message> messages = useBlocking ? blocking.Delivered() : recording.Messages();
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

TEST(PrimeCoordinator, WorkerStartHookRunsOnceOnEachWorkerThreadOfEachSearch) {
    RecordingTarget target;
    const auto heap = std::make_unique<PrimeCoordinator>(&target);
    PrimeCoordinator& coordinator = *heap;
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
