#include <gtest/gtest.h>

#include <algorithm>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "results/ResultStore.h"
#include "engine/TaskTable.h"
#include "mpi/FleetReport.h"
#include "tests/support/TestFiles.h"

namespace {

constexpr int kTask = 0;  // 100K

RankSetting Ran(int rank, double seconds, RunStatus status = RunStatus::Finished) {
    RunRecord run = NewRunRecord(kTask, 1);
    run.progressed = true;
    run.seconds = seconds;
    run.prime = status == RunStatus::Wrong ? TaskTable::lastPrimes[kTask] + 2 : TaskTable::lastPrimes[kTask];
    run.index = TaskTable::taskSizes[kTask] - 1;
    SetRunCells(run, true);
    run.status = status;
    if (status == RunStatus::Wrong) run.fault = "prime number 100000 is 1299709, the search reported 1299711";
    return {rank, {run}};
}

std::vector<RankInfo> Ranks(int count, int perNode) {
    std::vector<RankInfo> ranks;
    for (int rank = 0; rank < count; ++rank) {
        RankInfo info;
        info.rank = rank;
        info.node = rank - rank % perNode;
        info.host = "node" + std::to_string(info.node / perNode);
        info.context.cpu = "Test CPU";
        info.context.logicalProcessors = 8;
        ranks.push_back(info);
    }
    return ranks;
}

TEST(FleetResults, OutliersAreJudgedAgainstTheMedianOfTheVerifiedRanks) {
    // Medians of each rank's repeats: 1.0, 1.0, 1.05, 1.2; rank 4 is wrong and left out.
    std::vector<RankSetting> parts = {Ran(4, 0.5, RunStatus::Wrong), Ran(0, 1.0), Ran(1, 1.0), Ran(2, 1.05)};
    RankSetting repeated = Ran(3, 1.2);
    for (double seconds : {9.0, 0.1}) repeated.runs.push_back(Ran(3, seconds).runs.front());
    parts.push_back(repeated);
    const FleetSetting setting = SummarizeFleetSetting(kTask, 1, parts, 3, 10.0);

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
    EXPECT_EQ(tally.ExitCode(false), 1);

    // The wire form keeps what the report needs.
    const RankSetting back = RankSettingFromText(RankSettingText(repeated));
    ASSERT_EQ(back.runs.size(), 3u);
    EXPECT_EQ(back.runs[1].seconds, 9.0);
    EXPECT_EQ(back.runs[0].primeText, repeated.runs[0].primeText);
}

TEST(FleetResults, TheStoreKeepsEveryRanksRunsWithHostAndRank) {
    TempFolder folder;
    const std::vector<RankInfo> ranks = Ranks(3, 1);
    RankSetting repeated = Ran(2, 1.0);
    repeated.runs.push_back(Ran(2, 1.1).runs.front());
    const FleetSetting setting = SummarizeFleetSetting(kTask, 1, {Ran(0, 1.0), Ran(1, 1.0, RunStatus::Wrong), repeated}, 2, 10.0);
    const std::string db = folder.Path("fleet.db").string();
    ASSERT_EQ(StoreFleet(db, ranks[0].context, "vantrel-mpi --repeat 2", "nightly", ranks, {setting}), "");

    const StoredInvocation back = ResultStore(db, ResultStore::Access::Read).Load("last");
    EXPECT_EQ(back.label, "nightly");
    ASSERT_EQ(back.runs.size(), 4u);
    EXPECT_EQ(back.runs[1].host, "node1");
    EXPECT_EQ(back.runs[1].rank, 1);
    EXPECT_EQ(back.runs[1].status, RunStatus::Wrong);
    EXPECT_EQ(back.runs[3].rank, 2);
    EXPECT_EQ(StoreFleet(folder.Path("none/fleet.db").string(), {}, "", "", ranks, {setting}).find("Could not store"), 0u);
}

TEST(FleetReport, BeyondAScreenfulTheTableShowsFailuresAndOutliersAndTheRestAsADistribution) {
    FleetHeader header;
    header.options.taskIndex = kTask;
    header.ranks = Ranks(1000, 2);
    header.hosts = FindSharedHosts(header.ranks);
    EXPECT_EQ(header.hosts.distinctHosts, 500);
    EXPECT_EQ(header.hosts.sharedGroups.size(), 500u);

    std::vector<RankSetting> parts;
    for (int rank = 0; rank < 1000; ++rank) parts.push_back(Ran(rank, 1.0 + 0.0001 * (rank % 7)));
    parts[17] = Ran(17, 1.0, RunStatus::Wrong);
    parts[500] = Ran(500, 1.3);
    parts[999] = Ran(999, 0.5);  // fast: no outlier
    const FleetSetting setting = SummarizeFleetSetting(kTask, 1, parts, 1, 10.0);
    FleetTally tally;
    tally.Add(setting);

    std::ostringstream out;
    std::unique_ptr<FleetReportWriter> table = MakeFleetReportWriter(ReportFormat::Table, out);
    table->Begin(header);
    table->Setting(setting);
    table->End(tally);
    const std::string text = out.str();
    SCOPED_TRACE(text);
    EXPECT_LT(std::count(text.begin(), text.end(), '\n'), 40);
    EXPECT_NE(text.find("1000 ranks on 500 hosts"), std::string::npos);
    EXPECT_NE(text.find("Shared hosts: 490 more"), std::string::npos);
    EXPECT_NE(text.find("CPU: 1000 ranks on Test CPU, 8 logical processors"), std::string::npos);
    auto shown = [&text](const std::string& row) { return std::regex_search(text, std::regex("\n" + row)); };
    EXPECT_TRUE(shown("node8 +17 +Test CPU +8 +100K +1 core +1.00 sec +WRONG RESULT +shares host\n"));
    EXPECT_NE(text.find("WRONG RESULT on node8, rank 17, task 100K on 1 core: expected prime 1299709, found 1299711"),
              std::string::npos);
    EXPECT_TRUE(shown("node250 +500 +.* verified +shares host; outlier, 29.96% slower\n"));
    EXPECT_NE(text.find("  outlier: node250, rank 500, 29.96% slower than the fleet median (1.30 sec)"), std::string::npos);
    // 999 verified, one outlier: the other 998, one of them far faster.
    EXPECT_NE(text.find("the other 998 verified ranks: 1 faster than the median by more than 5%, 997 within 5%, 0 slower"),
              std::string::npos);
    EXPECT_FALSE(shown("node499 "));
}

}  // namespace
