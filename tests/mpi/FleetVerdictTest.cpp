// The fleet's verdict: one line in plain words and the exit code with it.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "mpi/FleetOptions.h"
#include "mpi/FleetVerdict.h"
#include "runner/ExitCodes.h"
#include "tests/support/FleetRanks.h"

namespace {

struct VerdictCase {
    std::string name;
    std::vector<RankSetting> parts;
    std::function<void(FleetTally&, FleetOptions&)> change;
    int exitCode;
    std::string text;
};

TEST(FleetVerdict, OneLineInPlainWordsAndTheExitCodeThatGoesWithIt) {
    const auto none = [](FleetTally&, FleetOptions&) {};
    const std::vector<RankSetting> fine = {Ran(0, 1.0), Ran(1, 1.0), Ran(2, 1.0), Ran(3, 1.05)};
    const std::vector<RankSetting> slow = {Ran(0, 1.0), Ran(1, 1.0), Ran(2, 1.0), Ran(3, 1.5)};
    const std::vector<RankSetting> wrong = {Ran(0, 1.0), Ran(1, 1.0), Ran(2, 1.0), Ran(3, 1.0, RunStatus::Wrong)};
    const std::string stopped = "; stopped by Ctrl-C or SIGTERM before the end";
    const std::vector<VerdictCase> cases = {
        {"every run verified", fine, none, kExitOk, "PASS: 4 ranks, every run verified (4 runs)"},
        {"an outlier is reported", slow, none, kExitOk,
         "PASS: 4 ranks, every run verified (4 runs); 1 outlier more than 10% slower than the fleet median"},
        {"an outlier fails with --fail-on-outlier", slow, [](FleetTally&, FleetOptions& o) { o.failOnOutlier = true; },
         kExitFault, "FAIL: 1 outlier, more than 10% slower than the fleet median"},
        {"a wrong prime", wrong, none, kExitFault, "FAIL: rank 3 on node3 computed a wrong prime (task 100K on 1 core)"},
        {"a wrong prime and a failed run",
         {Ran(0, 1.0), Ran(1, 1.0, RunStatus::Failed), Ran(2, 1.0), Ran(3, 1.0, RunStatus::Wrong)}, none, kExitFault,
         "FAIL: 1 rank computed a wrong prime, 1 rank could not run (first: rank 1 on node1, task 100K on 1 core)"},
        {"stopped after verified runs", fine, [](FleetTally& t, FleetOptions&) { t.stopped = true; }, kExitInterrupted,
         "PASS: 4 ranks, every finished run verified (4 runs)" + stopped},
        {"stopped before any run finished",
         {Ran(0, 0.5, RunStatus::Stopped), Ran(1, 0.5, RunStatus::Stopped)}, none, kExitInterrupted,
         "FAIL: stopped before any run finished, nothing was verified"},
        {"a wrong prime, then stopped", wrong, [](FleetTally& t, FleetOptions&) { t.stopped = true; }, kExitFault,
         "FAIL: rank 3 on node3 computed a wrong prime (task 100K on 1 core)" + stopped},
        {"ranks that did not answer", fine,
         [](FleetTally& t, FleetOptions&) { t.loss = FleetLoss{{1, 2}, "the end of run 1 of 1 of 100K on 1 core", 60}; },
         kExitFault,
         "FAIL: 2 ranks (1-2) did not answer within 1m (--deadline), at the end of run 1 of 1 of 100K on 1 core; "
         "the job was ended"},
        {"results too large to gather", {}, [](FleetTally& t, FleetOptions&) { t.ungathered = "the ranks' results of 10M on 4 cores"; },
         kExitFault, "FAIL: the ranks' results of 10M on 4 cores were too large to gather"},
        {"a store that failed", fine, [](FleetTally& t, FleetOptions&) { t.storeFailure = "Could not store"; },
         kExitFault, "FAIL: the result store could not be written"},
        {"a store that failed after a stop keeps the stop's code", fine,
         [](FleetTally& t, FleetOptions&) { t.storeFailure = "Could not store"; t.stopped = true; }, kExitInterrupted,
         "FAIL: the result store could not be written" + stopped},
    };
    for (const VerdictCase& c : cases) {
        SCOPED_TRACE(c.name);
        FleetTally tally;
        FleetOptions options;
        if (!c.parts.empty()) tally.Add(SummarizeFleetSetting(kFleetTask, 1, c.parts, 1, 10.0));
        c.change(tally, options);
        const FleetVerdict verdict = JudgeFleet(tally, Ranks(4, 1), options);
        EXPECT_EQ(verdict.text, c.text);
        EXPECT_EQ(verdict.exitCode, c.exitCode);
        EXPECT_EQ(verdict.pass, c.text.starts_with("PASS: "));
    }
}

}  // namespace
