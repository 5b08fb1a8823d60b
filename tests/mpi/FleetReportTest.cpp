// The fleet's report in every format and at scale.
#include <gmock/gmock.h>

#include <nlohmann/json.hpp>

#include <algorithm>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "mpi/FleetReport.h"
#include "mpi/FleetVerdict.h"
#include "tests/support/FleetRanks.h"
#include "tests/support/TestFiles.h"

namespace {

using ::testing::AllOf;
using ::testing::ContainsRegex;
using ::testing::EndsWith;
using ::testing::HasSubstr;
using ::testing::Not;

constexpr int kTask = kFleetTask;

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

TEST(FleetReport, BeyondAScreenfulTheTableShowsFailuresAndOutliersAndTheRestAsADistribution) {
    const FleetHeader header = HeaderOf(Ranks(1000, 2));
    EXPECT_EQ(header.hosts.distinctHosts, 500);
    EXPECT_EQ(header.hosts.sharedGroups.size(), 500u);

    std::vector<RankSetting> parts;
    for (int rank = 0; rank < 1000; ++rank) parts.push_back(Ran(rank, 1.0 + 0.0001 * (rank % 7)));
    parts[17] = Ran(17, 1.0, RunStatus::Wrong);
    parts[500] = Ran(500, 1.3);
    parts[999] = Ran(999, 0.5);  // fast: no outlier
    const std::string text = Written(ReportFormat::Table, header, SummarizeFleetSetting(kTask, 1, parts, 1, 10.0)).second;
    SCOPED_TRACE(text);
    EXPECT_LT(std::count(text.begin(), text.end(), '\n'), 40);
    EXPECT_THAT(text, AllOf(HasSubstr("1000 ranks on 500 hosts"), HasSubstr("Shared hosts: 490 more"),
                            HasSubstr("CPU: 1000 ranks on Test CPU, 8 logical processors")));
    EXPECT_THAT(text, ContainsRegex("\nnode8 +17 +100K +1 core +1.00 sec +WRONG RESULT +shares host\n"));
    EXPECT_THAT(text, HasSubstr("WRONG RESULT on node8, rank 17, task 100K on 1 core: expected prime 1299709, found 1299711"));
    EXPECT_THAT(text, ContainsRegex("\nnode250 +500 +[^\n]* verified +shares host; outlier, 29.96% slower\n"));
    EXPECT_THAT(text, HasSubstr("  outlier: node250, rank 500, 29.96% slower than the fleet median (1.30 sec)"));
    // 999 verified, one outlier: the other 998, one of them far faster.
    EXPECT_THAT(text, HasSubstr("the other 998 verified ranks: 1 faster than the median by more than 5%, 997 within 5%, "
                                "0 slower"));
    EXPECT_THAT(text, Not(ContainsRegex("\nnode499 ")));
}

TEST(FleetReport, AtScaleRanksThatFailedAlikeTakeOneLineAndSharedHostsListRanges) {
    // 1,000 ranks that all refuse the count, 64 to a host.
    const FleetHeader header = HeaderOf(Ranks(1000, 64));
    std::vector<RankSetting> parts;
    for (int rank = 0; rank < 1000; ++rank) parts.push_back(Ran(rank, 0.0, RunStatus::Failed));
    const std::string text = Written(ReportFormat::Table, header, SummarizeFleetSetting(kTask, 1, parts, 1, 10.0)).second;
    SCOPED_TRACE(text);
    EXPECT_LT(std::count(text.begin(), text.end(), '\n'), 30);
    EXPECT_THAT(text, HasSubstr("\nShared host: node0 runs ranks 0-63\n"));
    EXPECT_THAT(text, ContainsRegex("\nnode0 +0 +100K +1 core +FAILED +shares host; and 999 ranks \\(1-999\\) alike\n"));
    EXPECT_THAT(text, HasSubstr("\nFAILED for 1000 ranks (0-999), task 100K on 1 core: thread count \"128\" is not offered\n"));
    EXPECT_THAT(text, EndsWith("\nFAIL: 1000 ranks (0-999) could not run (task 100K on 1 core)\n"));
}

TEST(FleetReport, OutliersComeSlowestFirstAndTheMachineGoesToTheHeaderWhenEveryRankHasTheSame) {
    const FleetSetting setting =
        SummarizeFleetSetting(kTask, 1, {Ran(0, 1.0), Ran(1, 1.2), Ran(2, 1.0), Ran(3, 1.5), Ran(4, 1.0)}, 1, 10.0);
    std::vector<RankInfo> ranks = Ranks(5, 1);
    for (RankInfo& info : ranks) info.host = "rack12-node" + std::to_string(info.rank);
    const std::string alike = Written(ReportFormat::Table, HeaderOf(ranks), setting).second;
    SCOPED_TRACE(alike);
    EXPECT_THAT(alike, HasSubstr("\nCPU: 5 ranks on Test CPU, 8 logical processors\n"));
    EXPECT_LT(alike.find("outlier: rack12-node3, rank 3, 50.00%"), alike.find("outlier: rack12-node1, rank 1, 20.00%"));
    for (const std::string& line : Lines(alike)) {
        if (line.find(" sec ") != std::string::npos) {
            EXPECT_LE(line.size(), 100u) << line;
        }
    }

    // A rank on another machine: the rows say which.
    ranks[2].context.cpu = "Other CPU";
    const std::string mixed = Written(ReportFormat::Table, HeaderOf(ranks), setting).second;
    SCOPED_TRACE(mixed);
    EXPECT_THAT(mixed, HasSubstr("\nCPU: 4 ranks on Test CPU, 8 logical processors\nCPU: 1 rank on Other CPU, 8 logical "
                                 "processors\n"));
    EXPECT_THAT(mixed, AllOf(ContainsRegex("\nHost +Rank +CPU +Task "), ContainsRegex("\nrack12-node2 +2 +Other CPU +100K ")));
}

TEST(FleetReport, EveryFormatPutsOutASettingWholeOnceGatheredAndEndsWithTheSameVerdict) {
    const FleetHeader header = HeaderOf(Ranks(3, 3));
    const FleetSetting setting = SummarizeFleetSetting(kTask, 1, {Ran(0, 1.0), Ran(1, 1.0), Ran(2, 1.0, RunStatus::Wrong)}, 1, 10.0);
    FleetTally tally;
    tally.Add(setting);
    const std::string verdict = JudgeFleet(tally, header.ranks, header.options).text;
    ASSERT_EQ(verdict, "FAIL: rank 2 on node0 computed a wrong prime (task 100K on 1 core)");

    const auto [table, tableEnd] = Written(ReportFormat::Table, header, setting);
    EXPECT_THAT(table, HasSubstr("\nnode0  2     100K  1 core         1.00 sec  WRONG RESULT  shares host\n"));
    EXPECT_THAT(tableEnd, EndsWith("\n" + verdict + "\n"));

    const auto [csv, csvEnd] = Written(ReportFormat::Csv, header, setting);
    EXPECT_EQ(std::count(csv.begin(), csv.end(), '\n'), 8 + 3 + 1) << csv;  // the head, the rows, the figures
    EXPECT_THAT(csvEnd, EndsWith("\n# verdict: " + verdict + "\n"));

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
