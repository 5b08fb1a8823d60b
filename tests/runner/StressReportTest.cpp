// The stress's tally and drift that its summary is drawn from.
#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

#include "runner/StressReport.h"
#include "runner/Verdict.h"
#include "tests/support/Runs.h"

TEST(StressReport, TallyCountsAWrongOrFailedRunAsAnErrorNeverAVerifiedTime) {
    StressTally tally;
    tally.Add(1, RunEndedAs(RunStatus::Finished, std::nullopt, 2.0));
    tally.Add(2, RunEndedAs(RunStatus::Failed, std::nullopt, 0.5));
    tally.Add(3, RunEndedAs(RunStatus::Wrong, 100, 1.5));
    tally.Add(4, RunEndedAs(RunStatus::Finished, std::nullopt, 3.0));
    tally.Add(5, RunEndedAs(RunStatus::Stopped, std::nullopt, 0.25));
    EXPECT_EQ(std::tie(tally.runs, tally.errors, tally.stopped), std::make_tuple(5u, 2u, 1u));
    EXPECT_EQ(tally.seconds, (std::vector<double>{2.0, 3.0}));
    // The last: of the last run that ran to its end.
    EXPECT_EQ(std::tie(tally.fastest, tally.slowest, tally.last), std::make_tuple(2.0, 3.0, 3.0));
    EXPECT_EQ(tally.errorLines, (std::vector<std::string>{"run 2: failed", "run 3: wrong"}));
    EXPECT_EQ(VerdictOf(tally.outcome, {}).text,
              "FAIL: 1 of 4 runs computed a wrong prime; first at run 3, prime number 101; 1 of 4 runs failed; first at "
              "run 2");
}

TEST(StressReport, DriftSetsTheLastQuarterAgainstTheFirst) {
    std::vector<double> rising;
    std::vector<double> falling;
    for (int i = 1; i <= 12; ++i) {
        rising.push_back(i);
        falling.push_back(13 - i);
    }
    const struct {
        std::vector<double> seconds;
        std::string text;
    } cases[] = {
        {rising, "+450.00% (median of the last 3 runs 11.00 sec, of the first 3 2.00 sec)"},
        {falling, "-81.82% (median of the last 3 runs 2.00 sec, of the first 3 11.00 sec)"},
        {{1, 2, 3, 4, 5, 6, 7}, "not measured: 7 runs, it needs at least 8"},
    };
    for (const auto& [seconds, text] : cases) EXPECT_EQ(DriftText(seconds), text);
    EXPECT_DOUBLE_EQ(DriftOf(rising)->Change(), 4.5);
}
