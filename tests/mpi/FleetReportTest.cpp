#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <algorithm>
#include <iterator>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "results/ResultStore.h"
#include "engine/TaskTable.h"
#include "mpi/FleetReport.h"
#include "mpi/FleetStore.h"
#include "mpi/FleetVerdict.h"
#include "tests/support/FleetRanks.h"
#include "tests/support/TestFiles.h"

namespace {

constexpr int kTask = kFleetTask;

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
    EXPECT_EQ(JudgeFleet(tally, Ranks(5, 1), FleetOptions()).exitCode, 1);

    // The wire form keeps what the report needs.
    const RankSetting back = RankSettingFromText(RankSettingText(repeated));
    ASSERT_EQ(back.runs.size(), 3u);
    EXPECT_EQ(back.runs[1].seconds, 9.0);
    EXPECT_EQ(back.runs[0].primeText, repeated.runs[0].primeText);
}

// What took a node's machine is noted on its row: hotter than the fleet,
// throttled, others' load unless the rank shares its node; and with each
// core in turn, a rank's first wrong run decides its row.
TEST(FleetResults, HotThrottledAndBusyNodesAreNamed) {
    std::vector<RankSetting> parts;
    for (int rank = 0; rank < 4; ++rank) {
        parts.push_back(Ran(rank, 1.0));
        SampleSummary& m = parts.back().runs.front().machine;
        m.temperatureMaxC = rank == 2 ? 96.0 : 70.0 + rank;
        m.otherLoad = rank < 2 ? 0.5 : 0.0;
        if (rank == 3) m.throttleEvents = 5;
    }
    parts[3].runs.insert(parts[3].runs.begin(), Ran(3, 1.0, RunStatus::Wrong).runs.front());
    parts[3].runs.front().processor = 5;
    parts[3].findings = {"core 5 (processor 5, package 0): 1 of 2 runs wrong, first at slot 50 000"};
    const FleetSetting setting = SummarizeFleetSetting(kTask, 1, parts, 2, 10.0, {false, true, false, false});
    EXPECT_EQ(setting.rows[0].machineNote, "other programs used 50 % of the processors");
    EXPECT_EQ(setting.rows[1].machineNote, "");
    EXPECT_EQ(setting.rows[2].machineNote, "hot: 96 \u00b0C, fleet median 72 \u00b0C");
    EXPECT_EQ(setting.rows[3].machineNote, "thermal throttling (5 throttle events)");
    EXPECT_EQ(setting.rows[3].status, RunStatus::Wrong);

    const RankSetting back = RankSettingFromText(RankSettingText(parts[3]));
    EXPECT_EQ(back.findings, parts[3].findings);
    EXPECT_EQ(back.runs[0].processor, 5u);
    EXPECT_TRUE(back.runs[1].machine == parts[3].runs[1].machine);
}

