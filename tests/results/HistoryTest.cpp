// history: the table of a store's invocations.
#include <gmock/gmock.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "results/History.h"
#include "results/ResultStore.h"
#include "runner/ExitCodes.h"
#include "tests/support/StoredSweep.h"
#include "tests/support/TestFiles.h"

using ::testing::HasSubstr;

TEST(History, AStopSignalEndsItWithNothingWritten) {
    TempFolder folder;
    HistoryOptions history;
    history.db = folder.Path("results.db");
    history.plot = folder.Path("chart.svg");
    ResultStore(history.db, ResultStore::Access::Append).Append(Sweep("a", 1));
    std::ostringstream out, err;
    const std::atomic<bool> interrupt{true};
    EXPECT_EQ(RunHistory(history, out, err, interrupt), kExitInterrupted);
    EXPECT_EQ(out.str() + err.str(), "");
    EXPECT_FALSE(std::filesystem::exists(history.plot));
}

TEST(History, TheTableKeepsItsColumnsForAnyLabel) {
    TempFolder folder;
    const std::string db = folder.Path("results.db");
    const std::string longLabel(10000, 'x');
    for (const std::string& label : {std::string("ünïcødé ✓"), longLabel, std::string("plain")}) {
        ResultStore(db, ResultStore::Access::Append).Append(Sweep(label, 1));
    }
    HistoryOptions history;
    history.db = db;
    std::ostringstream table, err;
    ASSERT_EQ(RunHistory(history, table, err), kHistoryOk) << err.str();
    // The characters a terminal shows: every byte but UTF-8's continuation bytes.
    auto shown = [](const std::string& text) {
        return size_t(std::count_if(text.begin(), text.end(), [](char c) { return (c & 0xC0) != 0x80; }));
    };
    std::vector<size_t> cpuColumns;
    for (const std::string& line : Lines(table.str())) {
        EXPECT_LT(shown(line), 200u) << line;
        const size_t cpu = line.find(line.starts_with("ID") ? "CPU" : "Test CPU");
        ASSERT_NE(cpu, std::string::npos) << line;
        cpuColumns.push_back(shown(line.substr(0, cpu)));
    }
    EXPECT_EQ(std::count(cpuColumns.begin(), cpuColumns.end(), cpuColumns.front()), 7) << table.str();
    EXPECT_THAT(table.str(), HasSubstr("xxx...  Test CPU"));
    // CSV and JSON keep it whole.
    history.format = ReportFormat::Csv;
    std::ostringstream csv;
    ASSERT_EQ(RunHistory(history, csv, err), kHistoryOk);
    EXPECT_THAT(csv.str(), HasSubstr("," + longLabel + ","));
}
