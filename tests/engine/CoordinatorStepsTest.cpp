// The coordinator's bookkeeping driven step by step, without worker threads:
// the test plays the finders, so orders that threads produce only by chance
// happen every time.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <limits>
#include <new>

#include "engine/PrimeCoordinator.h"
#include "tests/engine/TestSupport.h"

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

const std::vector<uint32_t>& Sieve() {
    static const std::vector<uint32_t> primes = PrimesBelow(2200000);
    return primes;
}

// A coordinator in a running search with no worker threads, its table filled
// up to slot lastIndex, and `count` finders that the test drives by hand.
struct Harness {
    RecordingTarget target;
    const std::unique_ptr<PrimeCoordinator> heap = std::make_unique<PrimeCoordinator>(&target);
    PrimeCoordinator& coordinator = *heap;

    Harness(uint32_t n, uint16_t count, uint32_t lastIndex) {
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
    }

    // Gives finder i the sieve's primes of (start, end) and marks it done or not.
    void Fill(int i, uint32_t start, uint32_t end, bool done) {
        PrimeFinder* finder = coordinator.finders[size_t(i)];
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
};

}  // namespace

TEST(CoordinatorSteps, LaterFinderDoneFirstWaitsForItsPredecessor) {
    Harness h(100000, 2, 1899);  // after the first range: 1900 primes
    h.Fill(0, 16384, 1064960, false);
    h.Fill(1, 1064960, 2113536, true);
    EXPECT_EQ(h.coordinator.finders[1]->count, 73558u);

    h.coordinator.OnFinderDone(1);  // finder 0 still searching
    EXPECT_TRUE(h.target.Messages().empty());
    EXPECT_EQ(h.coordinator.lastIndex, 1899u);

    h.coordinator.finders[0]->done.store(true);
    h.coordinator.OnFinderDone(0);  // merges both, the second only in part
    EXPECT_EQ(h.target.Messages(), (std::vector<Message>{Progress(83182, 1064953), Progress(99999, 1299709),
                                                         Finished(99999, 1299709)}));
    EXPECT_EQ(h.coordinator.lastIndex, 100000u);
    EXPECT_EQ(h.coordinator.primes[100000], 1299721u);
    EXPECT_FALSE(h.coordinator.running.load());
    EXPECT_FALSE(h.coordinator.Stop());
}

TEST(CoordinatorSteps, FirstBatchPassesIdleFindersWithoutAMessage) {
    Harness h(100000, 3, 31);
    h.Fill(0, 2, 16384, true);
    h.Fill(1, 0, 0, true);
    h.Fill(2, 0, 0, true);
    h.coordinator.nextStart = 16384;
    h.coordinator.OnFinderDone(0);
    EXPECT_EQ(h.target.Messages(), (std::vector<Message>{Progress(1898, 16369)}));
    // Every finder was done, so the second batch went out: three ranges.
    for (int i = 0; i < 3; ++i) {
        const PrimeFinder* finder = h.coordinator.finders[size_t(i)];
        EXPECT_FALSE(finder->done.load());
        EXPECT_EQ(finder->rangeStart, 16384u + uint32_t(i) * 1048576u);
        EXPECT_EQ(finder->rangeEnd, 16384u + uint32_t(i + 1) * 1048576u);
    }
    EXPECT_EQ(h.coordinator.nextStart, 16384u + 3u * 1048576u);
    h.coordinator.Stop();
}

TEST(CoordinatorSteps, RangesWrapModuloTwoToThe32) {
    Harness h(100000, 3, 31);
    for (int i = 0; i < 3; ++i) {
        h.Fill(i, 0, 0, true);
        h.coordinator.finders[size_t(i)]->merged = true;
    }
    h.coordinator.nextStart = 4292886528u;
    h.coordinator.OnFinderDone(0);
    const auto& f = h.coordinator.finders;
    EXPECT_EQ(f[0]->rangeStart, 4292886528u);
    EXPECT_EQ(f[0]->rangeEnd, 4293935104u);
    EXPECT_EQ(f[1]->rangeStart, 4293935104u);
    EXPECT_EQ(f[1]->rangeEnd, 16384u);  // empty: its end wrapped
    EXPECT_EQ(f[2]->rangeStart, 16384u);
    EXPECT_EQ(f[2]->rangeEnd, 1064960u);
    EXPECT_EQ(h.coordinator.nextStart, 1064960u);
    h.coordinator.Stop();
}

TEST(CoordinatorSteps, OverflowedRangeFailsTheSearchAndStopClaimsIt) {
    Harness h(100000, 1, 1899);
    h.Fill(0, 16384, 1064960, true);
    h.coordinator.finders[0]->overflowed = true;
    h.coordinator.OnFinderDone(0);
    EXPECT_TRUE(h.target.Messages().empty());  // nothing merged, no finish
    EXPECT_FALSE(h.coordinator.running.load());
    EXPECT_EQ(h.coordinator.lastIndex, 1899u);
    EXPECT_FALSE(h.coordinator.Failure().empty());
    EXPECT_TRUE(h.coordinator.Stop());  // the caller learns the run has ended
    EXPECT_FALSE(h.coordinator.Stop());

    ASSERT_EQ(h.coordinator.Start(100000, 1), StartResult::Started);
    EXPECT_TRUE(h.coordinator.Failure().empty());
    ASSERT_TRUE(h.target.WaitFinished());
    h.coordinator.Stop();
}

TEST(CoordinatorSteps, MissingBuffersRefuseStartAndKeepTheEarlierResults) {
    RecordingTarget target;
    const auto heap = std::make_unique<PrimeCoordinator>(&target);
    PrimeCoordinator& coordinator = *heap;
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

TEST(CoordinatorSteps, TableThatDoesNotFitIsReportedWithNothingRunning) {
    RecordingTarget target;
    const auto heap = std::make_unique<PrimeCoordinator>(&target);
    PrimeCoordinator& coordinator = *heap;
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
