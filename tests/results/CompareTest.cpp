// compare: verdicts and the regression gate on reports the runner's own JSON
// writer makes, and on invocations in the store.
#include <gmock/gmock.h>

#include <nlohmann/json.hpp>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "engine/TaskTable.h"
#include "results/Compare.h"
#include "results/JsonReport.h"
#include "results/ResultStore.h"
#include "runner/ExitCodes.h"
#include "runner/ReportWriter.h"
#include "tests/support/Runs.h"
#include "tests/support/StoredSweep.h"
#include "tests/support/TestFiles.h"

namespace {

using ::testing::AllOf;
using ::testing::HasSubstr;
using ::testing::StartsWith;

struct Setting {
    int taskIndex;
    uint16_t threads;
    std::vector<double> seconds;
};

std::string WriteReport(const TempFolder& folder, const std::string& name, const std::string& cpu,
                        const std::vector<Setting>& settings) {
    const std::string file = folder.Path(name);
    std::ofstream out(file);
    auto writer = MakeReportWriter(ReportFormat::Json, out, false, 5);
    RunContext context = SomeContext();
    context.cpu = cpu;
    writer->Begin(context);
    for (const Setting& s : settings) {
        SettingResult result;
        result.row = NewRunRecord(s.taskIndex, s.threads);
        result.row.status = RunStatus::Finished;
        result.runSeconds = s.seconds;
        writer->Row(result);
    }
    writer->End({true, "PASS: every run verified"});
    return file;
}

// A JSON list of `count` copies of `item`.
std::string ManyOf(const std::string& item, size_t count) {
    std::string list = "[";
    list.reserve(count * (item.size() + 1) + 2);
    for (size_t i = 0; i < count; ++i) list += (i == 0 ? "" : ",") + item;
    return list + "]";
}

class CompareTest : public ::testing::Test {
protected:
    void SetUp() override {
        base = WriteReport(folder, "base.json", "CPU A",
                           {{k1M, 1, {1.00, 1.01, 1.02, 1.03, 1.04}},
                            {k1M, 2, {0.50, 0.52, 0.54, 0.56, 0.58}},
                            {k1M, 4, {0.30}},
                            {k100K, 1, {0.100}}});
        next = WriteReport(folder, "new.json", "CPU B",
                           {{k10M, 1, {5.0}},
                            {k100K, 1, {0.107}},
                            {k1M, 2, {0.51, 0.53, 0.55, 0.57, 0.59}},
                            {k1M, 1, {1.10, 1.11, 1.12, 1.13, 1.14}}});
    }

    int Compare(const std::string& baseSource, const std::string& newSource, std::optional<double> gate = {},
                double alpha = 0.05, ReportFormat format = ReportFormat::Table, bool stopped = false) {
        CompareOptions options;
        options.baseSource = baseSource;
        options.newSource = newSource;
        options.failOnSlowdownPercent = gate;
        options.alpha = alpha;
        options.format = format;
        std::ostringstream outStream, errStream;
        const std::atomic<bool> interrupt{stopped};
        const int code = RunCompare(options, outStream, errStream, interrupt);
        out = outStream.str();
        err = errStream.str();
        return code;
    }

