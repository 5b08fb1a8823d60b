// A run's record: its grid cells and the summary of a setting's runs.
#include <gtest/gtest.h>

#include <vector>

#include "runner/RunRecord.h"
#include "tests/support/Runs.h"

TEST(RunRecord, CellsTakeTheGridsForms) {
    RunRecord run = NewRunRecord(k1M, 4);
    EXPECT_EQ(run.task, "1M");
    EXPECT_EQ(run.threadText, "4 cores");
    EXPECT_EQ(NewRunRecord(k1M, 1).threadText, "1 core");
    EXPECT_EQ(run.targetCount, 1000000u);

    // Before any progress only Task and Thread Count are set.
    SetRunCells(run, false);
    EXPECT_EQ(run.primeText, "");
    EXPECT_EQ(run.timeText, "");

    // The progress of 100K primes, as the grid shows it.
    RunRecord progress = NewRunRecord(k100K, 1);
    progress.progressed = true;
    const struct { uint32_t index, prime; const char* text; } steps[] = {
        {1898, 16369, "16369 (1.90%)"}, {83182, 1064953, "1064953 (83.18%)"}, {99999, 1299709, "1299709 (100.00%)"}};
    for (const auto& step : steps) {
        progress.index = step.index;
        progress.prime = step.prime;
        progress.seconds = 0.105;
        SetRunCells(progress, false);
        EXPECT_EQ(progress.primeText, step.text);
        EXPECT_EQ(progress.timeText, " 0.11 sec");
    }
    SetRunCells(progress, true);
    EXPECT_EQ(progress.primeText, "1299709");
}

TEST(RunRecord, SettingSummaryReportsFastestAndMedian) {
    const std::vector<RunRecord> runs = {FinishedRun(k1M, 4, 2.0), FinishedRun(k1M, 4, 1.25), FinishedRun(k1M, 4, 3.0)};
    SettingResult result = SummarizeSetting(runs, 3);
    EXPECT_DOUBLE_EQ(result.minSeconds, 1.25);
    EXPECT_DOUBLE_EQ(result.medianSeconds, 2.0);
    EXPECT_EQ(result.row.timeText, " 1.25 sec");  // the row shows the fastest run
    EXPECT_EQ(result.runSeconds, (std::vector<double>{2.0, 1.25, 3.0}));
    EXPECT_FALSE(result.speedup.has_value());

    SetSpeedup(result, 4.0);
    ASSERT_TRUE(result.speedup && result.efficiency);
    EXPECT_DOUBLE_EQ(*result.speedup, 3.2);
    EXPECT_DOUBLE_EQ(*result.efficiency, 0.8);
}