TEST(FleetStore, EachGatheredSettingIsKeptAsSoonAsItIsWithEveryRanksRunsHostAndRank) {
    TempFolder folder;
    const std::vector<RankInfo> ranks = Ranks(3, 1);
    RankSetting repeated = Ran(2, 1.0);
    repeated.runs.push_back(Ran(2, 1.1).runs.front());
    const FleetSetting setting = SummarizeFleetSetting(kTask, 1, {Ran(0, 1.0), Ran(1, 1.0, RunStatus::Wrong), repeated}, 2, 10.0);
    RankSetting twoThreads = Ran(0, 0.6);
    twoThreads.runs.front().threads = 2;
    const FleetSetting next = SummarizeFleetSetting(kTask, 2, {twoThreads}, 2, 10.0);
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
    EXPECT_EQ(back.runs[1].host, "node1");
    EXPECT_EQ(back.runs[1].rank, 1);
    EXPECT_EQ(back.runs[1].status, RunStatus::Wrong);
    EXPECT_EQ(back.runs[3].rank, 2);
    ASSERT_EQ(store.Add(next, ranks), "");
    const StoredInvocation whole = ResultStore(db, ResultStore::Access::Read).Load("last");
    EXPECT_EQ(whole.id, back.id);
    ASSERT_EQ(whole.runs.size(), 5u);
    EXPECT_EQ(whole.runs[4].threads, 2);

    // A store that cannot be written says so once and is not tried again.
    FleetStore none(folder.Path("none/fleet.db").string(), head);
    EXPECT_EQ(none.Add(setting, ranks).find("Could not store"), 0u);
    EXPECT_EQ(none.Add(next, ranks), "");
    EXPECT_FALSE(none.Stored());
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
    EXPECT_TRUE(shown("node8 +17 +100K +1 core +1.00 sec +WRONG RESULT +shares host\n"));
    EXPECT_NE(text.find("WRONG RESULT on node8, rank 17, task 100K on 1 core: expected prime 1299709, found 1299711"),
              std::string::npos);
    EXPECT_TRUE(shown("node250 +500 +.* verified +shares host; outlier, 29.96% slower\n"));
    EXPECT_NE(text.find("  outlier: node250, rank 500, 29.96% slower than the fleet median (1.30 sec)"), std::string::npos);
    // 999 verified, one outlier: the other 998, one of them far faster.
    EXPECT_NE(text.find("the other 998 verified ranks: 1 faster than the median by more than 5%, 997 within 5%, 0 slower"),
              std::string::npos);
    EXPECT_FALSE(shown("node499 "));
}

// The report of `setting` in `format`: what is out after the setting, and
// after the end.
std::pair<std::string, std::string> Written(ReportFormat format, const FleetHeader& header, const FleetSetting& setting) {
    std::ostringstream out;
    std::unique_ptr<FleetReportWriter> writer = MakeFleetReportWriter(format, out);
    writer->Begin(header);
    writer->Setting(setting);
    const std::string first = out.str();
    FleetTally tally;
    tally.Add(setting);
    writer->End(tally);
    return {first, out.str()};
}

FleetHeader HeaderOf(std::vector<RankInfo> ranks) {
    FleetHeader header;
    header.options.taskIndex = kTask;
    header.ranks = std::move(ranks);
    header.hosts = FindSharedHosts(header.ranks);
    return header;
}

TEST(FleetReport, AtScaleRanksThatFailedAlikeTakeOneLineAndSharedHostsListRanges) {
    // 1,000 ranks that all refuse the count, 64 to a host.
    const FleetHeader header = HeaderOf(Ranks(1000, 64));
    std::vector<RankSetting> parts;
    for (int rank = 0; rank < 1000; ++rank) parts.push_back(Ran(rank, 0.0, RunStatus::Failed));
    const std::string text = Written(ReportFormat::Table, header, SummarizeFleetSetting(kTask, 1, parts, 1, 10.0)).second;
    SCOPED_TRACE(text);
    EXPECT_LT(std::count(text.begin(), text.end(), '\n'), 30);
    EXPECT_NE(text.find("\nShared host: node0 runs ranks 0-63\n"), std::string::npos);
    EXPECT_TRUE(std::regex_search(text, std::regex("\nnode0 +0 +100K +1 core +FAILED +shares host; and 999 ranks "
                                                   "\\(1-999\\) alike\n")));
    EXPECT_NE(text.find("\nFAILED for 1000 ranks (0-999), task 100K on 1 core: thread count \"128\" is not offered\n"),
              std::string::npos);
    EXPECT_TRUE(text.ends_with("\nFAIL: 1000 ranks (0-999) could not run (task 100K on 1 core)\n"));
}