    TempFolder folder;
    std::string base, next, out, err;
};

TEST_F(CompareTest, VerdictsPerSetting) {
    ASSERT_EQ(Compare(base, next, {}, 0.05, ReportFormat::Json), kCompareOk) << err;
    EXPECT_EQ(err, "");
    const nlohmann::json document = nlohmann::json::parse(out);
    const nlohmann::json& settings = document["settings"];
    ASSERT_EQ(settings.size(), 5u);
    auto expect = [&](size_t i, const char* task, int threads, const char* verdict) {
        SCOPED_TRACE(i);
        EXPECT_EQ(settings[i]["task"], task);
        EXPECT_EQ(settings[i]["threads"], threads);
        EXPECT_EQ(settings[i]["verdict"], verdict);
    };
    expect(0, "100K", 1, "slower");  // +7 %, one run each: by the ratio alone
    EXPECT_TRUE(settings[0]["p_value"].is_null());
    expect(1, "1M", 1, "slower");    // every NEW run slower than every BASE run
    EXPECT_NEAR(settings[1]["p_value"].get<double>(), 2.0 / 252.0, 1e-12);
    EXPECT_NEAR(settings[1]["ratio"].get<double>(), 1.12 / 1.02, 1e-12);
    expect(2, "1M", 2, "no significant change");
    EXPECT_GT(settings[2]["p_value"].get<double>(), 0.05);
    expect(3, "1M", 4, "only in BASE");
    expect(4, "10M", 1, "only in NEW");

    ASSERT_EQ(Compare(base, next), kCompareOk);
    EXPECT_THAT(out, AllOf(HasSubstr("\nCPU (BASE):  CPU A, 4 logical processors\nCPU (NEW):   CPU B, 4 logical processors\n"),
                           HasSubstr("significance needs --repeat 5 or more")));
}

TEST_F(CompareTest, AStopSignalEndsItWithNothingWritten) {
    // Stored invocations are read whole; a report's read ends at the stop.
    const std::string db = folder.Path("results.db");
    ResultStore(db, ResultStore::Access::Append).Append(Sweep("a", 1));
    for (const std::string& source : {base, "db:" + db + ":last"}) {
        SCOPED_TRACE(source);
        EXPECT_EQ(Compare(source, next, {}, 0.05, ReportFormat::Json, true), kExitInterrupted);
        EXPECT_EQ(out + err, "");
    }
}

TEST_F(CompareTest, GateExitCodes) {
    // 5 %: both the tested +9.8 % and the untested +7 % trip it.
    EXPECT_EQ(Compare(base, next, 5.0), kCompareSlower);
    EXPECT_EQ(err,
              "vantrel-cli: slower by more than 5%: task 100K on 1 core, +7.0%\n"
              "vantrel-cli: slower by more than 5%: task 1M on 1 core, +9.8% (p = 0.0079)\n");
    EXPECT_EQ(Compare(base, next, 8.0), kCompareSlower);
    EXPECT_EQ(err, "vantrel-cli: slower by more than 8%: task 1M on 1 core, +9.8% (p = 0.0079)\n");
    // Slower by more than the limit, but not significantly at this alpha.
    EXPECT_EQ(Compare(base, next, 8.0, 0.005), kCompareOk) << err;
    EXPECT_EQ(Compare(base, next, 10.0), kCompareOk) << err;
    // NEW against itself: nothing is slower.
    EXPECT_EQ(Compare(next, next, 0.0), kCompareOk) << err;

    std::ofstream(folder.Path("notes.json")) << "{\"results\": 3}";
    const std::string unreadable[] = {folder.Path("missing.json"), folder.Path("notes.json"),
                                      "db:" + folder.Path("results.db").string() + ":last", "db:" + base};
    for (const std::string& source : unreadable) {
        EXPECT_EQ(Compare(base, source, 5.0), kCompareBadInput) << source;
        EXPECT_EQ(out, "");
        EXPECT_THAT(err, StartsWith("vantrel-cli: "));
        EXPECT_EQ(err.find('\n'), err.size() - 1) << err;
    }
}

TEST_F(CompareTest, StoredInvocations) {
    const std::string db = folder.Path("results.db");
    for (const std::string& report : {base, next}) {
        const ResultSet set = LoadResultSet(report);
        std::vector<RunRecord> runs;
        for (const ResultSetting& s : set.settings) {
            for (double seconds : s.seconds) {
                RunRecord run = NewRunRecord(TaskTable::Find(s.task), s.threads);
                run.progressed = true;
                run.seconds = seconds;
                run.status = RunStatus::Finished;
                runs.push_back(run);
            }
        }
        ASSERT_EQ(StoreInvocation(db, set.context, "vantrel-cli", "", runs), "");
    }
    ASSERT_EQ(Compare("db:" + db + ":last~1", "db:" + db + ":last", {}, 0.05, ReportFormat::Csv),
              kCompareOk) << err;
    // No machine was read on either side: its columns are empty.
    EXPECT_THAT(out, AllOf(HasSubstr("\n1M,1,5,5,1.02,1.12,"), HasSubstr(",slower,false,,\n")));
    EXPECT_EQ(Compare("db:" + db + ":1", "db:" + db + ":3"), kCompareBadInput);
    EXPECT_EQ(err, "vantrel-cli: Could not read \"" + db + "\": the store holds no invocation 3\n");
}

TEST_F(CompareTest, ImpossibleInputsAreRefusedNamingTheFileAndTheFault) {
    const std::string folderName = folder.Path("reports");
    std::filesystem::create_directory(folderName);
    const std::string tooLarge = folder.Path("large.json");
    std::ofstream(tooLarge) << "{}";
    std::filesystem::resize_file(tooLarge, kMaxReportBytes + 1);
    auto report = [&](const std::string& name, const std::string& text) {
        std::ofstream(folder.Path(name)) << text;
        return folder.Path(name).string();
    };
    const std::string result = R"({"results": [{"task": "1M", "threads": 2, "run_seconds": )";
    const std::pair<std::string, std::string> cases[] = {
        {report("negative.json", result + "[1.5, -2]}]}"), "task 1M on 2 cores has a run time of -2 seconds"},
        {report("zero.json", result + "[0]}]}"), "task 1M on 2 cores has a run time of 0 seconds"},
        {report("long.json", result + "[1000000001]}]}"), "task 1M on 2 cores has a run time of 1000000001 seconds"},
        {report("depth33.json", result + "[1]}], \"x\": " + std::string(kMaxReportDepth, '[') +
                                    std::string(kMaxReportDepth, ']') + "}"),
         "the file nests its JSON more than 32 levels deep"},
        {report("deep.json", result + "[1], \"x\": " + std::string(kMaxReportDepth, '[')),
         "the file nests its JSON more than 32 levels deep"},
        {report("text.json", result + "[\"1\"]}]}"),
         "the file is not a JSON report of vantrel-cli (a result without task, threads or run_seconds)"},
        {report("times.json", result + ManyOf("1", kMaxReportRunTimes + 1) + "}]}"),
         "the file holds more than 4000000 run times, more than any report of vantrel-cli"},
        {report("results.json", "{\"results\": " + ManyOf(R"({"task": "1M", "threads": 1, "run_seconds": []})",
                                                         kMaxReportResults + 1) + "}"),
         "the file holds more than 250000 results, more than any report of vantrel-cli"},
        {folderName, "it is a folder, not a JSON report"},
        {tooLarge, "the file holds 64.0 MB, more than any report of vantrel-cli (valid: at most 64.0 MB)"},
    };
    for (const auto& [file, reason] : cases) {
        SCOPED_TRACE(file);
        EXPECT_EQ(Compare(base, file), kCompareBadInput);
        EXPECT_EQ(out, "");
        EXPECT_THAT(err, StartsWith("vantrel-cli: Could not read \"" + file + "\": " + reason));
        EXPECT_EQ(err.find('\n'), err.size() - 1) << err;
    }

    // The deepest nesting taken, and the longest run time.
    const std::string deepest = report("depth32.json", result + "[1000000000]}], \"x\": " +
                                                           std::string(kMaxReportDepth - 1, '[') +
                                                           std::string(kMaxReportDepth - 1, ']') + "}");
    EXPECT_EQ(Compare(deepest, deepest), kCompareOk) << err;

    // A context out of its fields' ranges is read as no value, never converted.
    const std::string forged = report("forged.json", R"({"context": {"cpu": "CPU A", "logical_processors": -5,
        "build": {"bits": 1e20}}, "results": [{"task": "1M", "threads": 1, "run_seconds": [1.0]}]})");
    EXPECT_EQ(Compare(base, forged), kCompareOk) << err;
    EXPECT_THAT(out, AllOf(HasSubstr("\nCPU (NEW):      CPU A, 0 logical processors\n"), HasSubstr(" 0-bit\n")));

    // Another task only: nothing to compare, and no gate passed.
    const std::string other = report("other.json", R"({"results": [{"task": "1M", "threads": 3, "run_seconds": [1.0]}]})");
    EXPECT_EQ(Compare(base, other), kCompareBadInput);
    EXPECT_EQ(out, "");
    EXPECT_THAT(err, HasSubstr("not the same kind of result: they share no task and thread count (BASE 1M on 1 core, 1M on 2 "
                                 "cores, 1M on 4 cores, 100K on 1 core, NEW 1M on 3 cores)"));
}

