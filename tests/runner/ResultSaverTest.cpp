// Saves through a temporary file: a stopped run's, on a terminal, over a file, and failing.
#include <gmock/gmock.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "export/TextEncoding.h"
#include "runner/ResultSaver.h"
#include "runner/RunGridSource.h"
#include "tests/support/Runs.h"
#include "tests/support/TestFiles.h"

namespace {

namespace fs = std::filesystem;
using ::testing::EndsWith;
using ::testing::HasSubstr;
using ::testing::StartsWith;

// A saver that shows no progress, and a folder to save in.
class ResultSaverTest : public ::testing::Test {
protected:
    TempFolder temp;
    std::ostringstream err;
    ResultSaver saver{err, false};
};

TEST_F(ResultSaverTest, AStoppedRunSavesThePrimesItFoundAndItsProgressRow) {
    std::atomic<bool> interrupt{false};
    SearchDriver driver(interrupt);
    InterruptOnProgress listener(interrupt);
    const std::vector<RunRecord> runs = {driver.Run(k1M, 1, &listener)};
    ASSERT_EQ(runs[0].status, RunStatus::Stopped) << runs[0].fault;
    const uint32_t count = driver.Coordinator().lastIndex;
    ASSERT_EQ(count, runs[0].index + 1);

    const std::string primes = temp.Path("stopped.txt").string();
    ASSERT_EQ(saver.SavePrimes(primes, driver.Coordinator().primes, count), "");
    const std::string bytes = ReadBytes(primes);
    EXPECT_EQ(std::count(bytes.begin(), bytes.end(), '\n'), std::ptrdiff_t(count));
    const std::string last = std::to_string(count) + "-" + std::to_string(runs[0].prime) + "\r\n";
    EXPECT_THAT(bytes, EndsWith(last));

    RunGridSource rows(runs);
    const std::string grid = temp.Path("stopped-grid.txt").string();
    ASSERT_EQ(saver.SaveGrid(grid, rows), "");
    EXPECT_EQ(ReadBytes(grid), kBom + "1M\t\t1 core\t\t" + runs[0].primeText + "\t\t" + runs[0].timeText + "\t\t\r\n");
    EXPECT_THAT(runs[0].primeText, HasSubstr("%)"));
    EXPECT_EQ(err.str(), "");
}

TEST_F(ResultSaverTest, ProgressGoesToTheTerminalAndIsClearedAfterwards) {
    ResultSaver onTerminal(err, true);
    const std::vector<RunRecord> runs = {EndedRun(k100K, 1, 99999, 1299709, 0.05, true)};
    RunGridSource rows(runs);
    const std::string grid = temp.Path("grid.txt").string();
    ASSERT_EQ(onTerminal.SaveGrid(grid, rows), "");
    const std::string shown = err.str();
    const std::string line = "Saving " + grid + ": ";
    // Messages that arrive faster than they are shown are shown as the latest.
    const std::string first = '\r' + line;
    const std::string full = '\r' + line + "100%";
    EXPECT_THAT(shown, StartsWith(first));
    EXPECT_THAT(shown, HasSubstr(full));
    std::string cleared(line.size() + 6, ' ');
    cleared.front() = '\r';
    cleared.back() = '\r';
    EXPECT_THAT(shown, EndsWith(cleared));
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

TEST_F(ResultSaverTest, AReplacedFileKeepsItsModeAndAFailedRenameSavesNothing) {
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
    EXPECT_THAT(saver.SaveGrid(grid, rows), StartsWith("Could not save \"" + grid + "\": "));
    EXPECT_TRUE(fs::is_directory(grid));
    for (const fs::directory_entry& entry : fs::directory_iterator(temp.folder)) {
        EXPECT_NE(entry.path().extension(), ".tmp") << entry.path();
    }
}
#endif

TEST_F(ResultSaverTest, FailuresNameTheFileAndLeaveNoFileBehind) {
    const uint32_t primes[] = {2, 3, 5};
    const std::string missing = temp.Path("gone/primes.txt").string();
    EXPECT_EQ(saver.SavePrimes(missing, primes, 3), "Could not open \"" + missing + "\": " + SystemReason(ENOENT));
    EXPECT_THAT(saver.SavePrimes(temp.folder.string(), primes, 3), StartsWith("Could not open \"" + temp.folder.string()));

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
