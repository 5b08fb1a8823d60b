// The result store: whole invocations only after a runner is killed while
// appending, runners appending at once, files that are not a store, and the
// queries of history and compare.
#include <gtest/gtest.h>

#include <sqlite3.h>

#include <chrono>
#include <csignal>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <sys/wait.h>
#include <unistd.h>

#include "results/History.h"
#include "results/ResultStore.h"
#include "tests/support/TestFiles.h"

namespace {

// A sweep of 1M on 1 and 2 threads, `repeat` runs each; seconds
// `base`, `base` + 0.01, ... on 1 thread and half of that on 2.
StoredInvocation Sweep(const std::string& label, int repeat, double base = 1.0) {
    StoredInvocation invocation;
    invocation.context.version = "2.0";
    invocation.context.cpu = "Test CPU";
    invocation.context.logicalProcessors = 2;
    invocation.context.date = "2026-01-02T03:04:05Z";
    invocation.commandLine = "vantrel-cli --sweep --repeat " + std::to_string(repeat);
    invocation.label = label;
    for (uint16_t threads : {1, 2}) {
        for (int i = 0; i < repeat; ++i) {
            StoredRun run;
            run.task = "1M";
            run.primes = 1000000;
            run.threads = threads;
            run.seconds = (base + 0.01 * i) / threads;
            run.lastPrime = 15485863;
            run.status = RunStatus::Finished;
            invocation.runs.push_back(run);
        }
    }
    return invocation;
}

std::string Sql(const std::string& file, const std::string& sql) {
    sqlite3* db = nullptr;
    sqlite3_open(file.c_str(), &db);
    std::string value;
    sqlite3_exec(
        db, sql.c_str(),
        [](void* out, int, char** values, char**) {
            *static_cast<std::string*>(out) = values[0] != nullptr ? values[0] : "";
            return 0;
        },
        &value, nullptr);
    sqlite3_close(db);
    return value;
}

// The child's exit code, or -1 if it had to be killed after `seconds`.
int WaitFor(pid_t child, int seconds) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    int status = 0;
    while (waitpid(child, &status, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() > end) {
            kill(child, SIGKILL);
            waitpid(child, &status, 0);
            return -1;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST(ResultStoreTest, RunnerKilledWhileAppendingLeavesWholeInvocationsOnly) {
    TempFolder folder;
    const std::string db = folder.Path("results.db");
    constexpr int kRepeat = 5;  // 10 runs per invocation
    std::mt19937 random(std::random_device{}());
    for (int round = 0; round < 4; ++round) {
        // Killed after a random number of its runs are written, inside the transaction.
        const size_t stopAfter = 1 + random() % (2 * kRepeat);
        int paused[2];
        ASSERT_EQ(pipe(paused), 0);
        const pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            close(paused[0]);
            try {
                ResultStore store(db, ResultStore::Access::Append);
                store.SetAppendHook([&](size_t written) {
                    if (written != stopAfter) return;
                    const char mark = 'x';
                    if (write(paused[1], &mark, 1) == 1) pause();
                });
                store.Append(Sweep("killed", kRepeat));
            } catch (...) {
            }
            _exit(1);
        }
        close(paused[1]);
        char mark = 0;
        const ssize_t got = read(paused[0], &mark, 1);
        close(paused[0]);
        kill(child, SIGKILL);
        waitpid(child, nullptr, 0);
        ASSERT_EQ(got, 1) << "the child never reached run " << stopAfter;
        ResultStore(db, ResultStore::Access::Append).Append(Sweep("whole", kRepeat));
    }
    EXPECT_EQ(Sql(db, "PRAGMA integrity_check"), "ok");
    EXPECT_EQ(Sql(db, "SELECT count(*) FROM invocation WHERE label = 'killed'"), "0");
    EXPECT_EQ(Sql(db, "SELECT count(*) FROM run"), std::to_string(4 * 2 * kRepeat));
    ResultStore store(db, ResultStore::Access::Read);
    const std::vector<HistoryLine> lines = store.History({});
    ASSERT_EQ(lines.size(), 4u * 2);
    for (const HistoryLine& line : lines) EXPECT_EQ(line.runs, kRepeat);
}

TEST(ResultStoreTest, RunnersAppendingAtOnceAllSucceed) {
    TempFolder folder;
    const std::string db = folder.Path("results.db");  // not there yet: they race to create it too
    constexpr int kRunners = 3;
    constexpr int kEach = 15;
    int start[2];
    ASSERT_EQ(pipe(start), 0);
    std::vector<pid_t> children;
    for (int r = 0; r < kRunners; ++r) {
        const pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            close(start[1]);
            char go = 0;
            if (read(start[0], &go, 1) != 0) _exit(3);
            int failures = 0;
            for (int i = 0; i < kEach; ++i) {
                StoredInvocation invocation = Sweep("runner " + std::to_string(r), 2);
                std::vector<RunRecord> runs(4);
                for (RunRecord& run : runs) run = NewRunRecord(2, 1);
                const std::string failure = StoreInvocation(db, invocation.context, invocation.commandLine,
                                                            invocation.label, runs);
                if (!failure.empty()) {
                    fprintf(stderr, "%s\n", failure.c_str());
                    ++failures;
                }
            }
            _exit(failures == 0 ? 0 : 1);
        }
        children.push_back(child);
    }
    close(start[0]);
    close(start[1]);  // all of them go
    for (pid_t child : children) EXPECT_EQ(WaitFor(child, 60), 0);
    EXPECT_EQ(Sql(db, "SELECT count(*) FROM invocation"), std::to_string(kRunners * kEach));
    EXPECT_EQ(Sql(db, "SELECT count(*) FROM run"), std::to_string(kRunners * kEach * 4));
    // At rest, out of WAL mode and with nothing beside it: readers need no -shm.
    EXPECT_EQ(Sql(db, "PRAGMA journal_mode"), "delete");
    EXPECT_FALSE(std::filesystem::exists(db + "-wal"));
    EXPECT_FALSE(std::filesystem::exists(db + "-shm"));
}

TEST(ResultStoreTest, FileThatIsNoStoreGivesOneLine) {
    TempFolder folder;
    const std::string garbage = folder.Path("notes.db");
    std::ofstream(garbage) << std::string(4096, 'x');
    const std::string foreign = folder.Path("other.db");
    Sql(foreign, "CREATE TABLE t (x)");
    const std::string newer = folder.Path("newer.db");
    ResultStore(newer, ResultStore::Access::Append).Append(Sweep("a", 1));
    Sql(newer, "PRAGMA user_version = " + std::to_string(kStoreVersion + 1));

    const std::pair<std::string, std::string> cases[] = {
        {garbage, "the file is not an SQLite database"},
        {foreign, "an SQLite database of another program"},
        {newer, "written by a newer vantrel-cli (store version " + std::to_string(kStoreVersion + 1) +
                    "; this one reads up to version " + std::to_string(kStoreVersion) + ")"},
        {folder.Path("missing/results.db"), "the file cannot be opened"},
    };
    for (const auto& [file, reason] : cases) {
        SCOPED_TRACE(file);
        const std::string line = StoreInvocation(file, {}, "vantrel-cli", "", {});
        EXPECT_EQ(line.find("Could not store the results in \"" + file + "\": "), 0u) << line;
        EXPECT_NE(line.find(reason), std::string::npos) << line;
        EXPECT_EQ(line.find('\n'), std::string::npos);

        std::ostringstream out, err;
        HistoryOptions history;
        history.db = file;
        EXPECT_EQ(RunHistory(history, out, err), kHistoryBadInput);
        EXPECT_EQ(out.str(), "");
        EXPECT_EQ(err.str(), "vantrel-cli: Could not read \"" + file + "\": " + line.substr(line.find("\": ") + 3) + "\n");
    }
    // Nothing was written into any of them.
    EXPECT_EQ(Sql(foreign, "SELECT count(*) FROM sqlite_schema"), "1");
}

TEST(ResultStoreTest, HistoryAndLoadSelectInvocations) {
    TempFolder folder;
    const std::string db = folder.Path("results.db");
    {
        ResultStore store(db, ResultStore::Access::Append);
        store.Append(Sweep("first", 3, 1.0));
        StoredInvocation second = Sweep("second", 3, 2.0);
        second.runs.back().status = RunStatus::Stopped;
        store.Append(second);
        store.Append(Sweep("third", 1, 3.0));
    }
    ResultStore store(db, ResultStore::Access::Read);
    const std::vector<HistoryLine> all = store.History({});
    ASSERT_EQ(all.size(), 6u);
    EXPECT_EQ(all[0].label, "third");  // newest first, each in the order it ran
    EXPECT_EQ(all[0].threads, 1);
    EXPECT_EQ(all[1].threads, 2);
    EXPECT_DOUBLE_EQ(*all[2].medianSeconds, 2.01);  // median of 2.00, 2.01, 2.02
    EXPECT_EQ(all[3].verdict, RunStatus::Stopped);
    EXPECT_EQ(all[3].runs, 3);
    EXPECT_EQ(all[3].finishedRuns, 2);
    EXPECT_EQ(all[5].verdict, RunStatus::Finished);

    const std::vector<HistoryLine> some = store.History({"1M", 2, 2});
    ASSERT_EQ(some.size(), 2u);
    EXPECT_EQ(some[0].label, "third");
    EXPECT_EQ(some[1].label, "second");
    EXPECT_TRUE(store.History({"10M", {}, 0}).empty());

    EXPECT_EQ(store.Load("last").label, "third");
    EXPECT_EQ(store.Load("last~2").label, "first");
    const StoredInvocation second = store.Load(std::to_string(store.Load("last~1").id));
    EXPECT_EQ(second.label, "second");
    ASSERT_EQ(second.runs.size(), 6u);
    EXPECT_EQ(second.runs[5].status, RunStatus::Stopped);
    EXPECT_EQ(second.context.cpu, "Test CPU");
    for (const char* bad : {"last~3", "17", "newest", "last~", "-1"}) {
        EXPECT_THROW(store.Load(bad), StoreError) << bad;
    }
}

TEST(ResultStoreTest, AFleetsHostsAndRanksGoIntoAStoreMadeBeforeThem) {
    TempFolder folder;
    const std::string db = folder.Path("results.db");
    // A store as it was before fleets: version 1, the run table without host and rank.
    ResultStore(db, ResultStore::Access::Append).Append(Sweep("runner", 1));
    Sql(db, "ALTER TABLE run DROP COLUMN host; ALTER TABLE run DROP COLUMN rank; PRAGMA user_version = 1");
    ASSERT_EQ(Sql(db, "SELECT count(*) FROM pragma_table_info('run') WHERE name = 'rank'"), "0");

    StoredInvocation fleet = Sweep("fleet", 2);
    for (size_t i = 0; i < fleet.runs.size(); ++i) {
        fleet.runs[i].host = "node" + std::to_string(i % 2);
        fleet.runs[i].rank = int(i % 2);
    }
    ResultStore(db, ResultStore::Access::Append).Append(fleet);
    ResultStore(db, ResultStore::Access::Append).Append(Sweep("runner again", 1));

    ResultStore store(db, ResultStore::Access::Read);
    const StoredInvocation back = store.Load("last~1");
    ASSERT_EQ(back.runs.size(), 4u);
    EXPECT_EQ(back.runs[3].host, "node1");
    EXPECT_EQ(back.runs[3].rank, 1);
    EXPECT_FALSE(store.Load("last").runs[0].rank.has_value());
    EXPECT_FALSE(store.Load("last~2").runs[0].rank.has_value());
    // The store is of this version now, and history pools a fleet's ranks per setting.
    EXPECT_EQ(Sql(db, "PRAGMA user_version"), std::to_string(kStoreVersion));
    EXPECT_EQ(store.History({"1M", 1, 0})[1].runs, 2);
}

}  // namespace
