// The fleet's rows in the result store, kept as each setting is gathered.
#include <gmock/gmock.h>

#include <string>
#include <tuple>
#include <vector>

#include "mpi/FleetStore.h"
#include "results/ResultStore.h"
#include "tests/support/FleetRanks.h"
#include "tests/support/TestFiles.h"

TEST(FleetStore, EachGatheredSettingIsKeptAsSoonAsItIsWithEveryRanksRunsHostAndRank) {
    TempFolder folder;
    const std::vector<RankInfo> ranks = Ranks(3, 1);
    RankSetting repeated = Ran(2, 1.0);
    repeated.runs.push_back(Ran(2, 1.1).runs.front());
    const FleetSetting setting = SummarizeFleetSetting(kFleetTask, 1, {Ran(0, 1.0), Ran(1, 1.0, RunStatus::Wrong), repeated}, 2, 10.0);
    RankSetting twoThreads = Ran(0, 0.6);
    twoThreads.runs.front().threads = 2;
    const FleetSetting next = SummarizeFleetSetting(kFleetTask, 2, {twoThreads}, 2, 10.0);
    const std::string db = folder.Path("fleet.db").string();
    StoredInvocation head;
    head.context = ranks[0].context;
    head.commandLine = "vantrel-mpi --repeat 2";
    head.label = "nightly";
    FleetStore store(db, head);
    ASSERT_EQ(store.Add(setting, ranks), "");

    // Kept before the next setting is gathered: what a job that ends here leaves.
    const StoredInvocation back = ResultStore(db, ResultStore::Access::Read).Load("last");
    EXPECT_EQ(back.label, "nightly");
    ASSERT_EQ(back.runs.size(), 4u);
    EXPECT_EQ(std::tie(back.runs[1].host, back.runs[1].rank, back.runs[1].status),
              std::make_tuple("node1", 1, RunStatus::Wrong));
    EXPECT_EQ(back.runs[3].rank, 2);
    ASSERT_EQ(store.Add(next, ranks), "");
    const StoredInvocation whole = ResultStore(db, ResultStore::Access::Read).Load("last");
    EXPECT_EQ(whole.id, back.id);
    ASSERT_EQ(whole.runs.size(), 5u);
    EXPECT_EQ(whole.runs[4].threads, 2);
    // Until its end is known, a job is stored as one whose end never came.
    auto ended = [&] { return ResultStore(db, ResultStore::Access::Read).History({}).front().ended; };
    EXPECT_EQ(ended(), "the job ended before its verdict");
    ASSERT_EQ(store.End("FAIL: rank 1 was lost"), "");
    EXPECT_EQ(ended(), "FAIL: rank 1 was lost");

    // A store that cannot be written says so once and is not tried again.
    FleetStore none(folder.Path("none/fleet.db").string(), head);
    EXPECT_THAT(none.Add(setting, ranks), ::testing::StartsWith("Could not store"));
    EXPECT_EQ(none.Add(next, ranks), "");
    EXPECT_FALSE(none.Stored());
}
