// The verdict that ends every report, and the stress's tally and drift that
// its summary is drawn from.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "runner/StressReport.h"
#include "runner/Verdict.h"

namespace {

RunRecord Ended(RunStatus status, std::optional<uint32_t> wrongSlot = std::nullopt, double seconds = 1.0) {
    RunRecord run = NewRunRecord(0, 1);
    run.status = status;
    run.wrongSlot = wrongSlot;
    run.seconds = seconds;
    run.stopped = status == RunStatus::Stopped;
    run.verdict = RunStatusName(status);
    return run;
}

TEST(Verdict, SaysPassOrFailAndWhyInPlainWords) {
    const RunRecord verified = Ended(RunStatus::Finished);
    const RunRecord wrongPrime = Ended(RunStatus::Wrong, 100);
    const RunRecord wrongCount = Ended(RunStatus::Wrong);  // no slot wrong: the table's count, say
    const RunRecord failed = Ended(RunStatus::Failed);
    const RunRecord stopped = Ended(RunStatus::Stopped);
    RunRecord checked = stopped;
    checked.checkedPrimes = 83183;
    const RunsStop none;
    const RunsStop ctrlC{"Ctrl-C", "the time was up"};
    const RunsStop late{"SIGTERM", ""};
    const struct {
        std::vector<RunRecord> runs;
        RunsStop stop;
        bool pass;
        std::string text;
    } cases[] = {
        {{verified, verified, verified}, none, true, "PASS: every run verified (3 runs)"},
        {{verified}, none, true, "PASS: the run was verified"},
        {{verified, verified, stopped}, ctrlC, true,
         "PASS: 2 runs, every one verified; stopped by Ctrl-C before the time was up"},
        {{verified, stopped}, ctrlC, true, "PASS: 1 run, verified; stopped by Ctrl-C before the time was up"},
        {{verified, verified}, late, true, "PASS: every run verified (2 runs); SIGTERM came after the last run"},
        {{stopped}, ctrlC, false, "FAIL: stopped by Ctrl-C before any run finished, nothing was verified"},
        {{checked}, ctrlC, false,
         "FAIL: stopped by Ctrl-C before any run finished; only the 83183 primes it had found were checked, all "
         "right"},
        {{verified, wrongPrime, verified, wrongCount, failed}, none, false,
         "FAIL: 2 of 5 runs computed a wrong prime; first at run 2, prime number 101; 1 of 5 runs failed; first at "
         "run 5"},
        {{verified, wrongCount, wrongPrime, stopped}, ctrlC, false,
         "FAIL: 2 of 3 runs gave a wrong result; first at run 2; stopped by Ctrl-C before the time was up"},
        {{wrongPrime}, none, false, "FAIL: the run computed a wrong prime (prime number 101)"},
        {{failed, failed}, none, false, "FAIL: 2 of 2 runs failed; first at run 1"},
        {{failed}, late, false, "FAIL: the run failed; SIGTERM came after the last run"},
    };
    for (const auto& [runs, stop, pass, text] : cases) {
        RunOutcome outcome;
        for (size_t i = 0; i < runs.size(); ++i) outcome.Add(i + 1, runs[i]);
        const Verdict verdict = VerdictOf(outcome, stop);
        EXPECT_EQ(verdict.text, text);
        EXPECT_EQ(verdict.pass, pass) << text;
    }
}

TEST(StressTally, AWrongOrFailedRunIsAnErrorNeverAVerifiedTime) {
    StressTally tally;
    tally.Add(1, Ended(RunStatus::Finished, std::nullopt, 2.0));
    tally.Add(2, Ended(RunStatus::Failed, std::nullopt, 0.5));
    tally.Add(3, Ended(RunStatus::Wrong, 100, 1.5));
    tally.Add(4, Ended(RunStatus::Finished, std::nullopt, 3.0));
    tally.Add(5, Ended(RunStatus::Stopped, std::nullopt, 0.25));
    EXPECT_EQ(tally.runs, 5u);
    EXPECT_EQ(tally.errors, 2u);
    EXPECT_EQ(tally.stopped, 1u);
    EXPECT_EQ(tally.seconds, (std::vector<double>{2.0, 3.0}));
    EXPECT_EQ(tally.fastest, 2.0);
    EXPECT_EQ(tally.slowest, 3.0);
    EXPECT_EQ(tally.last, 3.0);  // of the last run that ran to its end
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

}  // namespace