TEST_F(CompareTest, SignificanceAtAlphaAndDirectionOfEqualMedians) {
    struct Case {
        const char* what;
        std::vector<double> base, newer;
        const char* verdict;
    };
    const Case cases[] = {
        // Two of the 25 pairs out of order: p = 8/252 = 0.032, between alpha / 2 and alpha.
        {"p between alpha / 2 and alpha", {1.00, 1.01, 1.02, 1.03, 1.04}, {1.025, 1.045, 1.05, 1.06, 1.07}, "slower"},
        {"the same, the other way", {1.025, 1.045, 1.05, 1.06, 1.07}, {1.00, 1.01, 1.02, 1.03, 1.04}, "faster"},
        // Equal medians, yet NEW's runs are mostly the slower: the U test gives the direction.
        {"equal medians", {0.5, 0.5, 0.5, 0.5, 1.0, 1.0, 1.0, 1.0, 1.0}, {1.0, 1.0, 1.0, 1.0, 1.0, 1.5, 1.5, 1.5, 1.5},
         "slower"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ResultSet baseSet, newSet;
        baseSet.settings = {{"1M", 1, c.base, RunStatus::Finished}};
        newSet.settings = {{"1M", 1, c.newer, RunStatus::Finished}};
        const std::vector<SettingComparison> compared = CompareResults(baseSet, newSet, 0.05, 5.0, {});
        ASSERT_EQ(compared.size(), 1u);
        EXPECT_EQ(compared[0].verdict, c.verdict);
        EXPECT_LT(*compared[0].pValue, 0.05);
    }
}

}  // namespace
