// The places of a burn-in of each core, and what its tally finds of them.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "runner/EachCore.h"

namespace {

RunRecord RunOf(RunStatus status, double seconds, uint32_t slot = 0) {
    RunRecord run = NewRunRecord(0, 1);
    run.status = status;
    run.seconds = seconds;
    if (status == RunStatus::Wrong && slot > 0) run.wrongSlot = slot;
    return run;
}

}  // namespace

TEST(EachCore, PlacesAreCoresOrTheirProcessorsAndTheTallyNamesWrongAndSlowOnes) {
    MachineShape shape;
    shape.packages = 2;
    shape.cores = {{0, 2}, {1, 3}, {4}};
    shape.coreNumbers = {0, 1, 6};
    shape.corePackages = {0, 0, 1};
    std::vector<CoreTarget> cores = EachCoreTargets(shape, BindMode::Cores);
    ASSERT_EQ(cores.size(), 3u);
    EXPECT_EQ(cores[1].processor, 1u);
    EXPECT_EQ(cores[2].name, "core 6 (processor 4, package 1)");
    const std::vector<CoreTarget> pus = EachCoreTargets(shape, BindMode::Pus);
    ASSERT_EQ(pus.size(), 5u);
    EXPECT_EQ(pus[1].name, "processor 2 of core 0 (processors 0 and 2, package 0)");

    // Core 1 wrong twice of three (first at slot 1204311), core 6 slower by 20 %.
    CoreTally tally(cores, false);
    const std::vector<std::pair<size_t, RunRecord>> runs = {
        {0, RunOf(RunStatus::Finished, 1.0)}, {1, RunOf(RunStatus::Wrong, 1.0, 1204311)}, {2, RunOf(RunStatus::Finished, 1.2)},
        {0, RunOf(RunStatus::Finished, 1.0)}, {1, RunOf(RunStatus::Finished, 1.0)},        {2, RunOf(RunStatus::Finished, 1.2)},
        {1, RunOf(RunStatus::Wrong, 1.0, 7)}, {2, RunOf(RunStatus::Stopped, 0.3)}};
    for (size_t i = 0; i < runs.size(); ++i) tally.Add(runs[i].first, i + 1, runs[i].second);
    const std::vector<CoreTally::Row> rows = tally.Rows();
    EXPECT_EQ(rows[1].runs, 3u);
    EXPECT_EQ(rows[2].runs, 2u);
    EXPECT_NEAR(*rows[2].againstOthers, 0.2, 1e-9);
    EXPECT_THAT(tally.Findings(),
                testing::ElementsAre("core 1 (processors 1 and 3, package 0): 2 of 3 runs wrong, first at slot 1 204 311",
                                     "core 6 (processor 4, package 1): median 1.20 sec, 20 % slower than the other cores"));
}
