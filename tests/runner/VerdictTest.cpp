// The verdict that ends every report.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "runner/Verdict.h"
#include "tests/support/Runs.h"

TEST(Verdict, SaysPassOrFailAndWhyInPlainWords) {
    const RunRecord verified = RunEndedAs(RunStatus::Finished);
    const RunRecord wrongPrime = RunEndedAs(RunStatus::Wrong, 100);
    const RunRecord wrongCount = RunEndedAs(RunStatus::Wrong);  // no slot wrong: the table's count, say
    const RunRecord failed = RunEndedAs(RunStatus::Failed);
    const RunRecord stopped = RunEndedAs(RunStatus::Stopped);
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
