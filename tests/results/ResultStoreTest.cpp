// The result store: whole invocations only after a runner is killed while
// appending or a write fails half-way, runners appending at once, files that
// are not a store, readers that cannot or must not write, older stores read
// and migrated, runs stored step by step, and the queries of history and
// compare.
#include <gmock/gmock.h>

#include <sqlite3.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <functional>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "results/History.h"
#include "results/ResultSets.h"
#include "results/ResultStore.h"
#include "runner/MachineWords.h"
#include "runner/Platform.h"
#include "runner/Statistics.h"
#include "tests/support/ProcessorContexts.h"
#include "tests/support/StoredSweep.h"
#include "tests/support/TestFiles.h"

namespace {

using ::testing::AllOf;
using ::testing::HasSubstr;
using ::testing::Not;
using ::testing::StartsWith;

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

// Each test's store, "results.db" in a folder of its own.
class ResultStoreTest : public ::testing::Test {
protected:
    // Takes from `store` what the versions after `version` added, as an older
    // vantrel-cli left it: what the machine did during each run (version 5),
    // the processors (version 4), a run's host and rank (version 2).
    static void MakeOlder(const std::string& store, int version) {
        std::string sql;
        const int now = std::stoi(Sql(store, "PRAGMA user_version"));
        if (version < 5 && now >= 5) {
            sql += "ALTER TABLE invocation DROP COLUMN sensors; ALTER TABLE invocation DROP COLUMN ended; ";
            for (const char* column : {"clock_min_mhz", "clock_median_mhz", "clock_max_mhz", "clock_offered_mhz",
                                       "temperature_max_c", "hottest", "throttle_events", "other_load", "steal",
                                       "energy_joules", "processor"}) {
                sql += std::string("ALTER TABLE run DROP COLUMN ") + column + "; ";
            }
        }
        if (version < 4 && now >= 4) {
            for (const char* column : {"usable_processors", "usable_reason", "shape", "packages", "numa_nodes", "cores",
                                       "pus_per_core", "cpu_kinds", "topology_source", "bind"}) {
                sql += std::string("ALTER TABLE invocation DROP COLUMN ") + column + "; ";
            }
        }
        if (version < 2) sql += "ALTER TABLE run DROP COLUMN host; ALTER TABLE run DROP COLUMN rank; ";
        Sql(store, sql + "PRAGMA user_version = " + std::to_string(version));
    }

