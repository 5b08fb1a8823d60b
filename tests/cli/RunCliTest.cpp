// The runner's process as main() runs it, with small tasks: streams, exit codes, saves, compare.
#include <gmock/gmock.h>

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "engine/RunText.h"
#include "export/TextEncoding.h"
#include "machine/Processors.h"
#include "runner/RunOptions.h"
#include "runner/StressReport.h"
#include "tests/support/RunnerHarness.h"
#include "tests/support/TestFiles.h"

namespace {

namespace fs = std::filesystem;
using ::testing::AllOf;
using ::testing::EndsWith;
using ::testing::HasSubstr;
using ::testing::Not;
using ::testing::StartsWith;

TEST(RunCli, EventsOfOneHundredThousandPrimesAreTheEnginesMessages) {
    const CliResult result = RunRunner({"--task", "100K", "--events"});
    EXPECT_EQ(result.exitCode, kExitOk) << result.err;
    EXPECT_EQ(result.out,
              "progress 1898 16369\n"
              "progress 83182 1064953\n"
              "progress 99999 1299709\n"
              "finished 99999 1299709\n");
    // The report moved to stderr.
    EXPECT_THAT(result.err, HasSubstr("100K  1 core        1299709"));
}

TEST(RunCli, JsonSweepWithRepeatsIsVerifiedAndParses) {
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

TEST(RunCli, BadInputRunsNothing) {
    const CliResult result = RunRunner({"--task", "7M"});
    EXPECT_EQ(result.exitCode, kExitUsage);
    EXPECT_EQ(result.out, "");
    ASSERT_THAT(result.err, StartsWith("vantrel-cli: unknown task \"7M\"; valid tasks: 100K"));
    EXPECT_EQ(std::count(result.err.begin(), result.err.end(), '\n'), 2) << result.err;
}

TEST(RunCli, InterruptBeforeARunStartsNone) {
    const std::atomic<bool> interrupted{true};
    const CliResult result = RunRunner({"--task", "100K", "--format", "csv"}, interrupted);
    EXPECT_EQ(result.exitCode, kExitInterrupted);
    EXPECT_THAT(result.out, Not(HasSubstr("100K,")));
}

TEST(RunCli, AStressRunsUntilTheTimeIsUpAndVerifiesEveryRun) {
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

TEST(RunCli, CompareGatesTwoJsonReports) {
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
    EXPECT_THAT(faster.out, HasSubstr(",faster,false,,\n"));  // no machine read in either report
    const CliResult missing = RunRunner({"compare", fast, folder.Path("missing.json").string()});
    EXPECT_EQ(missing.exitCode, kCompareBadInput);
    EXPECT_EQ(std::count(missing.err.begin(), missing.err.end(), '\n'), 1) << missing.err;
}

// True when `text` is "%5.2f sec" of some time: spaces, digits, a point, two digits.
bool IsTimeText(const std::string& text) {
    const std::string unit = " sec";
    if (text.size() < 9 || !text.ends_with(unit)) return false;
    const std::string number = text.substr(0, text.size() - unit.size());
    const size_t point = number.size() - 3;
    if (number[point] != '.') return false;
    const size_t digits = number.find_first_not_of(' ');
    if (digits == std::string::npos || digits >= point) return false;
    for (size_t i = digits; i < number.size(); ++i) {
        if (i != point && (number[i] < '0' || number[i] > '9')) return false;
    }
    return true;
}

// The grid lines of `text` after its byte-order mark, each checked for the
// three given cells and a time; false when any line differs.
bool GridLinesAre(const std::string& text, const std::vector<std::vector<std::string>>& rows) {
    if (!text.starts_with(kBom)) return false;
    size_t at = kBom.size();
    for (const std::vector<std::string>& cells : rows) {
        const size_t end = text.find("\r\n", at);
        if (end == std::string::npos) return false;
        std::string line = text.substr(at, end - at);
        for (const std::string& cell : cells) {
            if (!line.starts_with(cell + "\t\t")) return false;
            line.erase(0, cell.size() + 2);
        }
        if (!line.ends_with("\t\t")) return false;
        if (!IsTimeText(line.substr(0, line.size() - 2))) return false;
        at = end + 2;
    }
    return at == text.size();
}

TEST(RunCli, SavedGridLinesAreCheckedStrictly) {
    EXPECT_TRUE(IsTimeText(" 0.05 sec"));
    EXPECT_TRUE(IsTimeText("123.46 sec"));
    EXPECT_FALSE(IsTimeText(" 0.5 sec"));
    EXPECT_FALSE(IsTimeText("     sec"));
    EXPECT_FALSE(IsTimeText(" 0.05 s"));
    EXPECT_TRUE(GridLinesAre(kBom + "100K\t\t1 core\t\t1299709\t\t 0.05 sec\t\t\r\n", {{"100K", "1 core", "1299709"}}));
    EXPECT_FALSE(GridLinesAre(kBom + "100K\t\t1 core\t\t1299709\t\t 0.05 sec\t\r\n", {{"100K", "1 core", "1299709"}}));
    EXPECT_FALSE(GridLinesAre("100K\t\t1 core\t\t1299709\t\t 0.05 sec\t\t\r\n", {{"100K", "1 core", "1299709"}}));
}

TEST(RunCli, SavesOneHundredThousandPrimesAndTheirRow) {
    TempFolder temp;
    const std::string primes = temp.Path("primes.txt").string();
    const std::string grid = temp.Path("grid.txt").string();
    std::ofstream(primes) << std::string(2000000, 'x');  // an old, longer file is replaced

    const CliResult result = RunRunner({"--task", "100K", "--save-primes", primes, "--save-grid", grid});
    ASSERT_EQ(result.exitCode, kExitOk) << result.err;
    EXPECT_EQ(result.err, "");
    const std::string bytes = ReadBytes(primes);
    EXPECT_EQ(bytes.size(), 1399379u);
    EXPECT_THAT(bytes, AllOf(StartsWith("1-2\r\n2-3\r\n3-5\r\n4-7\r\n"), EndsWith("100000-1299709\r\n")));
    EXPECT_TRUE(GridLinesAre(ReadBytes(grid), {{"100K", "1 core", "1299709"}})) << ReadBytes(grid);
}

TEST(RunCli, SavedRepeatsGiveOneRowPerRunAndTheLastRunsPrimes) {
    TempFolder temp;
    const std::string grid = temp.Path("grid.txt").string();
    const std::string primes = temp.Path("primes.txt").string();
    const CliResult result =
        RunRunner({"--task", "100K", "--sweep", "--repeat", "2", "--save-grid", grid, "--save-primes", primes});
    ASSERT_EQ(result.exitCode, kExitOk) << result.err;
    const std::string text = ReadBytes(grid);
    const std::vector<uint16_t> counts = OfferedThreadCounts(ReadProcessorFacts().usable);
    std::vector<std::vector<std::string>> want;
    for (uint16_t threads : counts) {
        for (int i = 0; i < 2; ++i) want.push_back({"100K", ThreadCountText(threads), "1299709"});
    }
    EXPECT_TRUE(GridLinesAre(text, want)) << text;
    EXPECT_EQ(fs::file_size(primes), 1399379u);
}

TEST(RunCli, AMissingFolderToSaveInIsFoundBeforeAnyRun) {
    TempFolder temp;
    const std::string primes = temp.Path("gone/primes.txt").string();
    const CliResult result = RunRunner({"--task", "100K", "--save-primes", primes});
    EXPECT_EQ(result.exitCode, kExitFault);
    EXPECT_EQ(result.out, "");  // nothing ran, so no report
    EXPECT_EQ(result.err, "vantrel-cli: Could not open \"" + primes + "\": " + SystemReason(ENOENT) + "\n");
    EXPECT_FALSE(fs::exists(temp.Path("gone").string()));
}

TEST(RunCli, OneFileUnderTwoNamesIsRefusedAndALinkIsSavedThrough) {
    TempFolder temp;
    const std::string file = temp.Path("s.txt").string();
    const std::string refusal =
        "vantrel-cli: --save-primes and --save-grid name the same file; valid: two different files\n";
    auto refused = [&](const std::string& primes, const std::string& grid) {
        const CliResult result = RunRunner({"--task", "100K", "--save-primes", primes, "--save-grid", grid});
        return result.exitCode == kExitUsage && result.out.empty() && result.err.starts_with(refusal);
    };
    // An absolute and a relative name, before the file exists.
    const fs::path before = fs::current_path();
    fs::current_path(temp.folder);
    EXPECT_TRUE(refused(file, "s.txt"));
    fs::current_path(before);
    EXPECT_FALSE(fs::exists(file));
#if !defined(_WIN32)
    fs::create_symlink("s.txt", temp.Path("link").string());
    EXPECT_TRUE(refused(temp.Path("link").string(), file));  // a link to a file not there yet
    // A save through the link replaces the file it leads to and keeps the link.
    ASSERT_EQ(RunRunner({"--task", "100K", "--save-grid", temp.Path("link").string()}).exitCode, kExitOk);
    EXPECT_TRUE(fs::is_symlink(temp.Path("link").string()));
    EXPECT_TRUE(GridLinesAre(ReadBytes(file), {{"100K", "1 core", "1299709"}})) << ReadBytes(file);
    EXPECT_TRUE(refused(file, temp.Path("link").string()));
    fs::create_hard_link(file, temp.Path("hard").string());
    EXPECT_TRUE(refused(temp.Path("hard").string(), file));
#endif
}

TEST(RunCli, NothingIsSavedWithoutARun) {
    TempFolder temp;
    const std::string grid = temp.Path("grid.txt").string();
    const CliResult result = RunRunner({"--task", "100K", "--save-grid", grid}, true);
    EXPECT_EQ(result.exitCode, kExitInterrupted);
    EXPECT_THAT(result.err, HasSubstr("\"" + grid + "\" was not saved: no run was made"));
    EXPECT_FALSE(fs::exists(grid));
}

}  // namespace
