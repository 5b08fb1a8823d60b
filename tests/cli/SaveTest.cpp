// Saving from the runner: the rows a grid file is written from, the file
// names it takes, and real saves of small runs with the export writers.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "cli/BenchmarkSession.h"
#include "cli/RunCli.h"
#include "engine/RunText.h"
#include "engine/TaskTable.h"
#include "engine/Text.h"
#include "export/GridFile.h"
#include "export/TextEncoding.h"
#include "machine/Processors.h"
#include "runner/ResultSaver.h"
#include "runner/RunGridSource.h"
#include "runner/RunOptions.h"
#include "runner/SaveFileName.h"
#include "runner/SearchDriver.h"
#include "tests/cli/RunnerHarness.h"
#include "tests/support/TestFiles.h"

namespace {

namespace fs = std::filesystem;

constexpr int k100K = 0;
constexpr int k1M = 2;
constexpr int k10M = 7;
const std::string kBom = "\xEF\xBB\xBF";

// A run as the driver leaves it after its last notification.
RunRecord EndedRun(int taskIndex, uint16_t threads, uint32_t index, uint32_t prime, double seconds, bool finished) {
    RunRecord run = NewRunRecord(taskIndex, threads);
    run.progressed = true;
    run.index = index;
    run.prime = prime;
    run.seconds = seconds;
    SetRunCells(run, finished);
    run.status = finished ? RunStatus::Finished : RunStatus::Stopped;
    return run;
}

std::u16string Cell(RunGridSource& rows, int32_t row, int32_t column) {
    char16_t buffer[IGridSource::kCellUnits] = {};
    const char16_t* text = rows.CellText(row, column, buffer);
    return text == nullptr ? u"<none>" : std::u16string(text);
}

TEST(RunGridSource, RowsAreTheRunsInTheGridsCellTexts) {
    const std::vector<RunRecord> runs = {
        EndedRun(k100K, 1, 99999, 1299709, 0.05, true),
        EndedRun(k10M, 4, 1141835, 17842169, 0.925, false),
        EndedRun(k1M, 2, 999999, 15485863, 123.456, true),
        NewRunRecord(k1M, 1),  // stopped before its first progress
    };
    RunGridSource rows(runs);
    ASSERT_EQ(rows.RowCount(), 4);
    EXPECT_EQ(Cell(rows, 0, 0), u"100K");
    EXPECT_EQ(Cell(rows, 0, 1), u"1 core");
    EXPECT_EQ(Cell(rows, 0, 2), u"1299709");
    EXPECT_EQ(Cell(rows, 0, 3), u" 0.05 sec");
    EXPECT_EQ(Cell(rows, 1, 1), u"4 cores");
    EXPECT_EQ(Cell(rows, 1, 2), u"17842169 (11.42%)");
    EXPECT_EQ(Cell(rows, 1, 3), u" 0.93 sec");  // 0.925 rounds up, as the program shows it
    EXPECT_EQ(Cell(rows, 2, 3), u"123.46 sec");
    EXPECT_EQ(Cell(rows, 3, 2), u"");
    for (const auto& [row, column] : std::vector<std::pair<int32_t, int32_t>>{{-1, 0}, {4, 0}, {0, -1}, {0, 4}}) {
        EXPECT_EQ(Cell(rows, row, column), u"<none>") << row << ", " << column;
    }

    // The lines the grid writer makes of them, byte for byte.
    EXPECT_EQ(GridLine(rows, 0), "100K\t\t1 core\t\t1299709\t\t 0.05 sec\t\t\r\n");
    EXPECT_EQ(GridLine(rows, 1), "10M\t\t4 cores\t\t17842169 (11.42%)\t\t 0.93 sec\t\t\r\n");
    EXPECT_EQ(GridLine(rows, 3), "1M\t\t1 core\t\t\t\t\t\t\r\n");
    EXPECT_EQ(RunGridSource(std::vector<RunRecord>{}).RowCount(), 0);
}

TEST(RunGridSource, CellsAreCutWhereTheListViewCutsThem) {
    std::vector<RunRecord> runs = {NewRunRecord(k100K, 1)};
    runs[0].timeText = std::string(150, '7');
    RunGridSource rows(runs);
    EXPECT_EQ(Cell(rows, 0, 3), std::u16string(IGridSource::kCellUnits - 1, u'7'));
}

TEST(SaveFileName, JobPathsKeepTheNameOrRefuseIt) {
    EXPECT_EQ(JobPathOf("results/primes.txt"), std::wstring(L"results/primes.txt"));
    EXPECT_EQ(JobPathOf(std::string(259, 'a'))->size(), 259u);
    EXPECT_FALSE(JobPathOf(std::string(260, 'a')));
    EXPECT_FALSE(JobPathOf(""));
    EXPECT_FALSE(JobPathOf(std::string("a\0b", 3)));
#if !defined(_WIN32)
    // Characters, not bytes, count; bytes that are no UTF-8 would name another file.
    EXPECT_EQ(JobPathOf("gr\xC3\xBC\xC3\x9F.txt"), std::wstring(L"gr\u00FC\u00DF.txt"));
    std::string accented;
    for (int i = 0; i < 130; ++i) accented += "\xC3\xA9";
    EXPECT_EQ(JobPathOf(std::string(129, 'a') + accented)->size(), 259u);
    EXPECT_FALSE(JobPathOf(std::string(130, 'a') + accented));
    for (const char* bad : {"\xFF.txt", "\xC3", "\xC0\xAF", "\xED\xA0\x80", "\xF4\x90\x80\x80"}) {
        EXPECT_FALSE(JobPathOf(bad)) << bad;
    }
#endif
}

TEST(SaveFileName, ProblemsAreFoundBeforeAnythingIsWritten) {
    TempFolder temp;
    EXPECT_EQ(SaveTargetProblem(temp.Path("primes.txt").string()), "");
    EXPECT_FALSE(fs::exists(temp.Path("primes.txt").string()));

    const std::string missing = temp.Path("no-such-folder/primes.txt").string();
    EXPECT_EQ(SaveTargetProblem(missing), "Could not open \"" + missing + "\": " + SystemReason(ENOENT));
    EXPECT_EQ(SaveTargetProblem(temp.folder.string()),
              "Could not open \"" + temp.folder.string() + "\": " + SystemReason(EISDIR));
    std::ofstream(temp.Path("plain").string()) << "x";
    const std::string underFile = temp.Path("plain").string() + "/primes.txt";
    EXPECT_NE(SaveTargetProblem(underFile).find(underFile), std::string::npos);
    EXPECT_FALSE(fs::exists(temp.Path("no-such-folder").string()));

    EXPECT_EQ(OneLine("a\nb\rc\td"), "a?b?c?d");
}

// True when `text` is "%5.2f sec" of some time: spaces, digits, a point, two digits.
bool IsTimeText(const std::string& text) {
    const std::string unit = " sec";
    if (text.size() < 9 || text.compare(text.size() - unit.size(), unit.size(), unit) != 0) return false;
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
    if (text.compare(0, kBom.size(), kBom) != 0) return false;
    size_t at = kBom.size();
    for (const std::vector<std::string>& cells : rows) {
        const size_t end = text.find("\r\n", at);
        if (end == std::string::npos) return false;
        std::string line = text.substr(at, end - at);
        for (const std::string& cell : cells) {
            if (line.compare(0, cell.size() + 2, cell + "\t\t") != 0) return false;
            line.erase(0, cell.size() + 2);
        }
        if (line.size() < 2 || line.compare(line.size() - 2, 2, "\t\t") != 0) return false;
        if (!IsTimeText(line.substr(0, line.size() - 2))) return false;
        at = end + 2;
    }
    return at == text.size();
}

TEST(RunnerSave, TheTimeShapeIsCheckedStrictly) {
    EXPECT_TRUE(IsTimeText(" 0.05 sec"));
    EXPECT_TRUE(IsTimeText("123.46 sec"));
    EXPECT_FALSE(IsTimeText(" 0.5 sec"));
    EXPECT_FALSE(IsTimeText("     sec"));
    EXPECT_FALSE(IsTimeText(" 0.05 s"));
    EXPECT_TRUE(GridLinesAre(kBom + "100K\t\t1 core\t\t1299709\t\t 0.05 sec\t\t\r\n", {{"100K", "1 core", "1299709"}}));
    EXPECT_FALSE(GridLinesAre(kBom + "100K\t\t1 core\t\t1299709\t\t 0.05 sec\t\r\n", {{"100K", "1 core", "1299709"}}));
    EXPECT_FALSE(GridLinesAre("100K\t\t1 core\t\t1299709\t\t 0.05 sec\t\t\r\n", {{"100K", "1 core", "1299709"}}));
}


TEST(RunnerSave, OneHundredThousandPrimesAndTheirRow) {
    TempFolder temp;
    const std::string primes = temp.Path("primes.txt").string();
    const std::string grid = temp.Path("grid.txt").string();
    std::ofstream(primes) << std::string(2000000, 'x');  // an old, longer file is replaced

    const CliResult result = RunRunner({"--task", "100K", "--save-primes", primes, "--save-grid", grid});
    ASSERT_EQ(result.exitCode, kExitOk) << result.err;
    EXPECT_EQ(result.err, "");
    const std::string bytes = ReadBytes(primes);
    EXPECT_EQ(bytes.size(), 1399379u);
    EXPECT_EQ(bytes.compare(0, 20, "1-2\r\n2-3\r\n3-5\r\n4-7\r\n"), 0);
    EXPECT_EQ(bytes.compare(bytes.size() - 16, 16, "100000-1299709\r\n"), 0);
    EXPECT_TRUE(GridLinesAre(ReadBytes(grid), {{"100K", "1 core", "1299709"}})) << ReadBytes(grid);
}

TEST(RunnerSave, RepeatsGiveOneRowPerRunAndTheLastRunsPrimes) {
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

TEST(RunnerSave, AMissingFolderIsFoundBeforeAnyRun) {
    TempFolder temp;
    const std::string primes = temp.Path("gone/primes.txt").string();
    const CliResult result = RunRunner({"--task", "100K", "--save-primes", primes});
    EXPECT_EQ(result.exitCode, kExitFault);
    EXPECT_EQ(result.out, "");  // nothing ran, so no report
    EXPECT_EQ(result.err, "vantrel-cli: Could not open \"" + primes + "\": " + SystemReason(ENOENT) + "\n");
    EXPECT_FALSE(fs::exists(temp.Path("gone").string()));
}

TEST(RunnerSave, OneFileUnderTwoNamesIsRefusedAndALinkIsSavedThrough) {
    TempFolder temp;
    const std::string file = temp.Path("s.txt").string();
    const std::string refusal =
        "vantrel-cli: --save-primes and --save-grid name the same file; valid: two different files\n";
    auto refused = [&](const std::string& primes, const std::string& grid) {
        const CliResult result = RunRunner({"--task", "100K", "--save-primes", primes, "--save-grid", grid});
        return result.exitCode == kExitUsage && result.out.empty() && result.err.rfind(refusal, 0) == 0;
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

TEST(RunnerSave, NothingIsSavedWithoutARun) {
    TempFolder temp;
    const std::string grid = temp.Path("grid.txt").string();
    const CliResult result = RunRunner({"--task", "100K", "--save-grid", grid}, true);
    EXPECT_EQ(result.exitCode, kExitInterrupted);
    EXPECT_NE(result.err.find("\"" + grid + "\" was not saved: no run was made"), std::string::npos) << result.err;
    EXPECT_FALSE(fs::exists(grid));
}

TEST(RunnerSave, AStoppedRunSavesThePrimesItFoundAndItsProgressRow) {
    TempFolder temp;
    std::atomic<bool> interrupt{false};
    SearchDriver driver(interrupt);
    InterruptOnProgress listener(interrupt);
    const std::vector<RunRecord> runs = {driver.Run(k1M, 1, &listener)};
    ASSERT_EQ(runs[0].status, RunStatus::Stopped) << runs[0].fault;
    const uint32_t count = driver.Coordinator().lastIndex;
    ASSERT_EQ(count, runs[0].index + 1);

    std::ostringstream err;
    ResultSaver saver(err, false);
    const std::string primes = temp.Path("stopped.txt").string();
    ASSERT_EQ(saver.SavePrimes(primes, driver.Coordinator().primes, count), "");
    const std::string bytes = ReadBytes(primes);
    EXPECT_EQ(std::count(bytes.begin(), bytes.end(), '\n'), std::ptrdiff_t(count));
    const std::string last = std::to_string(count) + "-" + std::to_string(runs[0].prime) + "\r\n";
    EXPECT_EQ(bytes.compare(bytes.size() - last.size(), last.size(), last), 0) << last;

    RunGridSource rows(runs);
    const std::string grid = temp.Path("stopped-grid.txt").string();
    ASSERT_EQ(saver.SaveGrid(grid, rows), "");
    EXPECT_EQ(ReadBytes(grid), kBom + "1M\t\t1 core\t\t" + runs[0].primeText + "\t\t" + runs[0].timeText + "\t\t\r\n");
    EXPECT_NE(runs[0].primeText.find("%)"), std::string::npos);
    EXPECT_EQ(err.str(), "");
}

TEST(RunnerSave, ProgressGoesToTheTerminalAndIsClearedAfterwards) {
    TempFolder temp;
    std::ostringstream err;
    ResultSaver saver(err, true);
    const std::vector<RunRecord> runs = {EndedRun(k100K, 1, 99999, 1299709, 0.05, true)};
    RunGridSource rows(runs);
    const std::string grid = temp.Path("grid.txt").string();
    ASSERT_EQ(saver.SaveGrid(grid, rows), "");
    const std::string shown = err.str();
    const std::string line = "Saving " + grid + ": ";
    // Messages that arrive faster than they are shown are shown as the latest.
    const std::string first = '\r' + line;
    const std::string full = '\r' + line + "100%";
    EXPECT_EQ(shown.rfind(first, 0), 0u) << shown;
    EXPECT_NE(shown.find(full), std::string::npos) << shown;
    std::string cleared(line.size() + 6, ' ');
    cleared.front() = '\r';
    cleared.back() = '\r';
    EXPECT_EQ(shown.compare(shown.size() - cleared.size(), cleared.size(), cleared), 0) << shown;
}

#if !defined(_WIN32)
// Rows whose first read puts a folder where the file they are saved to was,
// as another program might: the save's final rename then fails.
class TargetTakenAway final : public IGridSource {
public:
    TargetTakenAway(const std::vector<RunRecord>& runs, fs::path target_) : rows(runs), target(std::move(target_)) {}
    int32_t RowCount() override { return rows.RowCount(); }
    const char16_t* CellText(int32_t row, int32_t column, char16_t* buffer) override {
        if (!taken) {
            taken = fs::remove(target) && fs::create_directory(target);
            EXPECT_TRUE(taken);
        }
        return rows.CellText(row, column, buffer);
    }

private:
    RunGridSource rows;
    const fs::path target;
    bool taken = false;
};

TEST(RunnerSave, AReplacedFileKeepsItsModeAndAFailedRenameSavesNothing) {
    TempFolder temp;
    std::ostringstream err;
    ResultSaver saver(err, false);
    const uint32_t primes[] = {2, 3, 5};
    const std::string kept = temp.Path("kept.txt").string();
    WriteBytes(kept, "old");
    const fs::perms mode = fs::perms::owner_read | fs::perms::owner_write | fs::perms::others_read;  // no umask's
    fs::permissions(kept, mode);
    ASSERT_EQ(saver.SavePrimes(kept, primes, 3), "");
    EXPECT_EQ(ReadBytes(kept), "1-2\r\n2-3\r\n3-5\r\n");
    EXPECT_EQ(fs::status(kept).permissions(), mode);

    const std::string grid = temp.Path("grid.txt").string();
    WriteBytes(grid, "old");
    const std::vector<RunRecord> runs = {EndedRun(k100K, 1, 99999, 1299709, 0.05, true)};
    TargetTakenAway rows(runs, grid);
    const std::string failure = saver.SaveGrid(grid, rows);
    EXPECT_EQ(failure.rfind("Could not save \"" + grid + "\": ", 0), 0u) << failure;
    EXPECT_TRUE(fs::is_directory(grid));
    for (const fs::directory_entry& entry : fs::directory_iterator(temp.folder)) {
        EXPECT_NE(entry.path().extension(), ".tmp") << entry.path();
    }
}
#endif

TEST(RunnerSave, FailuresNameTheFileAndLeaveNoFileBehind) {
    TempFolder temp;
    std::ostringstream err;
    ResultSaver saver(err, false);
    const uint32_t primes[] = {2, 3, 5};
    const std::string missing = temp.Path("gone/primes.txt").string();
    EXPECT_EQ(saver.SavePrimes(missing, primes, 3), "Could not open \"" + missing + "\": " + SystemReason(ENOENT));
    EXPECT_EQ(saver.SavePrimes(temp.folder.string(), primes, 3).find("Could not open \"" + temp.folder.string()), 0u);

#if !defined(_WIN32)
    if (fs::exists("/dev/full")) {
        const std::string failure = saver.SavePrimes("/dev/full", primes, 3);
        EXPECT_EQ(failure, "Could not write \"/dev/full\": " + SystemReason(ENOSPC));
        EXPECT_TRUE(fs::exists("/dev/full"));  // never removed: it is no regular file
    }
#endif
    // The saver is still usable after failures.
    const std::string good = temp.Path("good.txt").string();
    EXPECT_EQ(saver.SavePrimes(good, primes, 3), "");
    EXPECT_EQ(ReadBytes(good), "1-2\r\n2-3\r\n3-5\r\n");
}

}  // namespace
