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
    // The CPU every line shares is said once above the table.
    const std::vector<std::string> lines = Lines(table.str());
    ASSERT_GE(lines.size(), 2u);
    EXPECT_EQ(lines[0], "CPU:  Test CPU");
    std::vector<size_t> taskColumns;
    for (size_t i = 2; i < lines.size(); ++i) {
        const std::string& line = lines[i];
        EXPECT_LE(shown(line), 100u) << line;
        const size_t task = line.find(line.starts_with("ID") ? "Task" : "1M ");
        ASSERT_NE(task, std::string::npos) << line;
        taskColumns.push_back(shown(line.substr(0, task)));
    }
    EXPECT_EQ(std::count(taskColumns.begin(), taskColumns.end(), taskColumns.front()), 7) << table.str();
    EXPECT_THAT(table.str(), HasSubstr("xxx...  1M "));
    // CSV and JSON keep it whole.
    history.format = ReportFormat::Csv;
    std::ostringstream csv;
    ASSERT_EQ(RunHistory(history, csv, err), kHistoryOk);
    EXPECT_THAT(csv.str(), HasSubstr("," + longLabel + ","));
}
