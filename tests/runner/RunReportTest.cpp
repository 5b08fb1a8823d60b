#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <sstream>
#include <string>
#include <vector>

#include "engine/TaskTable.h"
#include "runner/ReportWriter.h"
#include "runner/RunRecord.h"
#include "runner/Statistics.h"
#include "tests/support/TestFiles.h"
#include "verify/PrimeSieve.h"
#include "verify/Verification.h"

namespace {

constexpr int k100K = 0;
constexpr int k1M = 2;

RunRecord FinishedRun(int taskIndex, uint16_t threads, double seconds) {
    RunRecord run = NewRunRecord(taskIndex, threads);
    run.progressed = true;
    run.index = run.targetCount - 1;
    run.prime = TaskTable::lastPrimes[taskIndex];
    run.seconds = seconds;
    run.status = RunStatus::Finished;
    run.verdict = kVerifiedFinished;
    SetRunCells(run, true);
    return run;
}

RunRecord StoppedRun() {
    RunRecord run = NewRunRecord(k100K, 2);
    run.progressed = true;
    run.index = 83182;
    run.prime = 1064953;
    run.seconds = 0.5;
    run.status = RunStatus::Stopped;
    run.verdict = "not verified: stopped";
    SetRunCells(run, false);
    return run;
}

RunContext SomeContext() {
    RunContext context;
    context.version = "2.0";
    context.cpu = "Test CPU, \"quoted\"";
    context.logicalProcessors = 4;
    context.os = "TestOS";
    context.compiler = "GCC 12";
    context.buildType = "Release";
    context.flags = "-O3";
    context.bits = 32;
    context.date = "2026-01-02T03:04:05Z";
    return context;
}

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
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

TEST(RunRecord, CellsTakeTheGridsForms) {
    RunRecord run = NewRunRecord(k1M, 4);
    EXPECT_EQ(run.task, "1M");
    EXPECT_EQ(run.threadText, "4 cores");
    EXPECT_EQ(NewRunRecord(k1M, 1).threadText, "1 core");
    EXPECT_EQ(run.targetCount, 1000000u);

    // Before any progress only Task and Thread Count are set.
    SetRunCells(run, false);
    EXPECT_EQ(run.primeText, "");
    EXPECT_EQ(run.timeText, "");

    // The progress of 100K primes, as the grid shows it.
    RunRecord progress = NewRunRecord(k100K, 1);
    progress.progressed = true;
    const struct { uint32_t index, prime; const char* text; } steps[] = {
        {1898, 16369, "16369 (1.90%)"}, {83182, 1064953, "1064953 (83.18%)"}, {99999, 1299709, "1299709 (100.00%)"}};
    for (const auto& step : steps) {
        progress.index = step.index;
        progress.prime = step.prime;
        progress.seconds = 0.105;
        SetRunCells(progress, false);
        EXPECT_EQ(progress.primeText, step.text);
        EXPECT_EQ(progress.timeText, " 0.11 sec");
    }
    SetRunCells(progress, true);
    EXPECT_EQ(progress.primeText, "1299709");
}

TEST(RunRecord, SettingSummaryReportsFastestAndMedian) {
    EXPECT_DOUBLE_EQ(MedianOf({3.0, 1.0, 2.0}), 2.0);
    EXPECT_DOUBLE_EQ(MedianOf({4.0, 1.0, 3.0, 2.0}), 2.5);
    EXPECT_DOUBLE_EQ(MedianOf({7.0}), 7.0);

    const std::vector<RunRecord> runs = {FinishedRun(k1M, 4, 2.0), FinishedRun(k1M, 4, 1.25), FinishedRun(k1M, 4, 3.0)};
    SettingResult result = SummarizeSetting(runs, 3);
    EXPECT_DOUBLE_EQ(result.minSeconds, 1.25);
    EXPECT_DOUBLE_EQ(result.medianSeconds, 2.0);
    EXPECT_EQ(result.row.timeText, " 1.25 sec");  // the row shows the fastest run
    EXPECT_EQ(result.runSeconds, (std::vector<double>{2.0, 1.25, 3.0}));
    EXPECT_FALSE(result.speedup.has_value());

    SetSpeedup(result, 4.0);
    ASSERT_TRUE(result.speedup && result.efficiency);
    EXPECT_DOUBLE_EQ(*result.speedup, 3.2);
    EXPECT_DOUBLE_EQ(*result.efficiency, 0.8);
}

TEST(RunRecord, VerificationCatchesEveryKindOfWrongResult) {
    uint32_t table[11] = {2, 3, 5, 7, 11, 13, 17, 19, 23, 29, 31};  // N = 10 and the one further prime
    const uint64_t digest = PrimesDigest(table, 10);
    auto fault = [&](uint32_t expected, uint64_t known, uint32_t index, uint32_t prime, const uint32_t* primes,
                     uint32_t lastIndex) {
        return VerifyRun(10, expected, known, index, prime, primes, lastIndex).fault;
    };
    EXPECT_EQ(fault(29, digest, 9, 29, table, 10), "");

    EXPECT_EQ(fault(29, digest, 9, 31, table, 10), "prime number 10 is 29, the search reported 31");
    EXPECT_EQ(fault(31, digest, 9, 29, table, 10), "prime number 10 is 31, the search reported 29");
    EXPECT_EQ(fault(29, digest, 8, 29, table, 10), "the search finished at index 8 instead of 9");
    EXPECT_EQ(fault(29, digest, 9, 29, table, 9), "the primes table holds 9 primes instead of 10");
    EXPECT_EQ(fault(29, digest, 9, 29, table, 11), "the primes table holds 11 primes instead of 10");
    EXPECT_EQ(fault(29, digest, 9, 29, nullptr, 10), "the primes table holds 0 primes instead of 10");
    // Any wrong slot fails the digest; the sieve names the first one.
    const struct { uint32_t table[11]; const char* fault; } wrong[] = {
        {{2, 3, 5, 11, 7, 13, 17, 19, 23, 29, 31}, "slot 3: prime number 4 is 7, the table holds 11"},   // out of order
        {{2, 3, 5, 7, 11, 11, 17, 19, 23, 29, 31}, "slot 5: prime number 6 is 13, the table holds 11"},  // merged twice
        {{2, 3, 5, 7, 11, 13, 17, 19, 23, 27, 31}, "slot 9: prime number 10 is 29, the table holds 27"}, // last slot
        {{1, 3, 5, 7, 11, 13, 17, 19, 23, 29, 31}, "slot 0: prime number 1 is 2, the table holds 1"},
    };
    for (const auto& [primes, text] : wrong) EXPECT_EQ(fault(29, digest, 9, 29, primes, 10), text);
    EXPECT_EQ(fault(29, digest + 1, 9, 29, table, 10),
              "the digest of the primes table differs from the known one, yet a sieve finds every slot right");

    // A wrong prime early on spreads to the last one: the first wrong slot is
    // named with the last prime's difference, whichever check failed first.
    const uint32_t spread[11] = {2, 3, 5, 9, 11, 13, 17, 19, 23, 31, 37};
    const RunCheck check = VerifyRun(10, 29, digest, 9, 31, spread, 11);
    EXPECT_EQ(check.fault, "slot 3: prime number 4 is 7, the table holds 9; prime number 10 is 29, the search reported "
                           "31; the primes table holds 11 primes instead of 10");
    EXPECT_EQ(check.wrongSlot, 3u);
    EXPECT_FALSE(VerifyRun(10, 29, digest, 9, 31, table, 10).wrongSlot);

    const std::string text = VerifyRun(1000000, 15485863, 0, 999999, 15485867, table, 10).fault;
    EXPECT_NE(text.find("15485863"), std::string::npos) << text;
    EXPECT_NE(text.find("15485867"), std::string::npos) << text;
}

TEST(RunRecord, KnownDigestsAndTheSieveAgreeWithAnIndependentSieve) {
    // Up to 1M here; the larger entries come from tools/nth_primes.cpp.
    const std::vector<uint32_t> primes = FirstPrimes(1000000);
    for (int i = 0; i <= 2; ++i) {
        EXPECT_EQ(PrimesDigest(primes.data(), TaskTable::taskSizes[i]), TaskTable::resultDigests[i]) << TaskTable::Label(i);
    }
    EXPECT_EQ(FirstWrongSlot(primes.data(), 1000000).fault, "");
}

TEST(ReportWriter, FieldHelpers) {
    EXPECT_EQ(CsvField("1 core"), "1 core");
    EXPECT_EQ(CsvField("a,b"), "\"a,b\"");
    EXPECT_EQ(CsvField("say \"hi\""), "\"say \"\"hi\"\"\"");
    for (double value : {0.1, 1.0 / 3.0, 12345.678901234567, 1e-9}) {
        EXPECT_EQ(std::stod(FullPrecision(value)), value) << FullPrecision(value);
    }
    EXPECT_EQ(FullPrecision(0.5), "0.5");
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
    EXPECT_NE(lines[0].find("Test CPU"), std::string::npos);
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
        if (line.rfind("# ", 0) == 0) {
            context.push_back(line);
        } else {
            rows.push_back(CsvFields(line));
        }
    }
    for (const char* key : {"# cpu: Test CPU", "# logical_processors: 4", "# os: TestOS", "# compiler: GCC 12",
                            "# flags: -O3", "# bits: 32", "# date: 2026-01-02T03:04:05Z"}) {
        bool found = false;
        for (const std::string& line : context) found = found || line.rfind(key, 0) == 0;
        EXPECT_TRUE(found) << key;
    }
    ASSERT_EQ(rows.size(), 3u);
    const std::vector<std::string>& header = rows[0];
    auto field = [&](size_t row, const std::string& name) {
        for (size_t i = 0; i < header.size(); ++i) {
            if (header[i] == name) return rows[row].at(i);
        }
        ADD_FAILURE() << "no column " << name;
        return std::string();
    };
    EXPECT_EQ(rows[1].size(), header.size());
    EXPECT_EQ(rows[2].size(), header.size());
    EXPECT_EQ(field(1, "task"), "1M");
    EXPECT_EQ(field(1, "thread_count"), "1 core");
    EXPECT_EQ(field(1, "last_prime"), "15485863");
    EXPECT_EQ(field(1, "time"), " 0.33 sec");
    EXPECT_EQ(std::stod(field(1, "seconds")), 1.0 / 3.0);
    EXPECT_EQ(std::stod(field(1, "median_seconds")), (1.0 / 3.0 + 0.5) / 2.0);
    EXPECT_EQ(field(1, "runs"), "2");
    EXPECT_EQ(field(1, "speedup"), "1");
    EXPECT_EQ(field(1, "status"), "finished");
    EXPECT_EQ(field(1, "verdict"), "verified: last prime + digest");
    EXPECT_EQ(field(2, "last_prime"), "1064953 (83.18%)");
    EXPECT_EQ(field(2, "seconds"), "0.5");
    EXPECT_EQ(field(2, "median_seconds"), "");
    EXPECT_EQ(field(2, "status"), "stopped");
    EXPECT_EQ(field(2, "verdict"), "not verified: stopped");
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
    EXPECT_EQ(results[0]["task"], "100K");
    EXPECT_EQ(results[0]["thread_count"], "2 cores");
    EXPECT_EQ(results[0]["last_prime"], "1299709");
    EXPECT_EQ(results[0]["time"], " 0.13 sec");
    EXPECT_EQ(results[0]["seconds"], 0.125);
    EXPECT_TRUE(results[0]["speedup"].is_null());
    EXPECT_EQ(results[0]["status"], "finished");
    EXPECT_EQ(results[0]["verdict"], "verified: last prime + digest");
    EXPECT_EQ(results[1]["status"], "wrong");
    EXPECT_NE(results[1]["fault"].get<std::string>().find("1299721"), std::string::npos);
    // The verdict comes last, after the results.
    const nlohmann::ordered_json ordered = nlohmann::ordered_json::parse(out.str());
    std::vector<std::string> keys;
    for (const auto& item : ordered.items()) keys.push_back(item.key());
    EXPECT_EQ(keys, (std::vector<std::string>{"context", "results", "pass", "verdict"}));
    EXPECT_EQ(document["pass"], false);
    EXPECT_EQ(document["verdict"], "FAIL: the run computed a wrong prime (prime number 100000)");
}

}  // namespace
