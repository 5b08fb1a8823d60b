// A search driven from the main thread, and stops that meet its progress or its end.
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>

#include "engine/RunText.h"
#include "runner/RunOptions.h"
#include "runner/SearchDriver.h"
#include "tests/support/Runs.h"

TEST(SearchDriver, StopKeepsTheLastProgressAndTheEngineRunsAgain) {
    std::atomic<bool> interrupt{false};
    SearchDriver driver(interrupt);
    InterruptOnProgress listener(interrupt);
    const RunRecord stopped = driver.Run(k1M, 1, &listener, VerifyMode::Full);
    ASSERT_EQ(stopped.status, RunStatus::Stopped) << stopped.fault;
    EXPECT_EQ(stopped.verdict,
              "verified: the first " + std::to_string(driver.Coordinator().lastIndex) + " primes, against a sieve");
    ASSERT_TRUE(stopped.progressed);
    EXPECT_LT(stopped.index, stopped.targetCount - 1);
    // The row shows the last progress the engine sent before Stop returned.
    EXPECT_EQ(stopped.index, driver.Coordinator().lastIndex - 1);
    EXPECT_EQ(stopped.prime, driver.Coordinator().primes[stopped.index]);
    EXPECT_EQ(stopped.primeText, ProgressPrimeText(stopped.prime, stopped.index, 1000000));
    EXPECT_EQ(stopped.timeText, TimeText(stopped.seconds));
    EXPECT_FALSE(driver.Coordinator().running.load());

    interrupt.store(false);
    const RunRecord again = driver.Run(k100K, uint16_t(OfferedThreadCounts(LogicalProcessors()).back()), nullptr);
    EXPECT_EQ(again.status, RunStatus::Finished) << again.fault;
    EXPECT_EQ(again.primeText, "1299709");
    EXPECT_EQ(again.index, 99999u);
    EXPECT_EQ(again.verdict, "verified: last prime + digest");
}

TEST(SearchDriver, AStopAsTheLastSlotIsMergedLeavesTheRunFinished) {
    // The worker that merged the last slot is held until the main thread has
    // begun to stop the search: the order in which a stop could take the end
    // of a complete table from the finish.
    std::atomic<bool> interrupt{false};
    SearchDriver driver(interrupt);
    driver.SetNotifyHook([&](const Notification& notification) {
        if (notification.message != WM_SEARCH_PROGRESS || notification.index != 99999) return;
        interrupt.store(true);
        while (!driver.Coordinator().finders.front()->stopRequested.load()) std::this_thread::yield();
    });
    const RunRecord run = driver.Run(k100K, 1, nullptr);
    EXPECT_EQ(run.status, RunStatus::Finished) << run.primeText;
    EXPECT_EQ(run.verdict, kVerifiedFinished);
    EXPECT_EQ(run.primeText, "1299709");
}
