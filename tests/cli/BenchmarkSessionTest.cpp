// An invocation with a faulty engine or a stop at a chosen notification.
#include <gmock/gmock.h>

#include <nlohmann/json.hpp>

#include <atomic>
#include <filesystem>
#include <sstream>
#include <streambuf>
#include <string>
#include <vector>

#include "engine/RunText.h"
#include "machine/Processors.h"
#include "results/ResultStore.h"
#include "runner/RunOptions.h"
#include "tests/support/CurrentProcessor.h"
#include "tests/support/Primes.h"
#include "tests/support/RunnerHarness.h"
#include "tests/support/TestFiles.h"

namespace fs = std::filesystem;
using ::testing::EndsWith;
using ::testing::HasSubstr;

TEST(BenchmarkSession, AWrongResultIsCaughtAgainstTheKnownPrimeAndEndsWithExitOne) {
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
    EXPECT_THAT(result.out, HasSubstr(",wrong"));
}

TEST(BenchmarkSession, AWrongSlotAnywhereIsNamedWithThePrimeExpectedAndTheValueFound) {
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

TEST(BenchmarkSession, AStoppedRunWhosePrimesAreWrongFailsAndSavesNothing) {
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
        EXPECT_THAT(result.err,
                    HasSubstr("WRONG RESULT for task 1M on 1 core: slot 100: prime number 101 is 547, the table holds 549\n"));
        EXPECT_FALSE(fs::exists(primes));
    }
}

TEST(BenchmarkSession, AStopIsInTheVerdictWhenEverItCameBeforeTheReportEnded) {
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
    // The row's machine columns follow its verdict, and the report ends with the stop.
    EXPECT_THAT(late.out, HasSubstr(",2,,,finished,,verified: last prime + digest,"));
    EXPECT_THAT(late.out,
                EndsWith("\n# verdict: PASS: every run verified (2 runs); Ctrl-C came after the last run\n"));
}

// A fault wherever the worker ran on one processor, one worker placed on
// each core in turn: the report names that processor's core, and every
// other core passes.
TEST(BenchmarkSession, EachCoreNamesTheCoreThatComputedAWrongPrime) {
    const ProcessorFacts facts = ReadProcessorFacts();
    if (!facts.shape || facts.shape->cores.size() < 2) GTEST_SKIP() << "a burn-in of each core needs two usable cores";
    const uint32_t faulty = facts.shape->cores.back().front();
    std::atomic<int> ranOn{-1};
    const CliResult result = RunWithFault(
        {"--stress", "2s", "--task", "100K", "--each-core", "--keep-going", "--format", "json"},
        [&](uint32_t* table, uint32_t, Notification&) {
            if (ranOn.exchange(-1) == int(faulty)) table[1204] ^= 1;
        },
        [&](const Notification&) {
            ranOn.store(CurrentProcessor());
            return false;
        });
    EXPECT_EQ(result.exitCode, kExitFault);
    const nlohmann::json summary = nlohmann::json::parse(result.out)["summary"];
    const std::string core = CoreName(*facts.shape, facts.shape->cores.size() - 1);
    ASSERT_EQ(summary["each_core"].size(), facts.shape->cores.size());
    for (const nlohmann::json& place : summary["each_core"]) {
        const bool wrong = place["place"] == core;
        SCOPED_TRACE(place.dump());
        EXPECT_GT(place["runs"].get<int>(), 0);
        EXPECT_EQ(place["wrong"] == place["runs"], wrong);
        EXPECT_EQ(place["errors"] == 0, !wrong);
    }
    const int runs = summary["each_core"].back()["runs"].get<int>();
    EXPECT_THAT(summary["each_core_findings"].dump(),
                HasSubstr(core + ": " + std::to_string(runs) + " of " + std::to_string(runs) +
                          (runs == 1 ? " run" : " runs") + " wrong, first at slot 1 204"));
    EXPECT_THAT(result.err, HasSubstr("; computed on " + core + "\n"));
}

TEST(BenchmarkSession, AStressEndsAtTheFirstWrongRunUnlessToldToKeepGoing) {
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
        int rows = 0;
        for (const std::string& line : Lines(result.out)) {
            if (line.empty() || line[0] == '#' || line.starts_with("run,")) continue;
            ++rows;
            const bool wrong = line.starts_with("2,");
            EXPECT_THAT(line, HasSubstr(wrong ? ",wrong,\"wrong: slot 4711" : ",finished,verified: last prime + digest"));
        }
        EXPECT_EQ(rows, verified);
        if (keepGoing) {
            EXPECT_GT(rows, 2);
        } else {
            EXPECT_EQ(rows, 2);
        }
        EXPECT_THAT(result.out, HasSubstr("# errors: 1\n"));
        if (!ResultStoreAvailable()) continue;
        const StoredInvocation stored = ResultStore(db, ResultStore::Access::Read).Load("last");
        ASSERT_EQ(stored.runs.size(), size_t(rows));
        for (size_t i = 0; i < stored.runs.size(); ++i) EXPECT_EQ(stored.runs[i].status, i == 1 ? RunStatus::Wrong : RunStatus::Finished);
    }
}

namespace {

// A report's pipe whose reader goes away when `closed` turns true: every
// write from then on fails, as after `| head` has quit.
class ClosingOutput final : public std::streambuf {
public:
    std::atomic<bool> closed{false};

protected:
    int_type overflow(int_type c) override { return closed ? traits_type::eof() : c; }
    std::streamsize xsputn(const char*, std::streamsize n) override { return closed ? 0 : n; }
};

}  // namespace

TEST(BenchmarkSession, AReportWhoseReaderWentAwayStopsTheRunsAndStoresThoseThatFinished) {
    if (!ResultStoreAvailable()) GTEST_SKIP() << "this build has no result store";
    const TempFolder folder;
    // The report is written a setting at a time: the first setting's two
    // runs finish, and its row is the write that fails.
    const std::vector<std::string> kinds[] = {{"--sweep", "--repeat", "2"}, {"--stress", "1h", "--threads", "1"}};
    for (const std::vector<std::string>& kind : kinds) {
        SCOPED_TRACE(kind[0]);
        const std::string db = folder.Path(kind[0].substr(2) + ".db").string();
        std::vector<std::string> args = {"--task", "100K", "--format", "csv", "--db", db};
        args.insert(args.end(), kind.begin(), kind.end());
        ClosingOutput pipe;
        std::ostream out(&pipe);
        std::ostringstream err;
        std::atomic<bool> interrupt{false};
        BenchmarkSession session(ParseCommandLine(args, LogicalProcessors()).options, out, err, Terminals{}, interrupt);
        int finished = 0;
        session.SetNotifyHook([&](const Notification& notification) {
            if (notification.message == WM_SEARCH_FINISHED && ++finished == 2) pipe.closed = true;
        });
        EXPECT_EQ(Bounded(interrupt, [&] { return session.Run(); }), kExitOutputClosed) << err.str();
        EXPECT_EQ(err.str(), "");
        const StoredInvocation stored = ResultStore(db, ResultStore::Access::Read).Load("last");
        ASSERT_EQ(stored.runs.size(), 2u);
        for (const StoredRun& run : stored.runs) EXPECT_EQ(run.status, RunStatus::Finished);
        EXPECT_THAT(ResultStore(db, ResultStore::Access::Read).History({}).front().ended,
                    ::testing::Optional(::testing::StartsWith("stopped by a closed output before ")));
    }
}
