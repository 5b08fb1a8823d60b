// Real runs of small tasks through the runner's own code paths.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <thread>
#include <sstream>
#include <string>
#include <vector>

#include "cli/BenchmarkSession.h"
#include "cli/RunCli.h"
#include "engine/RunText.h"
#include "engine/TaskTable.h"
#include "machine/Processors.h"
#include "results/ResultStore.h"
#include "runner/RunOptions.h"
#include "runner/SearchDriver.h"
#include "runner/StressReport.h"
#include "tests/cli/RunnerHarness.h"
#include "tests/support/TestFiles.h"

namespace {

namespace fs = std::filesystem;

constexpr int k100K = 0;
constexpr int k1M = 2;


TEST(RunnerRun, EventsOfOneHundredThousandPrimesAreTheEnginesMessages) {
    const CliResult result = RunRunner({"--task", "100K", "--events"});
    EXPECT_EQ(result.exitCode, kExitOk) << result.err;
    EXPECT_EQ(result.out,
              "progress 1898 16369\n"
              "progress 83182 1064953\n"
              "progress 99999 1299709\n"
              "finished 99999 1299709\n");
    // The report moved to stderr.
    EXPECT_NE(result.err.find("100K  1 core        1299709"), std::string::npos) << result.err;
}

TEST(RunnerRun, JsonSweepWithRepeatsIsVerifiedAndParses) {
    const CliResult result = RunRunner({"--task", "100K", "--sweep", "--repeat", "2", "--format", "json"});
    ASSERT_EQ(result.exitCode, kExitOk) << result.err;
    const nlohmann::json document = nlohmann::json::parse(result.out);
    EXPECT_EQ(document["context"]["logical_processors"], LogicalProcessors());
    const nlohmann::json& results = document["results"];
    ASSERT_EQ(results.size(), size_t(ThreadListTop(ReadProcessorFacts().usable) + 1));
    for (size_t i = 0; i < results.size(); ++i) {
        EXPECT_EQ(results[i]["threads"], 1u << i);
        EXPECT_EQ(results[i]["last_prime"], "1299709");
        EXPECT_EQ(results[i]["status"], "finished");
        EXPECT_EQ(results[i]["run_seconds"].size(), 2u);
        EXPECT_LE(results[i]["seconds"].get<double>(), results[i]["median_seconds"].get<double>());
        EXPECT_EQ(results[i]["time"], TimeText(results[i]["seconds"].get<double>()));
        EXPECT_FALSE(results[i]["speedup"].is_null());
    }
    EXPECT_EQ(results[0]["speedup"], 1.0);
}

TEST(RunnerRun, BadInputRunsNothing) {
    const CliResult result = RunRunner({"--task", "7M"});
    EXPECT_EQ(result.exitCode, kExitUsage);
    EXPECT_EQ(result.out, "");
    ASSERT_EQ(result.err.rfind("vantrel-cli: unknown task \"7M\"; valid tasks: 100K", 0), 0u) << result.err;
    EXPECT_EQ(std::count(result.err.begin(), result.err.end(), '\n'), 2) << result.err;
}

TEST(RunnerRun, AWrongResultIsCaughtAgainstTheKnownPrimeAndEndsWithExitOne) {
    // An engine whose table ends with a wrong but ascending prime, and which
    // reports that prime: only the known N-th prime tells it is wrong.
    const CliResult result = RunWithFault({"--task", "100K", "--format", "csv"}, [](uint32_t* primes, uint32_t lastIndex,
                                                                                  Notification& finished) {
        finished.prime = primes[lastIndex - 1] += 2;
    });
    EXPECT_EQ(result.exitCode, kExitFault);
    EXPECT_EQ(result.err, "vantrel-cli: WRONG RESULT for task 100K on 1 core: slot 99999: prime number 100000 is "
                          "1299709, the table holds 1299711; prime number 100000 is 1299709, the search reported "
                          "1299711\n");
    EXPECT_NE(result.out.find(",wrong"), std::string::npos) << result.out;
}

TEST(RunnerRun, AWrongSlotAnywhereIsNamedWithThePrimeExpectedAndTheValueFound) {
    const std::vector<uint32_t> primes = FirstPrimes(100000);
    // A slot in the middle, and the last slot alone: the engine still
    // reports the right N-th prime.
    for (const uint32_t slot : {4711u, 99999u}) {
        const uint32_t found = primes[slot] ^ 1;
        const CliResult result = RunWithFault({"--task", "100K", "--format", "json"},
                                              [&](uint32_t* table, uint32_t, Notification&) { table[slot] = found; });
        EXPECT_EQ(result.exitCode, kExitFault);
        const std::string fault = "slot " + std::to_string(slot) + ": prime number " + std::to_string(slot + 1) + " is " +
                                  std::to_string(primes[slot]) + ", the table holds " + std::to_string(found);
        EXPECT_EQ(result.err, "vantrel-cli: WRONG RESULT for task 100K on 1 core: " + fault + "\n");
        const nlohmann::json row = nlohmann::json::parse(result.out)["results"][0];
        EXPECT_EQ(row["status"], "wrong");
        EXPECT_EQ(row["verdict"], "wrong: " + fault);
    }
}

TEST(RunnerRun, InterruptBeforeARunStartsNone) {
    const std::atomic<bool> interrupted{true};
    const CliResult result = RunRunner({"--task", "100K", "--format", "csv"}, interrupted);
    EXPECT_EQ(result.exitCode, kExitInterrupted);
    EXPECT_EQ(result.out.find("100K,"), std::string::npos) << result.out;
}

TEST(RunnerRun, StopKeepsTheLastProgressAndTheEngineRunsAgain) {
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

TEST(RunnerRun, AStopAsTheLastSlotIsMergedLeavesTheRunFinished) {
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

TEST(RunnerRun, AStoppedRunWhosePrimesAreWrongFailsAndSavesNothing) {
    // --verify full checks a stopped run's primes, and so does saving them.
    const TempFolder folder;
    const std::string primes = folder.Path("primes.txt").string();
    const std::vector<std::string> checks[] = {{"--verify", "full"}, {"--save-primes", primes}};
    for (const std::vector<std::string>& check : checks) {
        std::vector<std::string> args = {"--task", "1M", "--format", "json"};
        args.insert(args.end(), check.begin(), check.end());
        const CliResult result = RunWithFault(
            args, [](uint32_t* table, uint32_t, Notification&) { table[100] += 2; },
            [](const Notification& notification) { return notification.message == WM_SEARCH_PROGRESS; });
        EXPECT_EQ(result.exitCode, kExitFault) << check[0];
        const nlohmann::json document = nlohmann::json::parse(result.out);
        EXPECT_EQ(document["results"][0]["status"], "wrong");
        EXPECT_EQ(document["pass"], false);
        EXPECT_EQ(document["verdict"],
                  "FAIL: the run computed a wrong prime (prime number 101); stopped by Ctrl-C before the run ended");
        EXPECT_NE(result.err.find("WRONG RESULT for task 1M on 1 core: slot 100: prime number 101 is 547, the table "
                                  "holds 549\n"),
                  std::string::npos)
            << result.err;
        EXPECT_FALSE(fs::exists(primes));
    }
}

TEST(RunnerRun, AStopIsInTheVerdictWhenEverItCameBeforeTheReportEnded) {
    // A stress stopped in run 3: the stopped run is among the runs and in the summary's count.
    int finishes = 0;  // the runs' workers one after the other
    const CliResult stress = RunWithFault({"--stress", "1h", "--task", "100K", "--threads", "1", "--format", "json"},
                                          nullptr, [&](const Notification& notification) {
                                              if (notification.message == WM_SEARCH_FINISHED) ++finishes;
                                              return finishes == 2 && notification.message == WM_SEARCH_PROGRESS;
                                          });
    EXPECT_EQ(stress.exitCode, kExitInterrupted) << stress.err;
    const nlohmann::json document = nlohmann::json::parse(stress.out);
    ASSERT_EQ(document["runs"].size(), 3u);
    EXPECT_EQ(document["runs"][2]["status"], "stopped");
    EXPECT_EQ(document["summary"]["runs"], 3);
    EXPECT_EQ(document["summary"]["stopped"], 1);
    EXPECT_EQ(document["pass"], true);
    EXPECT_EQ(document["verdict"], "PASS: 2 runs, every one verified; stopped by Ctrl-C before the time was up");

    // A stop after the last run has finished: nothing was cut short, yet the report says it came.
    const CliResult late = RunWithFault({"--task", "100K", "--repeat", "2", "--format", "csv"}, nullptr,
                                        [&](const Notification& notification) {
                                            return notification.message == WM_SEARCH_FINISHED && ++finishes == 4;
                                        });
    EXPECT_EQ(late.exitCode, kExitInterrupted) << late.err;
    EXPECT_NE(late.out.find(",2,,,finished,,verified: last prime + digest\n"
                            "# verdict: PASS: every run verified (2 runs); Ctrl-C came after the last run\n"),
              std::string::npos)
        << late.out;
}

TEST(RunnerRun, AStressRunsUntilTheTimeIsUpAndVerifiesEveryRun) {
    const CliResult result = RunRunner({"--stress", "2s", "--task", "100K", "--format", "json"});
    ASSERT_EQ(result.exitCode, kExitOk) << result.err;
    const nlohmann::json document = nlohmann::json::parse(result.out);
    EXPECT_EQ(document["stress"]["threads"], EveryProcessor(ReadProcessorFacts().usable));
    const nlohmann::json& runs = document["runs"];
    const nlohmann::json& summary = document["summary"];
    ASSERT_GE(runs.size(), 2u) << result.out;
    EXPECT_EQ(summary["runs"], runs.size());
    EXPECT_EQ(summary["errors"], 0);
    EXPECT_GE(summary["elapsed_seconds"].get<double>(), 2.0);
    for (const nlohmann::json& run : runs) {
        EXPECT_EQ(run["verdict"], "verified: last prime + digest");
        EXPECT_GE(run["seconds"].get<double>(), summary["min_seconds"].get<double>());
        EXPECT_LE(run["seconds"].get<double>(), summary["max_seconds"].get<double>());
    }
    EXPECT_EQ(summary["drift"].is_null(), runs.size() < kMinDriftRuns) << summary["drift_text"];
}

TEST(RunnerRun, AStressEndsAtTheFirstWrongRunUnlessToldToKeepGoing) {
    const uint32_t expected = FirstPrimes(4712).back();
    // Every run goes into the store, the wrong one too.
    const TempFolder folder;
    const std::string db = folder.Path("results.db").string();
    for (const bool keepGoing : {false, true}) {
        SCOPED_TRACE(keepGoing);
        std::vector<std::string> args = {"--stress", "2s", "--task", "100K", "--format", "csv"};
        if (keepGoing) args.push_back("--keep-going");
        if (ResultStoreAvailable()) args.insert(args.end(), {"--db", db});
        int verified = 0;
        const CliResult result = RunWithFault(args, [&](uint32_t* table, uint32_t, Notification&) {
            if (++verified == 2) table[4711] ^= 1;
        });
        EXPECT_EQ(result.exitCode, kExitFault);
        EXPECT_EQ(result.err, "vantrel-cli: WRONG RESULT for task 100K on " +
                                  ThreadCountText(EveryProcessor(LogicalProcessors())) + " (run 2): slot 4711: prime number 4712 is " +
                                  std::to_string(expected) + ", the table holds " + std::to_string(expected ^ 1) + "\n");
        // One row a run: run 2 wrong, the others verified.
        std::istringstream lines(result.out);
        int rows = 0;
        for (std::string line; std::getline(lines, line);) {
            if (line.empty() || line[0] == '#' || line.rfind("run,", 0) == 0) continue;
            ++rows;
            const bool wrong = line.rfind("2,", 0) == 0;
            EXPECT_NE(line.find(wrong ? ",wrong,\"wrong: slot 4711" : ",finished,verified: last prime + digest"),
                      std::string::npos) << line;
        }
        EXPECT_EQ(rows, verified);
        if (keepGoing) {
            EXPECT_GT(rows, 2);
        } else {
            EXPECT_EQ(rows, 2);
        }
        EXPECT_NE(result.out.find("# errors: 1\n"), std::string::npos) << result.out;
        if (!ResultStoreAvailable()) continue;
        const StoredInvocation stored = ResultStore(db, ResultStore::Access::Read).Load("last");
        ASSERT_EQ(stored.runs.size(), size_t(rows));
        for (size_t i = 0; i < stored.runs.size(); ++i) EXPECT_EQ(stored.runs[i].status, i == 1 ? RunStatus::Wrong : RunStatus::Finished);
    }
}

TEST(RunnerRun, CompareGatesTwoJsonReports) {
    const TempFolder folder;
    auto report = [&](const std::string& name, double seconds) {
        const std::string file = folder.Path(name).string();
        std::string runs;
        for (int i = 0; i < 5; ++i) runs += (i == 0 ? "" : ", ") + std::to_string(seconds * (1.0 + 0.01 * i));
        WriteBytes(file, "{\"results\": [{\"task\": \"100K\", \"threads\": 1, \"run_seconds\": [" + runs + "]}]}");
        return file;
    };
    const std::string fast = report("fast.json", 0.050);
    const std::string slow = report("slow.json", 0.060);
    const CliResult slower = RunRunner({"compare", fast, slow, "--fail-on-slowdown", "5"});
    EXPECT_EQ(slower.exitCode, kCompareSlower) << slower.err;
    EXPECT_EQ(slower.err, "vantrel-cli: slower by more than 5%: task 100K on 1 core, +20.0% (p = 0.0079)\n");
    const CliResult faster = RunRunner({"compare", slow, fast, "--fail-on-slowdown", "5", "--format", "csv"});
    EXPECT_EQ(faster.exitCode, kCompareOk) << faster.err;
    EXPECT_NE(faster.out.find(",faster,false\n"), std::string::npos) << faster.out;
    const CliResult missing = RunRunner({"compare", fast, folder.Path("missing.json").string()});
    EXPECT_EQ(missing.exitCode, kCompareBadInput);
    EXPECT_EQ(std::count(missing.err.begin(), missing.err.end(), '\n'), 1) << missing.err;
}

}  // namespace
