// The reports of a run: the table, CSV and JSON writers and the context line.
#include <gmock/gmock.h>

#include <nlohmann/json.hpp>

#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "runner/ReportWriter.h"
#include "tests/support/ProcessorContexts.h"
#include "tests/support/Runs.h"
#include "tests/support/TestFiles.h"

namespace {

using ::testing::Contains;
using ::testing::HasSubstr;
using ::testing::IsSupersetOf;
using ::testing::Pair;
using ::testing::StartsWith;

RunRecord StoppedRun() {
    RunRecord run = EndedRun(k100K, 2, 83182, 1064953, 0.5, false);
    run.verdict = "not verified: stopped";
    return run;
}

// Splits one CSV line, undoing the quoting of CsvField.
std::vector<std::string> CsvFields(const std::string& line) {
    std::vector<std::string> fields(1);
    bool quoted = false;
    for (size_t i = 0; i < line.size(); ++i) {
        const char c = line[i];
        if (quoted) {
            if (c == '"' && i + 1 < line.size() && line[i + 1] == '"') {
                fields.back() += '"';
                ++i;
            } else if (c == '"') {
                quoted = false;
            } else {
                fields.back() += c;
            }
        } else if (c == '"') {
            quoted = true;
        } else if (c == ',') {
            fields.emplace_back();
        } else {
            fields.back() += c;
        }
    }
    return fields;
}

TEST(ReportWriter, TableShowsTheFourCellsAndTheSweepColumns) {
    std::ostringstream out;
    auto writer = MakeReportWriter(ReportFormat::Table, out, true, 1);
    writer->Begin(SomeContext());
    SettingResult one = SummarizeSetting({FinishedRun(k1M, 1, 4.0)}, 1);
    SetSpeedup(one, 4.0);
    SettingResult two = SummarizeSetting({FinishedRun(k1M, 2, 2.5)}, 1);
    SetSpeedup(two, 4.0);
    writer->Row(one);
    writer->Row(two);
    SettingResult stopped;
    stopped.row = StoppedRun();
    writer->Row(stopped);
    writer->End({true, "PASS: 2 runs, every one verified; stopped by Ctrl-C before all 3 runs were done"});

    const std::vector<std::string> lines = Lines(out.str());
    ASSERT_EQ(lines.size(), 10u) << out.str();
    EXPECT_THAT(lines[0], HasSubstr("Test CPU"));
    EXPECT_EQ(lines[1], "");
    EXPECT_EQ(lines[2], "Task  Thread Count  Last Prime          Time        Speedup  Efficiency");
    EXPECT_EQ(lines[3], "1M    1 core        15485863             4.00 sec   1.00x    100.00%");
    EXPECT_EQ(lines[4], "1M    2 cores       15485863             2.50 sec   1.60x    80.00%");
    EXPECT_EQ(lines[5], "100K  2 cores       1064953 (83.18%)     0.50 sec                        stopped");
    // What was verified, once for each verdict.
    EXPECT_EQ(lines[6], "");
    EXPECT_EQ(lines[7], "verified: last prime + digest");
    EXPECT_EQ(lines[8], "not verified: stopped");
    EXPECT_EQ(lines[9], "PASS: 2 runs, every one verified; stopped by Ctrl-C before all 3 runs were done");
}

TEST(ReportWriter, TableWithRepeatsShowsMinAndMedian) {
    std::ostringstream out;
    auto writer = MakeReportWriter(ReportFormat::Table, out, false, 3);
    writer->Begin(SomeContext());
    writer->Row(SummarizeSetting({FinishedRun(k1M, 1, 3.0), FinishedRun(k1M, 1, 1.0), FinishedRun(k1M, 1, 2.0)}, 3));
    writer->End({true, "PASS: every run verified (3 runs)"});
    const std::vector<std::string> lines = Lines(out.str());
    ASSERT_EQ(lines.size(), 7u);
    EXPECT_EQ(lines[2], "Task  Thread Count  Last Prime          Min Time    Median Time");
    EXPECT_EQ(lines[3], "1M    1 core        15485863             1.00 sec    2.00 sec");
}

TEST(ReportWriter, CsvCarriesContextAndFullPrecisionSeconds) {
    std::ostringstream out;
    auto writer = MakeReportWriter(ReportFormat::Csv, out, true, 2);
    writer->Begin(SomeContext());
    SettingResult one = SummarizeSetting({FinishedRun(k1M, 1, 1.0 / 3.0), FinishedRun(k1M, 1, 0.5)}, 2);
    SetSpeedup(one, one.minSeconds);
    writer->Row(one);
    SettingResult stopped;
    stopped.row = StoppedRun();
    writer->Row(stopped);
    writer->End({false, "FAIL: stopped by Ctrl-C before any run finished, nothing was verified"});
    EXPECT_EQ(Lines(out.str()).back(),
              "# verdict: FAIL: stopped by Ctrl-C before any run finished, nothing was verified");

    std::vector<std::string> context;
    std::vector<std::vector<std::string>> rows;
    for (const std::string& line : Lines(out.str())) {
        if (line.starts_with("# ")) {
            context.push_back(line);
        } else {
            rows.push_back(CsvFields(line));
        }
    }
    for (const char* key : {"# cpu: Test CPU", "# logical_processors: 4", "# os: TestOS", "# compiler: GCC 12",
                            "# flags: -O3", "# bits: 32", "# date: 2026-01-02T03:04:05Z"}) {
        EXPECT_THAT(context, Contains(StartsWith(key)));
    }
    ASSERT_EQ(rows.size(), 3u);
    // The rows by their columns' names.
    std::vector<std::map<std::string, std::string>> row(3);
    for (size_t r = 1; r < 3; ++r) {
        ASSERT_EQ(rows[r].size(), rows[0].size());
        for (size_t i = 0; i < rows[0].size(); ++i) row[r][rows[0][i]] = rows[r][i];
    }
    EXPECT_THAT(row[1], IsSupersetOf({Pair("task", "1M"), Pair("thread_count", "1 core"), Pair("last_prime", "15485863"),
                                      Pair("time", " 0.33 sec"), Pair("runs", "2"), Pair("speedup", "1"),
                                      Pair("status", "finished"), Pair("verdict", "verified: last prime + digest")}));
    EXPECT_EQ(std::stod(row[1].at("seconds")), 1.0 / 3.0);
    EXPECT_EQ(std::stod(row[1].at("median_seconds")), (1.0 / 3.0 + 0.5) / 2.0);
    EXPECT_THAT(row[2], IsSupersetOf({Pair("last_prime", "1064953 (83.18%)"), Pair("seconds", "0.5"),
                                      Pair("median_seconds", ""), Pair("status", "stopped"),
                                      Pair("verdict", "not verified: stopped")}));
}

TEST(ReportWriter, JsonIsOneDocumentWithContextAndResults) {
    std::ostringstream out;
    auto writer = MakeReportWriter(ReportFormat::Json, out, false, 1);
    writer->Begin(SomeContext());
    writer->Row(SummarizeSetting({FinishedRun(k100K, 2, 0.125)}, 1));
    RunRecord wrong = FinishedRun(k100K, 2, 0.2);
    wrong.status = RunStatus::Wrong;
    wrong.fault = "prime number 100000 is 1299709, the search reported 1299721";
    SettingResult wrongResult;
    wrongResult.row = wrong;
    writer->Row(wrongResult);
    EXPECT_EQ(out.str(), "");  // nothing before the document is complete
    writer->End({false, "FAIL: the run computed a wrong prime (prime number 100000)"});

    const nlohmann::json document = nlohmann::json::parse(out.str());
    EXPECT_EQ(document["context"]["cpu"], "Test CPU, \"quoted\"");
    EXPECT_EQ(document["context"]["logical_processors"], 4);
    EXPECT_EQ(document["context"]["build"]["bits"], 32);
    EXPECT_EQ(document["context"]["date"], "2026-01-02T03:04:05Z");
    const nlohmann::json& results = document["results"];
    ASSERT_EQ(results.size(), 2u);
    const nlohmann::json first = {{"task", "100K"},   {"thread_count", "2 cores"}, {"last_prime", "1299709"},
                                  {"time", " 0.13 sec"}, {"seconds", 0.125},        {"speedup", nullptr},
                                  {"status", "finished"}, {"verdict", "verified: last prime + digest"}};
    for (const auto& [key, value] : first.items()) EXPECT_EQ(results[0][key], value) << key;
    EXPECT_EQ(results[1]["status"], "wrong");
    EXPECT_THAT(results[1]["fault"].get<std::string>(), HasSubstr("1299721"));
    // The verdict comes last, after the results.
    const nlohmann::ordered_json ordered = nlohmann::ordered_json::parse(out.str());
    std::vector<std::string> keys;
    for (const auto& item : ordered.items()) keys.push_back(item.key());
    EXPECT_EQ(keys, (std::vector<std::string>{"context", "results", "pass", "verdict"}));
    EXPECT_EQ(document["pass"], false);
    EXPECT_EQ(document["verdict"], "FAIL: the run computed a wrong prime (prime number 100000)");
}

// The processors a run could use and the machine's shape, in the table's header.
TEST(ReportWriter, TheContextStatesTheProcessors) {
    RunContext context = SomeContext();
    context.logicalProcessors = 16;
    context.processors = BoundHybridProcessors();
    EXPECT_THAT(ContextLine(context), HasSubstr(" | 16 logical processors, 6 usable (CPU set 0-5); 1 package, 4 cores, "
                                                "1 to 2 per core, 1 NUMA node: 2 performance cores, 2 efficiency cores; "
                                                "workers bound to cores | TestOS | "));
}

}  // namespace