TEST(FleetReport, OutliersComeSlowestFirstAndTheMachineGoesToTheHeaderWhenEveryRankHasTheSame) {
    const FleetSetting setting =
        SummarizeFleetSetting(kTask, 1, {Ran(0, 1.0), Ran(1, 1.2), Ran(2, 1.0), Ran(3, 1.5), Ran(4, 1.0)}, 1, 10.0);
    std::vector<RankInfo> ranks = Ranks(5, 1);
    for (RankInfo& info : ranks) info.host = "rack12-node" + std::to_string(info.rank);
    const std::string alike = Written(ReportFormat::Table, HeaderOf(ranks), setting).second;
    SCOPED_TRACE(alike);
    EXPECT_NE(alike.find("\nCPU: 5 ranks on Test CPU, 8 logical processors\n"), std::string::npos);
    EXPECT_LT(alike.find("outlier: rack12-node3, rank 3, 50.00%"), alike.find("outlier: rack12-node1, rank 1, 20.00%"));
    std::istringstream lines(alike);
    for (std::string line; std::getline(lines, line);) {
        if (line.find(" sec ") != std::string::npos) {
            EXPECT_LE(line.size(), 100u) << line;
        }
    }

    // A rank on another machine: the rows say which.
    ranks[2].context.cpu = "Other CPU";
    const std::string mixed = Written(ReportFormat::Table, HeaderOf(ranks), setting).second;
    SCOPED_TRACE(mixed);
    EXPECT_NE(mixed.find("\nCPU: 4 ranks on Test CPU, 8 logical processors\nCPU: 1 rank on Other CPU, 8 logical "
                         "processors\n"),
              std::string::npos);
    EXPECT_TRUE(std::regex_search(mixed, std::regex("\nHost +Rank +CPU +Task ")));
    EXPECT_TRUE(std::regex_search(mixed, std::regex("\nrack12-node2 +2 +Other CPU +100K ")));
}

TEST(FleetReport, EveryFormatPutsOutASettingWholeOnceGatheredAndEndsWithTheSameVerdict) {
    const FleetHeader header = HeaderOf(Ranks(3, 3));
    const FleetSetting setting = SummarizeFleetSetting(kTask, 1, {Ran(0, 1.0), Ran(1, 1.0), Ran(2, 1.0, RunStatus::Wrong)}, 1, 10.0);
    FleetTally tally;
    tally.Add(setting);
    const std::string verdict = JudgeFleet(tally, header.ranks, header.options).text;
    ASSERT_EQ(verdict, "FAIL: rank 2 on node0 computed a wrong prime (task 100K on 1 core)");

    const auto [table, tableEnd] = Written(ReportFormat::Table, header, setting);
    EXPECT_NE(table.find("\nnode0  2     100K  1 core         1.00 sec  WRONG RESULT  shares host\n"), std::string::npos)
        << table;
    EXPECT_TRUE(tableEnd.ends_with("\n" + verdict + "\n")) << tableEnd;

    const auto [csv, csvEnd] = Written(ReportFormat::Csv, header, setting);
    EXPECT_EQ(std::count(csv.begin(), csv.end(), '\n'), 8 + 3 + 1) << csv;  // the head, the rows, the figures
    EXPECT_TRUE(csvEnd.ends_with("\n# verdict: " + verdict + "\n")) << csvEnd;

    // JSON: cut off after the setting, its rows are whole; ended, a document
    // whose last members are the verdict.
    const auto [json, jsonEnd] = Written(ReportFormat::Json, header, setting);
    const nlohmann::json cut = nlohmann::json::parse(json + "]}", nullptr, false);
    ASSERT_FALSE(cut.is_discarded()) << json;
    ASSERT_EQ(cut["results"].size(), 3u);
    EXPECT_EQ(cut["results"][2]["status"], "wrong");
    const nlohmann::ordered_json whole = nlohmann::ordered_json::parse(jsonEnd);
    EXPECT_EQ(whole.dump(2) + "\n", jsonEnd);
    EXPECT_EQ(whole["verdict"], verdict);
    EXPECT_EQ(whole["pass"], false);
    EXPECT_EQ(whole["fleet"]["exit_code"], 1);
    EXPECT_EQ(std::prev(whole.end()).key(), "verdict");
}

}  // namespace
