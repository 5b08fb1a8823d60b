// The fleet's figures of a setting from every rank's runs, and their tally.
#include <gtest/gtest.h>

#include <vector>

#include "mpi/FleetResults.h"
#include "mpi/FleetVerdict.h"
#include "tests/support/FleetRanks.h"

namespace {

// Rank `rank`'s runs: finished ones of `seconds`, then one more of `last`.
RankSetting Runs(int rank, std::vector<double> seconds, RunStatus last) {
    RankSetting part{rank, {}};
    for (double each : seconds) part.runs.push_back(Ran(rank, each).runs.front());
    part.runs.push_back(Ran(rank, 0.3, last).runs.front());
    return part;
}

TEST(FleetResults, OutliersAreJudgedAgainstTheMedianOfTheVerifiedRanks) {
    // Medians of each rank's repeats: 1.0, 1.0, 1.05, 1.2; rank 4 is wrong and left out.
    std::vector<RankSetting> parts = {Ran(4, 0.5, RunStatus::Wrong), Ran(0, 1.0), Ran(1, 1.0), Ran(2, 1.05)};
    RankSetting repeated = Ran(3, 1.2);
    for (double seconds : {9.0, 0.1}) repeated.runs.push_back(Ran(3, seconds).runs.front());
    parts.push_back(repeated);
    const FleetSetting setting = SummarizeFleetSetting(kFleetTask, 1, parts, 3, 10.0);

    ASSERT_EQ(setting.rows.size(), 5u);
    EXPECT_EQ(setting.rows.front().rank, 0);
    EXPECT_EQ(setting.verified, 4);
    EXPECT_DOUBLE_EQ(setting.medianSeconds, 1.025);
    EXPECT_DOUBLE_EQ(setting.minSeconds, 1.0);
    EXPECT_DOUBLE_EQ(setting.maxSeconds, 1.2);
    EXPECT_NEAR(setting.spreadPercent, 0.2 / 1.025 * 100.0, 1e-9);
    EXPECT_FALSE(setting.rows[2].outlier);  // 2.4 % slower
    EXPECT_TRUE(setting.rows[3].outlier);
    EXPECT_NEAR(*setting.rows[3].slowerPercent, 0.175 / 1.025 * 100.0, 1e-9);
    EXPECT_FALSE(setting.rows[4].seconds.has_value());

    FleetTally tally;
    tally.Add(setting);
    ASSERT_EQ(tally.failures.size(), 1u);
    EXPECT_EQ(tally.failures.front().rank, 4);
    EXPECT_EQ(tally.outliers, 1);
    EXPECT_EQ(JudgeFleet(tally, Ranks(5, 1), FleetOptions()).exitCode, 1);

    // The wire form keeps what the report needs.
    const RankSetting back = RankSettingFromText(RankSettingText(repeated));
    ASSERT_EQ(back.runs.size(), 3u);
    EXPECT_EQ(back.runs[1].seconds, 9.0);
    EXPECT_EQ(back.runs[0].primeText, repeated.runs[0].primeText);
}

// What took a node's machine is noted on its row: hotter than the fleet,
// throttled, others' load unless the rank shares its node; and with each
// core in turn, a rank's first wrong run decides its row.
TEST(FleetResults, HotThrottledAndBusyNodesAreNamed) {
    std::vector<RankSetting> parts;
    for (int rank = 0; rank < 4; ++rank) {
        parts.push_back(Ran(rank, 1.0));
        SampleSummary& m = parts.back().runs.front().machine;
        m.temperatureMaxC = rank == 2 ? 96.0 : 70.0 + rank;
        m.otherLoad = rank < 2 ? 0.5 : 0.0;
        if (rank == 3) m.throttleEvents = 5;
    }
    parts[3].runs.insert(parts[3].runs.begin(), Ran(3, 1.0, RunStatus::Wrong).runs.front());
    parts[3].runs.front().processor = 5;
    parts[3].findings = {"core 5 (processor 5, package 0): 1 of 2 runs wrong, first at slot 50 000"};
    const FleetSetting setting = SummarizeFleetSetting(kFleetTask, 1, parts, 2, 10.0, {false, true, false, false});
    EXPECT_EQ(setting.rows[0].machineNote, "other programs used 50 % of the processors");
    EXPECT_EQ(setting.rows[1].machineNote, "");
    EXPECT_EQ(setting.rows[2].machineNote, "hot: 96 \u00b0C, fleet median 72 \u00b0C");
    EXPECT_EQ(setting.rows[3].machineNote, "thermal throttling (5 throttle events)");
    EXPECT_EQ(setting.rows[3].status, RunStatus::Wrong);

    const RankSetting back = RankSettingFromText(RankSettingText(parts[3]));
    EXPECT_EQ(back.findings, parts[3].findings);
    EXPECT_EQ(back.runs[0].processor, 5u);
    EXPECT_TRUE(back.runs[1].machine == parts[3].runs[1].machine);
}

TEST(FleetResults, AStopInALaterRepeatKeepsTheVerifiedRunsAsTheRow) {
    const FleetSetting setting = SummarizeFleetSetting(
        kFleetTask, 1, {Runs(0, {1.0, 1.0}, RunStatus::Finished), Runs(1, {1.0, 1.2}, RunStatus::Stopped),
                        Runs(2, {}, RunStatus::Stopped)},
        3, 10.0);
    const FleetRow& stoppedLate = setting.rows[1];
    EXPECT_EQ(stoppedLate.status, RunStatus::Finished);
    EXPECT_TRUE(stoppedLate.stoppedAfter);
    EXPECT_DOUBLE_EQ(*stoppedLate.seconds, 1.1);  // the median of the two verified runs, not the stopped one's 0.3
    EXPECT_EQ(stoppedLate.runs.size(), 3u);       // the store keeps the stopped run too
    EXPECT_EQ(setting.rows[2].status, RunStatus::Stopped);
    EXPECT_FALSE(setting.rows[2].stoppedAfter);
    EXPECT_EQ(setting.verified, 2);

    FleetTally tally;
    tally.Add(setting);
    EXPECT_TRUE(tally.stopped);
    EXPECT_EQ(tally.runs, 7);
    EXPECT_EQ(tally.verifiedRuns, 5);
    EXPECT_EQ(tally.stoppedRuns, 2);
}

}  // namespace
