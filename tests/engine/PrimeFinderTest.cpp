#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "engine/PrimeFinder.h"
#include "tests/support/Primes.h"
#include "tests/support/Recording.h"

namespace {

// Counts reports and stops the finder after the first one, so a test can run
// exactly one range on the finder's own thread.
class OneRangeOwner : public IServer {
public:
    explicit OneRangeOwner(PrimeFinder*& finder) : finder_(finder) {}
    void OnFinderDone(int32_t index) override {
        lastIndex = index;
        sawDone = finder_->done.load();
        reports.fetch_add(1);
        finder_->stopRequested.store(true);
    }
    std::atomic<int> reports{0};
    int32_t lastIndex = -1;
    bool sawDone = false;

private:
    PrimeFinder*& finder_;
};

void RunOneRange(PrimeFinder& finder) {
    finder.done.store(false, std::memory_order_release);
    finder.thread = std::thread(&PrimeFinder::FinderThread, &finder);
    // The owner stops the finder at its report; one that never reports is
    // stopped here, so that the join cannot hang.
    EXPECT_TRUE(WaitUntil([&] { return finder.exited.load(); }));
    finder.stopRequested.store(true);
    finder.thread.join();
}

// A finder of index 3 whose owner stops it after its first report.
class PrimeFinderTest : public ::testing::Test {
protected:
    PrimeFinderTest() { self = &finder; }

    PrimeFinder* self = nullptr;
    OneRangeOwner owner{self};
    PrimeFinder finder{3, &owner};
};

}  // namespace

TEST_F(PrimeFinderTest, EstimateCapacityMatchesTheRangesTheSearchUses) {
    EXPECT_EQ(EstimateCapacity(16384, 2), 2528u);
    EXPECT_EQ(EstimateCapacity(1064960, 16384), 112569u);
    EXPECT_EQ(EstimateCapacity(4222631936u, 4221583360u), 67764u);
}

TEST_F(PrimeFinderTest, FirstRangeFindsThePrimesFrom137To16381) {
    ASSERT_TRUE(finder.SetRange(SieveTable().data(), 16384, 2));
    EXPECT_EQ(finder.capacity, 2528u);
    RunOneRange(finder);

    EXPECT_EQ(owner.reports.load(), 1);
    EXPECT_EQ(owner.lastIndex, 3);
    EXPECT_TRUE(owner.sawDone);  // done is set before the owner hears of it
    ASSERT_EQ(finder.count, 1868u);
    EXPECT_EQ(finder.results[0], 137u);
    EXPECT_EQ(finder.results[1867], 16381u);
    EXPECT_TRUE(std::is_sorted(finder.results, finder.results + finder.count));
    EXPECT_TRUE(finder.exited.load());
    finder.ReleaseResults();
}

TEST_F(PrimeFinderTest, WrappedRangeIsEmptyAndStillReported) {
    // The range after the last one below 2^32: its end wrapped to 16384.
    ASSERT_TRUE(finder.SetRange(SieveTable().data(), 4293935104u + 1048576u, 4293935104u));
    EXPECT_EQ(finder.rangeEnd, 16384u);
    EXPECT_EQ(finder.results, nullptr);
    finder.count = 77;  // left over from an earlier range
    RunOneRange(finder);
    EXPECT_EQ(owner.reports.load(), 1);
    EXPECT_EQ(finder.count, 0u);
}

TEST_F(PrimeFinderTest, ASecondRangeRestartsCountAndMerged) {
    ASSERT_TRUE(finder.SetRange(SieveTable().data(), 16384, 2));
    RunOneRange(finder);
    finder.merged = true;  // as the owner marks it
    ASSERT_TRUE(finder.SetRange(SieveTable().data(), 1064960, 16384));
    EXPECT_EQ(finder.capacity, 112569u);
    finder.stopRequested.store(false);
    finder.exited.store(false);
    RunOneRange(finder);
    EXPECT_FALSE(finder.merged);
    EXPECT_EQ(finder.count, 81284u);
    EXPECT_EQ(finder.results[0], 16411u);
    finder.ReleaseResults();
}

TEST_F(PrimeFinderTest, NeverWritesPastItsCapacity) {
    ASSERT_TRUE(finder.SetRange(SieveTable().data(), 16384, 2));
    // An estimate far too small: the buffer holds exactly 10 slots, so a
    // write past them is caught by the address sanitizer.
    finder.ReleaseResults();
    ASSERT_TRUE(finder.ReserveResults(10));
    finder.capacity = 10;
    RunOneRange(finder);
    EXPECT_TRUE(finder.overflowed);
    EXPECT_EQ(finder.count, 10u);
    EXPECT_EQ(finder.results[9], 181u);  // the tenth prime after 131
    finder.ReleaseResults();
}

TEST_F(PrimeFinderTest, WithoutOwnerSpinsUntilStopped) {
    PrimeFinder alone(0, nullptr);
    ASSERT_TRUE(alone.SetRange(SieveTable().data(), 16384, 2));
    alone.done.store(false, std::memory_order_release);
    alone.thread = std::thread(&PrimeFinder::FinderThread, &alone);
    EXPECT_TRUE(WaitUntil([&] { return alone.done.load(std::memory_order_acquire); }));
    EXPECT_EQ(alone.count, 1868u);
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
    EXPECT_FALSE(alone.exited.load());  // idle, polling
    alone.stopRequested.store(true);
    alone.thread.join();
    EXPECT_TRUE(alone.exited.load());
    alone.ReleaseResults();
}