    TempFolder folder;
    const std::string db = folder.Path("results.db");
};

TEST_F(ResultStoreTest, RunnerKilledWhileAppendingLeavesWholeInvocationsOnly) {
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

TEST_F(ResultStoreTest, RunnersAppendingAtOnceAllSucceed) {
    // The store is not there yet: they race to create it too.
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
    // Readers who may not write use the -wal and -shm files the writers leave
    // (a connection of plain SQLite, as Sql's, removes them when it closes).
    EXPECT_EQ(std::filesystem::file_size(db + "-wal"), 0u);
    EXPECT_TRUE(std::filesystem::exists(db + "-shm"));
    EXPECT_EQ(Sql(db, "SELECT count(*) FROM invocation"), std::to_string(kRunners * kEach));
    EXPECT_EQ(Sql(db, "SELECT count(*) FROM run"), std::to_string(kRunners * kEach * 4));
    EXPECT_EQ(Sql(db, "PRAGMA journal_mode"), "wal");
}

TEST_F(ResultStoreTest, FileThatIsNoStoreGivesOneLine) {
    const std::string garbage = folder.Path("notes.db");
    std::ofstream(garbage) << std::string(4096, 'x');
    const std::string foreign = folder.Path("other.db");
    Sql(foreign, "CREATE TABLE t (x)");
    // Another program's that numbers its versions as the store does.
    const std::string versioned = folder.Path("versioned.db");
    Sql(versioned, "CREATE TABLE t (x); PRAGMA user_version = " + std::to_string(kStoreVersion));
    const std::string newer = folder.Path("newer.db");
    ResultStore(newer, ResultStore::Access::Append).Append(Sweep("a", 1));
    Sql(newer, "PRAGMA user_version = " + std::to_string(kStoreVersion + 1));

    const std::pair<std::string, std::string> cases[] = {
        {garbage, "the file is not an SQLite database"},
        {foreign, "an SQLite database of another program"},
        {versioned, "an SQLite database of another program"},
        {newer, "written by a newer vantrel-cli (store version " + std::to_string(kStoreVersion + 1) +
                    "; this one reads up to version " + std::to_string(kStoreVersion) + ")"},
        {folder.Path("missing/results.db"), "the file cannot be opened"},
    };
    for (const auto& [file, reason] : cases) {
        SCOPED_TRACE(file);
        const std::string line = StoreInvocation(file, {}, "vantrel-cli", "", {});
        EXPECT_THAT(line, AllOf(StartsWith("Could not store the results in \"" + file + "\": "), HasSubstr(reason),
                                Not(HasSubstr("\n"))));

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

TEST_F(ResultStoreTest, HistoryAndLoadSelectInvocations) {
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

TEST_F(ResultStoreTest, AFleetsHostsAndRanksGoIntoAStoreMadeBeforeThem) {
    // A store as it was before fleets: version 1, the run table without host and rank.
    ResultStore(db, ResultStore::Access::Append).Append(Sweep("runner", 1));
    MakeOlder(db, 1);
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

// What a store holds, table by table, for comparing a store before and after.
std::string Contents(const std::string& db) {
    return Sql(db, "SELECT count(*) FROM invocation") + " " + Sql(db, "SELECT count(*) FROM run") + " " +
           Sql(db, "SELECT count(*) FROM setting");
}

std::vector<std::string> FilesIn(const std::filesystem::path& folder) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) names.push_back(entry.path().filename());
    std::sort(names.begin(), names.end());
    return names;
}

// A copy of a real store of version 2, as vantrel-cli 2.0 left it: in WAL
// mode, without its -wal and -shm files. Invocation 1 has 2 runs of 100K on
// 1 thread, labelled "made by store version 2"; invocation 2 one on 1 and
// one on 2 threads.
std::string VersionTwoStore(const TempFolder& folder, const std::string& name) {
    const std::string db = folder.Path(name);
    std::filesystem::copy_file(VANTREL_RESULTS_TEST_DATA "/store-version-2.db", db);
    return db;
}

// Runs `read` as a user who may read the store but not write in its folder:
// another user where this is root (whom no permission stops), else this
// user with the folder made read-only. Its result: the number of history
// lines, or -1 when reading failed.
int ReadAsAnotherUser(const std::filesystem::path& folder, const std::function<int()>& reading) {
    int result[2];
    if (pipe(result) != 0) return -2;
    const pid_t child = fork();
    if (child == 0) {
        close(result[0]);
        if (geteuid() == 0 ? setgid(65534) != 0 || setuid(65534) != 0
                           : chmod(folder.c_str(), 0555) != 0) {
            _exit(3);
        }
        int lines = -1;
        try {
            lines = reading();
        } catch (const StoreError& e) {
            fprintf(stderr, "%s\n", e.what());
        }
        if (write(result[1], &lines, sizeof lines) != sizeof lines) _exit(4);
        _exit(0);
    }
    close(result[1]);
    int lines = -2;
    if (read(result[0], &lines, sizeof lines) != sizeof lines) lines = -2;
    close(result[0]);
    WaitFor(child, 60);
    chmod(folder.c_str(), 0755);
    return lines;
}

TEST_F(ResultStoreTest, ReadersWriteNothingWhereverTheStoreIs) {
    struct Case {
        const char* what;
        mode_t folderMode;  // 0755: others may not write in it; 01777: a shared folder
        bool olderStore;    // one of version 2, still in WAL mode
    };
    const Case cases[] = {
        {"a store in a folder the reader may not write", 0755, false},
        {"an older store in a folder the reader may not write", 0755, true},
        {"an older store in a folder all share", 01777, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TempFolder place;
        const std::string store = place.Path("results.db");
        if (c.olderStore) {
            VersionTwoStore(place, "results.db");
        } else {
            ResultStore(store, ResultStore::Access::Append).Append(Sweep("at rest", 2));
        }
        chmod(place.folder.c_str(), c.folderMode);
        const std::vector<std::string> before = FilesIn(place.folder);
        const std::string bytes = ReadBytes(store);
        const int lines = ReadAsAnotherUser(place.folder, [&] {
            ResultStore reader(store, ResultStore::Access::Read);
            const StoredInvocation last = reader.Load("last");
            return last.runs.empty() ? -1 : int(reader.History({}).size());
        });
        EXPECT_EQ(lines, c.olderStore ? 3 : 2);
        EXPECT_EQ(FilesIn(place.folder), before);
        EXPECT_EQ(ReadBytes(store), bytes);
        // And its owner stores in it as before: nothing there is the reader's.
        EXPECT_EQ(StoreInvocation(store, {}, "vantrel-cli", "after", {NewRunRecord(0, 1)}), "");
        for (const std::string& name : FilesIn(place.folder)) {
            struct stat file {};
            EXPECT_EQ(stat(place.Path(name).c_str(), &file), 0);
            EXPECT_EQ(file.st_uid, geteuid()) << name;
        }
    }
}

TEST_F(ResultStoreTest, OlderStoresAreReadAsTheyAreAndBroughtUpToDateOnFirstWrite) {
    const std::string v2 = VersionTwoStore(folder, "v2.db");
    const std::string v1 = VersionTwoStore(folder, "v1.db");
    MakeOlder(v1, 1);
    // As a fleet of version 2 would have stored them.
    Sql(v2, "UPDATE run SET host = 'node' || seq WHERE invocation_id = 1");
    for (const std::string& older : {v1, v2}) {
        SCOPED_TRACE(older);
        const std::string version = Sql(older, "PRAGMA user_version");
        const std::vector<std::string> hosts =
            older == v2 ? std::vector<std::string>{"node0", "node1"} : std::vector<std::string>{};
        {
            ResultStore store(older, ResultStore::Access::Read);
            const std::vector<HistoryLine> lines = store.History({});
            ASSERT_EQ(lines.size(), 3u);
            EXPECT_EQ(lines[2].label, "made by store version 2");
            EXPECT_EQ(lines[2].runs, 2);
            EXPECT_EQ(lines[2].hosts, hosts);
            EXPECT_EQ(store.Load("last").runs.size(), 2u);
        }
        EXPECT_EQ(Sql(older, "PRAGMA user_version"), version);

        // Deleted by hand in the sqlite3 shell, where foreign keys are off:
        // the runs and settings of invocation 2 stay behind. Stores of these
        // versions would give its id to the next invocation, which then
        // failed ("UNIQUE constraint failed") or took over its runs.
        Sql(older, "DELETE FROM invocation WHERE id = 2");
        // In one of them its settings went too: its runs alone hold its id.
        if (older == v2) Sql(older, "DELETE FROM setting WHERE invocation_id = 2");
        ResultStore(older, ResultStore::Access::Append).Append(Sweep("after the delete", 1));
        EXPECT_EQ(Sql(older, "PRAGMA user_version"), std::to_string(kStoreVersion));
        ResultStore store(older, ResultStore::Access::Read);
        const StoredInvocation last = store.Load("last");
        EXPECT_EQ(last.id, 3);
        EXPECT_EQ(last.label, "after the delete");
        EXPECT_EQ(last.runs.size(), 2u);
        EXPECT_EQ(store.Load("1").runs.size(), 2u);
        EXPECT_EQ(store.History({}).back().hosts, hosts);
        EXPECT_EQ(Contents(older), "2 4 3");  // the orphans went with the migration
        EXPECT_EQ(Sql(older, "PRAGMA foreign_key_check"), "");

        // Now with foreign keys on, as the store turns them on: the rows go with it.
        Sql(older, "PRAGMA foreign_keys = ON; DELETE FROM invocation WHERE id = 3");
        EXPECT_EQ(Contents(older), "1 2 1");
        EXPECT_EQ(ResultStore(older, ResultStore::Access::Append).Append(Sweep("next", 1)), 4);
    }
}

TEST_F(ResultStoreTest, AWriterOpenedBeforeANewerVersionsMigrationRefusesToWrite) {
    ResultStore writer(db, ResultStore::Access::Append);
    // What a newer runner's migration leaves between this writer's check and its write.
    Sql(db, "PRAGMA user_version = " + std::to_string(kStoreVersion + 1));
    EXPECT_THROW(
        try { writer.Append(Sweep("late", 1)); } catch (const StoreError& e) {
            EXPECT_THAT(e.what(), HasSubstr("written by a newer vantrel-cli"));
            throw;
        },
        StoreError);
    EXPECT_EQ(Sql(db, "SELECT count(*) FROM invocation"), "0");
}

TEST_F(ResultStoreTest, AnInvocationKeepsItsProcessorsAndAStoreOfVersion3GainsThem) {
    ResultStore(db, ResultStore::Access::Append).Append(Sweep("version 3", 1));
    MakeOlder(db, 3);
    EXPECT_EQ(ResultStore(db, ResultStore::Access::Read).Load("last").context.processors.usable, 0u);
    EXPECT_EQ(Sql(db, "PRAGMA user_version"), "3");

    StoredInvocation bound = Sweep("bound", 1);
    bound.context.processors = BoundHybridProcessors();
    ResultStore(db, ResultStore::Access::Append).Append(bound);
    EXPECT_EQ(Sql(db, "PRAGMA user_version"), std::to_string(kStoreVersion));
    ResultStore store(db, ResultStore::Access::Read);
    EXPECT_TRUE(store.Load("last").context.processors == BoundHybridProcessors());
    EXPECT_TRUE(store.Load("last~1").context.processors == ProcessorContext{});  // stated none
    // How an invocation ended is unknown before version 5, whole or not.
    const std::vector<HistoryLine> lines = store.History({});
    EXPECT_EQ(lines.front().ended, "");
    EXPECT_EQ(lines.back().ended, std::nullopt);
}

TEST_F(ResultStoreTest, ARunKeepsWhatTheMachineDidAndAStoreOfVersion4GainsIt) {
    ResultStore(db, ResultStore::Access::Append).Append(Sweep("version 4", 1));
    MakeOlder(db, 4);

    StoredInvocation hot = Sweep("hot", 1);
    hot.context.sensors = {"cpufreq", "cpufreq", "hwmon (coretemp)", "sysfs", "/proc/stat", "/proc/stat",
                           "not available here: no powercap RAPL zone", "/fixture"};
    hot.runs[1].machine = {2800.0, 3150.0, 3500.0, 3600.0, 96.0, "Package id 0", 214, 0.41, 0.09, std::nullopt};
    hot.runs[1].processor = 37;
    ResultStore(db, ResultStore::Access::Append).Append(hot);
    EXPECT_EQ(Sql(db, "PRAGMA user_version"), std::to_string(kStoreVersion));
    ResultStore store(db, ResultStore::Access::Read);
    const StoredInvocation back = store.Load("last");
    EXPECT_TRUE(back.context.sensors == hot.context.sensors);
    EXPECT_TRUE(back.runs[1].machine == hot.runs[1].machine);
    EXPECT_EQ(back.runs[1].processor, 37u);
    EXPECT_TRUE(back.runs[0].machine == SampleSummary{});
    EXPECT_TRUE(store.Load("last~1").context.sensors == SensorSources{});
    const std::vector<HistoryLine> lines = store.History({});
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(MachineBrief(lines[1].machine), "median 3.15 GHz, max 96 \u00b0C, 214 throttle events, other load 41 %, steal 9 %");
    EXPECT_EQ(MachineBrief(lines[2].machine), "");
}

TEST_F(ResultStoreTest, AReaderOfAnOlderStoreReadsWhatAWriterAddedMeanwhile) {
    VersionTwoStore(folder, "results.db");
    // Opened immutable (WAL mode, no log beside it); then a writer migrates
    // the store and adds an invocation before the reader reads.
    ResultStore reader(db, ResultStore::Access::Read);
    // Read once as it was, then again after the writer.
    ASSERT_EQ(reader.History({}).size(), 3u);
    ResultStore(db, ResultStore::Access::Append).Append(Sweep("meanwhile", 1));
    const std::vector<HistoryLine> lines = reader.History({});
    ASSERT_EQ(lines.size(), 5u);
    EXPECT_EQ(lines[0].label, "meanwhile");
    EXPECT_EQ(reader.Load("last").label, "meanwhile");
}

TEST_F(ResultStoreTest, AWriteThatFailsPartWayKeepsNothingOfIt) {
    const int64_t first = ResultStore(db, ResultStore::Access::Append).Append(Sweep("whole", 2));
    // The disk, say, fails at the third run of a write.
    Sql(db, "CREATE TRIGGER fail_third_run BEFORE INSERT ON run WHEN NEW.seq % 4 = 2 "
            "BEGIN SELECT RAISE(ABORT, 'disk I/O error'); END");
    const std::string before = Contents(db);
    const std::pair<const char*, std::function<void(ResultStore&)>> writes[] = {
        {"Append", [](ResultStore& store) { store.Append(Sweep("half", 2)); }},
        {"AppendRuns", [&](ResultStore& store) { store.AppendRuns(first, Sweep("more", 2).runs); }},
    };
    for (const auto& [name, write] : writes) {
        SCOPED_TRACE(name);
        ResultStore store(db, ResultStore::Access::Append);
        try {
            write(store);
            ADD_FAILURE() << "the write did not fail";
        } catch (const StoreError& e) {
            EXPECT_THAT(e.what(), StartsWith("Could not store the results in \"" + db + "\": "));
        }
        EXPECT_EQ(Contents(db), before);
        EXPECT_EQ(store.History({}).size(), 2u);
    }
}

TEST_F(ResultStoreTest, VerdictsOfRunsAndSettingsReadBack) {
    struct Setting {
        std::vector<RunStatus> runs;
        const char* runVerdicts;  // the run table's verdict column
        const char* setting;      // the setting table's verdict, which history's CSV and JSON give
    };
    using S = RunStatus;
    const Setting settings[] = {
        {{S::Finished, S::Finished}, "verified verified", "verified"},
        {{S::Finished, S::Wrong, S::Failed}, "verified wrong not checked", "wrong"},
        {{S::Failed, S::Wrong}, "not checked wrong", "wrong"},
        {{S::Stopped, S::Failed}, "not checked not checked", "failed"},
        {{S::Finished, S::Stopped}, "verified not checked", "stopped"},
    };
    StoredInvocation invocation = Sweep("verdicts", 0);
    for (uint16_t threads = 1; threads <= std::size(settings); ++threads) {
        for (RunStatus status : settings[threads - 1].runs) {
            StoredRun run;
            run.task = "1M";
            run.threads = threads;
            run.seconds = 1.0;
            run.status = status;
            invocation.runs.push_back(run);
        }
    }
    ResultStore(db, ResultStore::Access::Append).Append(invocation);
    ResultStore store(db, ResultStore::Access::Read);
    const std::vector<HistoryLine> lines = store.History({});
    const StoredInvocation back = store.Load("last");
    ASSERT_EQ(lines.size(), std::size(settings));
    ASSERT_EQ(back.runs.size(), invocation.runs.size());
    for (uint16_t threads = 1; threads <= std::size(settings); ++threads) {
        const Setting& s = settings[threads - 1];
        SCOPED_TRACE(s.setting);
        const std::string where = " WHERE threads = " + std::to_string(threads);
        EXPECT_EQ(Sql(db, "SELECT group_concat(verdict, ' ') FROM (SELECT verdict FROM run" + where + " ORDER BY seq)"),
                  s.runVerdicts);
        EXPECT_EQ(Sql(db, "SELECT verdict FROM setting" + where), s.setting);
        EXPECT_STREQ(SettingVerdictName(lines[threads - 1].verdict), s.setting);
    }
    for (size_t i = 0; i < invocation.runs.size(); ++i) EXPECT_EQ(back.runs[i].status, invocation.runs[i].status) << i;
}

TEST_F(ResultStoreTest, RunsStoredStepByStepReadAsOneInvocation) {
    // A fleet's settings as they complete, the first in two parts, on two hosts.
    StoredInvocation whole = Sweep("fleet", 4);
    for (size_t i = 0; i < whole.runs.size(); ++i) {
        whole.runs[i].host = "node" + std::to_string(i % 2);
        whole.runs[i].rank = int(i % 2);
    }
    const std::vector<StoredRun> oneThread(whole.runs.begin(), whole.runs.begin() + 4);
    const std::vector<StoredRun> twoThreads(whole.runs.begin() + 4, whole.runs.end());
    int64_t id = 0;
    {
        ResultStore store(db, ResultStore::Access::Append);
        id = store.Begin(whole);
        store.AppendRuns(id, {oneThread.begin(), oneThread.begin() + 3});
        store.AppendRuns(id, twoThreads);
        store.AppendRuns(id, {oneThread.begin() + 3, oneThread.end()});
        EXPECT_THROW(store.AppendRuns(id + 1, twoThreads), StoreError);
        store.Append(whole);
    }
    ResultStore store(db, ResultStore::Access::Read);
    const std::vector<HistoryLine> lines = store.History({});
    ASSERT_EQ(lines.size(), 4u);
    for (size_t i = 0; i < 2; ++i) {
        SCOPED_TRACE(i);
        const HistoryLine& stepwise = lines[2 + i];
        const HistoryLine& atOnce = lines[i];
        EXPECT_EQ(stepwise.invocation, id);
        EXPECT_EQ(stepwise.threads, atOnce.threads);  // in the order the settings first came
        EXPECT_EQ(stepwise.runs, 4);
        EXPECT_EQ(stepwise.medianSeconds, atOnce.medianSeconds);
        EXPECT_EQ(stepwise.hosts, (std::vector<std::string>{"node0", "node1"}));
    }
    const StoredInvocation back = store.Load(std::to_string(id));
    ASSERT_EQ(back.runs.size(), 8u);
    EXPECT_EQ(back.runs[3].threads, 2);  // the runs in the order they were stored
    EXPECT_EQ(back.runs[7].seconds, oneThread[3].seconds);
    EXPECT_EQ(back.runs[7].host, "node1");
    const ResultSet stepwise = LoadResultSet("db:" + db + ":" + std::to_string(id));
    const ResultSet atOnce = LoadResultSet("db:" + db + ":last");
    ASSERT_EQ(stepwise.settings.size(), 2u);
    EXPECT_EQ(stepwise.settings[0].seconds.size(), 4u);
    EXPECT_EQ(MedianOf(stepwise.settings[0].seconds), MedianOf(atOnce.settings[0].seconds));
}

TEST_F(ResultStoreTest, AStoreIsTheFileNamedNeverAnSqliteName) {
    const std::filesystem::path home = std::filesystem::current_path();
    std::filesystem::current_path(folder.folder);
    for (const char* name : {"file:x.db", "file:y.db?mode=memory", "z.db?mode=memory&cache=shared"}) {
        SCOPED_TRACE(name);
        EXPECT_EQ(StoreInvocation(name, {}, "vantrel-cli", "", {NewRunRecord(0, 1)}), "");
        EXPECT_TRUE(std::filesystem::is_regular_file(name));
        const std::vector<HistoryLine> lines = ResultStore(name, ResultStore::Access::Read).History({});
        ASSERT_EQ(lines.size(), 1u);
        EXPECT_EQ(lines[0].hosts, std::vector<std::string>{platform::HostName()});
    }
    std::filesystem::current_path(home);
    EXPECT_THAT(StoreInvocation(":memory:", {}, "vantrel-cli", "", {NewRunRecord(0, 1)}), HasSubstr("in memory"));
    HistoryOptions history;
    history.db = ":memory:";
    std::ostringstream out, err;
    EXPECT_EQ(RunHistory(history, out, err), kHistoryBadInput);
}

}  // namespace
