#include "results/ResultStore.h"

#include <sqlite3.h>

#include <algorithm>
#include <charconv>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <limits>
#include <set>
#include <string_view>
#include <thread>
#include <type_traits>
#include <utility>

#include "engine/Text.h"
#include "export/TextEncoding.h"
#include "results/StoreSchema.h"
#include "runner/JsonForms.h"
#include "runner/SaveFileName.h"
#include "runner/SettingGroups.h"
#include "runner/Statistics.h"

namespace {

// "VTRL": marks the file as this program's store (PRAGMA application_id), so
// that another program's SQLite database is told apart from an empty one.
constexpr int32_t kApplicationId = 0x5654524C;

// How long a writer waits for another runner's transaction to end.
constexpr int kBusyTimeoutMs = 15000;

// The runs of one (task, threads) of an invocation, as history shows them.
struct SettingSummary {
    int runs = 0;
    std::vector<double> finishedSeconds;
    RunStatus verdict = RunStatus::Finished;  // the worst status of its runs

    void Add(RunStatus status, std::optional<double> seconds) {
        ++runs;
        if (status == RunStatus::Finished && seconds) finishedSeconds.push_back(*seconds);
        if (Severity(status) > Severity(verdict)) verdict = status;
    }

    // How bad a run's end is for its setting's verdict: wrong, then failed, then stopped.
    static int Severity(RunStatus status) {
        switch (status) {
            case RunStatus::Finished: return 0;
            case RunStatus::Stopped: return 1;
            case RunStatus::Failed: return 2;
            case RunStatus::Wrong: return 3;
        }
        return 2;
    }
};

// The store's file as an SQLite URI, every byte but the plainest escaped:
// the name is always a file's, whatever it looks like ("file:x.db?mode=memory"
// would otherwise be a database in memory). `immutable`: see OpenForReading.
std::string UriOf(const std::string& path, bool immutable) {
    std::string uri = !path.empty() && path.front() == '/' ? "file://" : "file:";
    for (const char c : path) {
        const auto byte = static_cast<unsigned char>(c);
        if ((byte >= 'a' && byte <= 'z') || (byte >= 'A' && byte <= 'Z') || (byte >= '0' && byte <= '9') ||
            std::string_view("/-._~").find(c) != std::string_view::npos) {
            uri += c;
        } else {
            char escaped[4];
            std::snprintf(escaped, sizeof escaped, "%%%02X", byte);
            uri += escaped;
        }
    }
    return immutable ? uri + "?immutable=1" : uri;
}

// What a reader finds on disk before it opens the store.
struct FileState {
    bool walMode = false;   // the header says WAL (byte 18 is 2)
    bool walFile = false;   // a -wal file is beside it
    uintmax_t size = 0;
    std::filesystem::file_time_type modified;

    bool operator==(const FileState&) const = default;
};

FileState StateOf(const std::string& path) {
    FileState state;
    char header[20] = {};
    std::ifstream file(path, std::ios::binary);
    if (file.read(header, sizeof header) && std::string_view(header, 16) == std::string_view("SQLite format 3", 16)) {
        state.walMode = header[18] == 2;
    }
    std::error_code ignored;
    state.walFile = std::filesystem::exists(path + "-wal", ignored);
    state.size = std::filesystem::file_size(path, ignored);
    state.modified = std::filesystem::last_write_time(path, ignored);
    return state;
}

std::string ReasonFor(sqlite3* db, int code) {
    const int errorNumber = db != nullptr ? sqlite3_system_errno(db) : 0;
    const std::string system = errorNumber != 0 ? ": " + SystemReason(errorNumber) : std::string();
    if (code == SQLITE_READONLY_ROLLBACK || code == SQLITE_READONLY_RECOVERY) {
        return "a writer was stopped in the middle of a change; the next vantrel-cli that stores results in the file "
               "(--db) completes it";
    }
    switch (code & 0xff) {
        case SQLITE_NOTADB: return "the file is not an SQLite database";
        case SQLITE_CORRUPT: return "the database is damaged";
        case SQLITE_READONLY: return "the database is read-only";
        case SQLITE_FULL: return "the disk is full";
        case SQLITE_CANTOPEN: return "the file cannot be opened" + system;
        case SQLITE_PERM:
        case SQLITE_AUTH: return "permission denied";
        case SQLITE_BUSY:
        case SQLITE_LOCKED:
            return "another program kept the database locked for " + std::to_string(kBusyTimeoutMs / 1000) + " seconds";
        case SQLITE_IOERR: return "input/output error" + system;
        case SQLITE_NOMEM: return "out of memory";
        default: break;
    }
    std::string message = db != nullptr ? sqlite3_errmsg(db) : sqlite3_errstr(code);
    return OneLine(message);
}

// A prepared statement; every value goes in through a bound parameter.
class Statement {
public:
    Statement(sqlite3* db, const char* sql, const std::function<void(int)>& fail) : onError(fail) {
        const int code = sqlite3_prepare_v2(db, sql, -1, &statement, nullptr);
        if (code != SQLITE_OK) onError(code);
    }
    ~Statement() { sqlite3_finalize(statement); }
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;

    Statement& Bind(int index, const std::string& text) {
        Check(sqlite3_bind_text(statement, index, text.data(), int(text.size()), SQLITE_TRANSIENT));
        return *this;
    }
    Statement& Bind(int index, int64_t value) {
        Check(sqlite3_bind_int64(statement, index, value));
        return *this;
    }
    Statement& Bind(int index, std::optional<double> value) {
        Check(value ? sqlite3_bind_double(statement, index, *value) : sqlite3_bind_null(statement, index));
        return *this;
    }
    Statement& BindOptional(int index, std::optional<int64_t> value) {
        Check(value ? sqlite3_bind_int64(statement, index, *value) : sqlite3_bind_null(statement, index));
        return *this;
    }

    // True while there is a row to read.
    bool Step() {
        const int code = sqlite3_step(statement);
        if (code == SQLITE_ROW) return true;
        if (code != SQLITE_DONE) onError(code);
        return false;
    }
    void Run() {
        Step();
        sqlite3_reset(statement);
    }

    bool IsNull(int column) const { return sqlite3_column_type(statement, column) == SQLITE_NULL; }
    int64_t Int(int column) const { return sqlite3_column_int64(statement, column); }
    double Real(int column) const { return sqlite3_column_double(statement, column); }
    std::string Text(int column) const {
        const unsigned char* text = sqlite3_column_text(statement, column);
        return text == nullptr ? std::string() : std::string(reinterpret_cast<const char*>(text),
                                                             size_t(sqlite3_column_bytes(statement, column)));
    }

private:
    void Check(int code) {
        if (code != SQLITE_OK) onError(code);
    }

    sqlite3_stmt* statement = nullptr;
    std::function<void(int)> onError;
};

}  // namespace

bool ResultStoreAvailable() { return true; }

struct ResultStore::Impl {
    std::string path;
    Access access = Access::Read;
    std::string doing;  // "store the results in" or "read"
    sqlite3* db = nullptr;
    std::function<void(size_t)> appendHook;
    // A reader that opened the store immutable, and the file as it was then.
    bool immutable = false;
    FileState openedState;

    [[noreturn]] void Fail(const std::string& reason) const {
        throw StoreError("Could not " + doing + " \"" + OneLine(path) + "\": " + reason);
    }
    [[noreturn]] void Fail(int code) const { Fail(ReasonFor(db, code)); }

    std::function<void(int)> OnError() {
        return [this](int code) { Fail(code); };
    }

    void Exec(const char* sql) {
        const int code = sqlite3_exec(db, sql, nullptr, nullptr, nullptr);
        if (code != SQLITE_OK) Fail(code);
    }

    void Open(bool asImmutable) {
        Close();
        immutable = asImmutable;
        const int flags = access == Access::Append ? SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE : SQLITE_OPEN_READONLY;
        const int code = sqlite3_open_v2(UriOf(path, immutable).c_str(), &db, flags | SQLITE_OPEN_URI | SQLITE_OPEN_NOMUTEX,
                                         nullptr);
        if (code != SQLITE_OK) {
            const std::string reason = ReasonFor(db, code);
            Close();
            Fail(reason);
        }
        sqlite3_extended_result_codes(db, 1);
        sqlite3_busy_timeout(db, kBusyTimeoutMs);
    }

    void Close() {
        if (db != nullptr) sqlite3_close(db);
        db = nullptr;
    }

    // A reader creates no file and needs no space: on a read-only mount, in
    // a folder of another user, on a full disk, a reader that made the -wal
    // and -shm files of WAL mode would fail, or leave files that their owner
    // could then not use. Writers leave both files in place when they close
    // (UseWal), and SQLite reads a store through them, also where it may not
    // write them (SQLite 3.22 and later). A store in WAL mode
    // without them (one of an earlier version, or a copy of the file alone)
    // was closed by its last writer with everything in the file itself, and
    // is opened immutable, which creates nothing either; should a writer come
    // while it is read, the file changes, and the read is done again the
    // ordinary way (Settled).
    void OpenForReading() {
        openedState = StateOf(path);
        Open(openedState.walMode && !openedState.walFile);
    }

    // Runs `read`, again after opening the store the ordinary way when it
    // was opened immutable and a writer has changed it meanwhile.
    template <class Read>
    auto Settled(Read read) -> decltype(read()) {
        if (!immutable) return read();
        try {
            auto result = read();
            if (StateOf(path) == openedState) return result;
        } catch (const StoreError&) {
            if (StateOf(path) == openedState) throw;
        }
        Open(false);
        return read();
    }

    // Throws unless the file is this program's store of a version this
    // program reads. Its version, none for an empty database.
    std::optional<int64_t> CheckFormat() {
        // One statement, so that all three come from one state of the file
        // even while another runner creates the store.
        Statement format(db,
                         "SELECT (SELECT application_id FROM pragma_application_id), "
                         "(SELECT user_version FROM pragma_user_version), (SELECT count(*) FROM sqlite_schema)",
                         OnError());
        format.Step();
        const int64_t applicationId = format.Int(0);
        const int64_t version = format.Int(1);
        if (applicationId == 0 && version == 0 && format.Int(2) == 0) return std::nullopt;
        if (applicationId != kApplicationId) Fail("the file is an SQLite database of another program, not a result store");
        if (version > kStoreVersion) {
            Fail("the store was written by a newer vantrel-cli (store version " + std::to_string(version) +
                 "; this one reads up to version " + std::to_string(kStoreVersion) + ")");
        }
        return version;
    }

    // Makes an empty database a store of this version, or brings an older
    // store up to it, in one transaction: another runner may have done
    // either since the first look. Foreign keys are still off here, as the
    // copy of the tables needs.
    void CreateOrMigrate() {
        Exec("BEGIN IMMEDIATE");
        try {
            const std::optional<int64_t> version = CheckFormat();
            if (!version) {
                Exec(kStoreSchema);
                Exec(("PRAGMA application_id = " + std::to_string(kApplicationId)).c_str());
            } else if (*version < 3) {
                Exec(StoreMigration(HasFleetColumns()).c_str());
            } else {
                if (*version < 4 && !HasColumn("invocation", "usable_processors")) Exec(kProcessorColumns);
                if (*version < 5 && !HasColumn("run", "clock_min_mhz")) Exec(kSensorColumns);
                // Also a store of version 5 made before the column of how an
                // invocation ended was kept in the same step.
                if (*version <= 5 && !HasColumn("invocation", "ended")) Exec(kEndColumns);
            }
            Exec(("PRAGMA user_version = " + std::to_string(kStoreVersion)).c_str());
            Exec("COMMIT");
        } catch (...) {
            sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
            throw;
        }
    }

    // WAL mode, kept in the file: readers then never block the writer nor
    // the writer them. The switch needs the file to itself and does not wait
    // for that on its own, so it is tried again while other runners have
    // the new store open. The -wal and -shm files stay when the last writer
    // closes (everything checkpointed into the file, the log emptied), as
    // SQLite provides for readers who may not write them (OpenForReading).
    void UseWal() {
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(kBusyTimeoutMs);
        for (;;) {
            {
                Statement mode(db, "PRAGMA journal_mode", OnError());
                if (mode.Step() && mode.Text(0) == "wal") break;
            }
            const int code = sqlite3_exec(db, "PRAGMA journal_mode = WAL", nullptr, nullptr, nullptr);
            if (code == SQLITE_OK) break;
            if ((code & 0xff) != SQLITE_BUSY || std::chrono::steady_clock::now() > end) Fail(code);
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        int persist = 1;
        sqlite3_file_control(db, "main", SQLITE_FCNTL_PERSIST_WAL, &persist);
        Exec("PRAGMA journal_size_limit = 0");
    }

    // Whether the run table has the host and rank of fleet runs: stores of
    // version 1 made before them lack the columns until written to again.
    bool HasFleetColumns() { return HasColumn("run", "host") && HasColumn("run", "rank"); }

    bool HasColumn(const char* table, const char* column) {
        Statement columns(db, "SELECT count(*) FROM pragma_table_info(?1) WHERE name = ?2", OnError());
        columns.Bind(1, std::string(table)).Bind(2, std::string(column));
        return columns.Step() && columns.Int(0) == 1;
    }

    // The invocation row alone; inside a transaction.
    int64_t InsertInvocation(const StoredInvocation& head) {
        const RunContext& c = head.context;
        Statement insert(db,
                         "INSERT INTO invocation (version, cpu, logical_processors, os, compiler, build_type, flags, "
                         "bits, date, command_line, label, usable_processors, usable_reason, shape, packages, "
                         "numa_nodes, cores, pus_per_core, cpu_kinds, topology_source, bind, sensors, ended) VALUES "
                         "(?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9, ?10, ?11, ?12, ?13, ?14, ?15, ?16, ?17, ?18, ?19, ?20, ?21, "
                         "?22, ?23)",
                         OnError());
        insert.Bind(1, c.version).Bind(2, c.cpu).Bind(3, int64_t(c.logicalProcessors)).Bind(4, c.os);
        insert.Bind(5, c.compiler).Bind(6, c.buildType).Bind(7, c.flags).Bind(8, int64_t(c.bits)).Bind(9, c.date);
        insert.Bind(10, head.commandLine).Bind(11, head.label);
        const ProcessorContext& p = c.processors;
        auto count = [](const std::optional<uint32_t>& value) {
            return value ? std::optional<int64_t>(*value) : std::nullopt;
        };
        insert.BindOptional(12, p.usable > 0 ? std::optional<int64_t>(p.usable) : std::nullopt);
        insert.Bind(13, p.reason).Bind(14, p.shape);
        insert.BindOptional(15, count(p.packages)).BindOptional(16, count(p.numaNodes));
        insert.BindOptional(17, count(p.cores)).BindOptional(18, count(p.pusPerCore));
        insert.Bind(19, CpuKindsJson(p.kinds).dump()).Bind(20, p.topologySource).Bind(21, p.bind);
        if (c.sensors == SensorSources{}) {
            insert.BindOptional(22, std::nullopt);
        } else {
            insert.Bind(22, SensorsJson(c.sensors).dump(-1, ' ', false, nlohmann::json::error_handler_t::replace));
        }
        if (head.ended) {
            insert.Bind(23, *head.ended);
        } else {
            insert.BindOptional(23, std::nullopt);
        }
        insert.Run();
        return sqlite3_last_insert_rowid(db);
    }

    // Runs of an invocation, numbered on from those it has, and the summary
    // rows of their settings anew; inside a transaction.
    void InsertRuns(int64_t invocation, const std::vector<StoredRun>& runs) {
        Statement last(db, "SELECT coalesce(max(seq) + 1, 0) FROM run WHERE invocation_id = ?1", OnError());
        last.Bind(1, invocation);
        const int64_t first = last.Step() ? last.Int(0) : 0;
        Statement run(db,
                      "INSERT INTO run (invocation_id, seq, task, primes, threads, seconds, last_prime, verdict, status, "
                      "fault, host, rank, clock_min_mhz, clock_median_mhz, clock_max_mhz, clock_offered_mhz, "
                      "temperature_max_c, hottest, throttle_events, other_load, steal, energy_joules, processor) VALUES "
                      "(?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9, ?10, ?11, ?12, ?13, ?14, ?15, ?16, ?17, ?18, ?19, ?20, ?21, "
                      "?22, ?23)",
                      OnError());
        for (size_t i = 0; i < runs.size(); ++i) {
            const StoredRun& r = runs[i];
            run.Bind(1, invocation).Bind(2, first + int64_t(i)).Bind(3, r.task).Bind(4, int64_t(r.primes));
            run.Bind(5, int64_t(r.threads)).Bind(6, r.seconds);
            run.BindOptional(7, r.lastPrime ? std::optional<int64_t>(*r.lastPrime) : std::nullopt);
            run.Bind(8, std::string(StoredVerdictName(r.status))).Bind(9, std::string(RunStatusName(r.status)));
            run.Bind(10, r.fault);
            if (r.host.empty()) {
                run.BindOptional(11, std::nullopt);
            } else {
                run.Bind(11, r.host);
            }
            run.BindOptional(12, r.rank ? std::optional<int64_t>(*r.rank) : std::nullopt);
            const SampleSummary& m = r.machine;
            run.Bind(13, m.clockMinMhz).Bind(14, m.clockMedianMhz).Bind(15, m.clockMaxMhz).Bind(16, m.clockOfferedMhz);
            run.Bind(17, m.temperatureMaxC);
            if (m.temperatureMaxC) {
                run.Bind(18, m.hottest);
            } else {
                run.BindOptional(18, std::nullopt);
            }
            run.BindOptional(19, m.throttleEvents ? std::optional<int64_t>(int64_t(*m.throttleEvents)) : std::nullopt);
            run.Bind(20, m.otherLoad).Bind(21, m.steal).Bind(22, m.energyJoules);
            run.BindOptional(23, r.processor ? std::optional<int64_t>(*r.processor) : std::nullopt);
            run.Run();
            if (appendHook) appendHook(i + 1);
        }
        for (const std::vector<const StoredRun*>& group : GroupBySetting(runs)) {
            SummarizeSetting(invocation, group.front()->task, group.front()->threads);
        }
    }

    // The summary row of one setting, from every run of it the invocation
    // has: a setting that comes in several steps keeps one row, in its place.
    void SummarizeSetting(int64_t invocation, const std::string& task, uint16_t threads) {
        Statement runs(db,
                       "SELECT status, seconds, host FROM run WHERE invocation_id = ?1 AND task = ?2 AND threads = ?3",
                       OnError());
        runs.Bind(1, invocation).Bind(2, task).Bind(3, int64_t(threads));
        SettingSummary summary;
        std::set<std::string> hosts;
        while (runs.Step()) {
            summary.Add(RunStatusNamed(runs.Text(0)).value_or(RunStatus::Failed),
                        runs.IsNull(1) ? std::nullopt : std::optional<double>(runs.Real(1)));
            if (!runs.IsNull(2)) hosts.insert(runs.Text(2));
        }
        std::string names;
        for (const std::string& host : hosts) names += (names.empty() ? "" : ",") + host;
        Statement place(db,
                        "SELECT coalesce((SELECT seq FROM setting WHERE invocation_id = ?1 AND task = ?2 AND threads = ?3), "
                        "(SELECT coalesce(max(seq) + 1, 0) FROM setting WHERE invocation_id = ?1))",
                        OnError());
        place.Bind(1, invocation).Bind(2, task).Bind(3, int64_t(threads));
        const int64_t seq = place.Step() ? place.Int(0) : 0;
        Statement setting(db,
                          "INSERT OR REPLACE INTO setting (invocation_id, seq, task, threads, runs, finished_runs, "
                          "median_seconds, verdict, hosts) VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9)",
                          OnError());
        setting.Bind(1, invocation).Bind(2, seq).Bind(3, task).Bind(4, int64_t(threads)).Bind(5, int64_t(summary.runs));
        setting.Bind(6, int64_t(summary.finishedSeconds.size()));
        setting.Bind(7, summary.finishedSeconds.empty() ? std::nullopt
                                                        : std::optional<double>(MedianOf(summary.finishedSeconds)));
        setting.Bind(8, std::string(SettingVerdictName(summary.verdict)));
        if (names.empty()) {
            setting.BindOptional(9, std::nullopt);
        } else {
            setting.Bind(9, names);
        }
        setting.Run();
    }

    // `write` in one transaction: all of it is stored, or nothing.
    template <class Write>
    auto Transaction(Write write) -> decltype(write()) {
        Exec("BEGIN IMMEDIATE");
        try {
            // Another runner may have brought the store to a newer version
            // since this one looked: the version is read again under the
            // write lock, so that no row goes into tables this one does not
            // know.
            if (CheckFormat() != kStoreVersion) Fail("the store's version changed while it was open");
            if constexpr (std::is_void_v<decltype(write())>) {
                write();
                Exec("COMMIT");
            } else {
                auto result = write();
                Exec("COMMIT");
                return result;
            }
        } catch (...) {
            sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
            throw;
        }
    }

    int64_t IdOf(const std::string& which) {
        // Plain decimal digits only: no sign, no blanks, at most 18 of them.
        auto parse = [](const std::string& digits, int64_t& value) {
            const char* end = digits.data() + digits.size();
            const auto parsed = std::from_chars(digits.data(), end, value);
            return !digits.empty() && digits.size() <= 18 && digits.front() != '-' && parsed.ec == std::errc() &&
                   parsed.ptr == end;
        };
        int64_t number = 0;
        if (which == "last" || (which.compare(0, 5, "last~") == 0 && parse(which.substr(5), number))) {
            Statement nth(db, "SELECT id FROM invocation ORDER BY id DESC LIMIT 1 OFFSET ?1", OnError());
            nth.Bind(1, number);
            if (nth.Step()) return nth.Int(0);
            Statement count(db, "SELECT count(*) FROM invocation", OnError());
            const int64_t stored = count.Step() ? count.Int(0) : 0;
            Fail("the store holds " + std::to_string(stored) + (stored == 1 ? " invocation" : " invocations") +
                 ", so there is no " + which);
        }
        if (!parse(which, number)) Fail("\"" + OneLine(which) + "\" names no invocation (valid: ID, last, last~K)");
        Statement exists(db, "SELECT 1 FROM invocation WHERE id = ?1", OnError());
        exists.Bind(1, number);
        if (!exists.Step()) Fail("the store holds no invocation " + std::to_string(number));
        return number;
    }

    std::vector<HistoryLine> History(const HistoryQuery& query);
    StoredInvocation Load(const std::string& which);
};

ResultStore::ResultStore(const std::string& path, Access access) : impl(std::make_unique<Impl>()) {
    impl->path = path;
    impl->access = access;
    impl->doing = access == Access::Append ? "store the results in" : "read";
    if (path.empty()) impl->Fail("a store needs a file name; valid: a file name");
    if (path == ":memory:") {
        impl->Fail("that is SQLite's name for a database in memory, which keeps nothing; valid: a file name");
    }
    // Opening a FIFO waits for a writer that may never come.
    if (const std::string why = NotARegularFile(FilePathOf(path)); !why.empty()) impl->Fail(why + ", not a result store");
    try {
        if (access == Access::Append) {
            impl->Open(false);
            const std::optional<int64_t> version = impl->CheckFormat();
            // A file the user may not write is opened read-only without a word.
            if (sqlite3_db_readonly(impl->db, "main") == 1) impl->Fail(SQLITE_READONLY);
            impl->UseWal();
            if (version != kStoreVersion || !impl->HasColumn("invocation", "ended")) impl->CreateOrMigrate();
            impl->Exec("PRAGMA foreign_keys = ON");
        } else {
            impl->OpenForReading();
            if (!impl->Settled([&] { return impl->CheckFormat(); })) impl->Fail("the file holds no stored results");
        }
    } catch (...) {
        impl->Close();
        throw;
    }
}

ResultStore::~ResultStore() {
    if (impl) impl->Close();
}

void ResultStore::SetAppendHook(std::function<void(size_t)> hook) { impl->appendHook = std::move(hook); }

int64_t ResultStore::Append(const StoredInvocation& invocation) {
    return impl->Transaction([&] {
        const int64_t id = impl->InsertInvocation(invocation);
        impl->InsertRuns(id, invocation.runs);
        return id;
    });
}

int64_t ResultStore::Begin(const StoredInvocation& head) {
    return impl->Transaction([&] { return impl->InsertInvocation(head); });
}

void ResultStore::SetEnded(int64_t invocation, const std::string& ended) {
    impl->Transaction([&] {
        Statement update(impl->db, "UPDATE invocation SET ended = ?2 WHERE id = ?1", impl->OnError());
        update.Bind(1, invocation).Bind(2, ended);
        update.Run();
    });
}

void ResultStore::AppendRuns(int64_t invocation, const std::vector<StoredRun>& runs) {
    impl->Transaction([&] {
        Statement exists(impl->db, "SELECT 1 FROM invocation WHERE id = ?1", impl->OnError());
        exists.Bind(1, invocation);
        if (!exists.Step()) impl->Fail("the store holds no invocation " + std::to_string(invocation));
        impl->InsertRuns(invocation, runs);
    });
}

std::vector<HistoryLine> ResultStore::History(const HistoryQuery& query) {
    return impl->Settled([&] { return impl->History(query); });
}

StoredInvocation ResultStore::Load(const std::string& which) {
    return impl->Settled([&] { return impl->Load(which); });
}

namespace {

// A value of a store edited by hand that its field cannot hold reads as 0.
template <class T>
T Within(int64_t value) {
    return value >= int64_t(std::numeric_limits<T>::min()) && value <= int64_t(std::numeric_limits<T>::max()) ? T(value)
                                                                                                               : T{};
}

// The processors an invocation states, from columns 11 to 20 of its row.
void ReadProcessors(const Statement& head, ProcessorContext& p) {
    const auto count = [&head](int column) {
        return head.IsNull(column) ? std::nullopt : std::optional<uint32_t>(Within<uint32_t>(head.Int(column)));
    };
    p.usable = count(11).value_or(0);
    p.reason = head.Text(12);
    p.shape = head.Text(13);
    p.packages = count(14);
    p.numaNodes = count(15);
    p.cores = count(16);
    p.pusPerCore = count(17);
    p.kinds = CpuKindsOf(nlohmann::json::parse(head.Text(18), nullptr, false));
    p.topologySource = head.Text(19);
    if (!head.IsNull(20)) p.bind = head.Text(20);
}

std::optional<double> RealColumn(const Statement& row, int column) {
    return row.IsNull(column) ? std::nullopt : std::optional<double>(row.Real(column));
}

// A run's readings from columns `first` to first + 9: clock_min_mhz ...
// energy_joules, in the order of the table.
SampleSummary MachineColumns(const Statement& row, int first) {
    SampleSummary m;
    m.clockMinMhz = RealColumn(row, first);
    m.clockMedianMhz = RealColumn(row, first + 1);
    m.clockMaxMhz = RealColumn(row, first + 2);
    m.clockOfferedMhz = RealColumn(row, first + 3);
    m.temperatureMaxC = RealColumn(row, first + 4);
    m.hottest = row.Text(first + 5);
    if (!row.IsNull(first + 6) && row.Int(first + 6) >= 0) m.throttleEvents = uint64_t(row.Int(first + 6));
    m.otherLoad = RealColumn(row, first + 7);
    m.steal = RealColumn(row, first + 8);
    m.energyJoules = RealColumn(row, first + 9);
    return m;
}

std::vector<std::string> HostsOf(const std::string& names) {
    std::vector<std::string> hosts;
    for (size_t start = 0; start < names.size();) {
        const size_t comma = std::min(names.find(',', start), names.size());
        hosts.push_back(names.substr(start, comma - start));
        start = comma + 1;
    }
    std::sort(hosts.begin(), hosts.end());
    return hosts;
}

}  // namespace

std::vector<HistoryLine> ResultStore::Impl::History(const HistoryQuery& query) {
    // The invocations newest first, each with its matching settings in the
    // order they ran: the primary keys give that order, so nothing is sorted.
    // The hosts come with the summary row since version 3; a store of
    // version 2 read as it is has them in its runs alone, version 1 nowhere.
    const bool settingHosts = HasColumn("setting", "hosts");
    const std::string none = "SELECT NULL AS invocation_id, NULL AS task, NULL AS threads, NULL AS names WHERE 0";
    const std::string hosts =
        !settingHosts && HasFleetColumns() ? HostsOfSettings("run", "invocation_id IN chosen") : none;
    // What the machine did during each setting's runs, since version 5: the
    // clock's lowest, mean median and highest, the hottest reading, the
    // throttle events, the largest shares, the mean energy per run.
    const std::string machine =
        HasColumn("run", "clock_min_mhz")
            ? "SELECT invocation_id, task, threads, min(clock_min_mhz) AS clock_min, avg(clock_median_mhz) AS "
              "clock_median, max(clock_max_mhz) AS clock_max, max(clock_offered_mhz) AS offered, max(temperature_max_c) "
              "AS hottest, sum(throttle_events) AS throttle, max(other_load) AS other_load, max(steal) AS steal, "
              "avg(energy_joules) AS energy FROM run WHERE invocation_id IN chosen GROUP BY invocation_id, task, threads"
            : "SELECT NULL AS invocation_id, NULL AS task, NULL AS threads, NULL AS clock_min, NULL AS clock_median, "
              "NULL AS clock_max, NULL AS offered, NULL AS hottest, NULL AS throttle, NULL AS other_load, NULL AS steal, "
              "NULL AS energy WHERE 0";
    const std::string sql = R"sql(
        WITH chosen AS (
            SELECT id FROM invocation AS c
            WHERE (?1 IS NULL AND ?2 IS NULL) OR EXISTS (
              SELECT 1 FROM setting AS e WHERE e.invocation_id = c.id
                AND (?1 IS NULL OR e.task = ?1) AND (?2 IS NULL OR e.threads = ?2))
            ORDER BY id DESC LIMIT ?3),
          hosts AS ()sql" + hosts + R"sql(),
          machine AS ()sql" + machine + R"sql()
        SELECT i.id, i.date, i.label, i.cpu, s.task, s.threads, s.runs, s.finished_runs, s.median_seconds, s.verdict,
               )sql" + (settingHosts ? "s.hosts" : "h.names") + R"sql(, m.clock_min, m.clock_median, m.clock_max,
               m.offered, m.hottest, m.throttle, m.other_load, m.steal, m.energy, )sql" +
               (HasColumn("invocation", "ended") ? "i.ended" : "NULL") + R"sql(
        FROM invocation AS i JOIN setting AS s ON s.invocation_id = i.id
          LEFT JOIN hosts AS h ON h.invocation_id = i.id AND h.task = s.task AND h.threads = s.threads
          LEFT JOIN machine AS m ON m.invocation_id = i.id AND m.task = s.task AND m.threads = s.threads
        WHERE i.id IN chosen AND (?1 IS NULL OR s.task = ?1) AND (?2 IS NULL OR s.threads = ?2)
        ORDER BY i.id DESC, s.seq)sql";
    Statement select(db, sql.c_str(), OnError());
    if (!query.task.empty()) select.Bind(1, query.task);
    if (query.threads) select.Bind(2, int64_t(*query.threads));
    select.Bind(3, int64_t(query.last > 0 ? query.last : -1));

    std::vector<HistoryLine> lines;
    while (select.Step()) {
        HistoryLine line;
        line.invocation = select.Int(0);
        line.date = select.Text(1);
        line.label = select.Text(2);
        line.cpu = select.Text(3);
        line.task = select.Text(4);
        line.threads = Within<uint16_t>(select.Int(5));
        line.runs = Within<int>(select.Int(6));
        line.finishedRuns = Within<int>(select.Int(7));
        if (!select.IsNull(8)) line.medianSeconds = select.Real(8);
        line.verdict = SettingVerdictNamed(select.Text(9));
        line.hosts = HostsOf(select.Text(10));
        SampleSummary& m = line.machine;
        m.clockMinMhz = RealColumn(select, 11);
        m.clockMedianMhz = RealColumn(select, 12);
        m.clockMaxMhz = RealColumn(select, 13);
        m.clockOfferedMhz = RealColumn(select, 14);
        m.temperatureMaxC = RealColumn(select, 15);
        if (!select.IsNull(16) && select.Int(16) >= 0) m.throttleEvents = uint64_t(select.Int(16));
        m.otherLoad = RealColumn(select, 17);
        m.steal = RealColumn(select, 18);
        m.energyJoules = RealColumn(select, 19);
        if (!select.IsNull(20)) line.ended = select.Text(20);
        lines.push_back(std::move(line));
    }
    return lines;
}

StoredInvocation ResultStore::Impl::Load(const std::string& which) {
    // One read transaction: runs stored step by step meanwhile are all in, or none.
    Exec("BEGIN");
    try {
        StoredInvocation invocation;
        invocation.id = IdOf(which);
        // A store of version 3 or older, read as it is, states no processors.
        const bool processorColumns = HasColumn("invocation", "usable_processors");
        // And one of version 4 or older no sensors.
        const bool sensorColumns = HasColumn("run", "clock_min_mhz");
        const std::string headColumns =
            std::string("version, cpu, logical_processors, os, compiler, build_type, flags, bits, date, command_line, "
                        "label") +
            (processorColumns ? ", usable_processors, usable_reason, shape, packages, numa_nodes, cores, pus_per_core, "
                                "cpu_kinds, topology_source, bind"
                              : "") +
            (sensorColumns ? ", sensors" : "");
        Statement head(db, ("SELECT " + headColumns + " FROM invocation WHERE id = ?1").c_str(), OnError());
        head.Bind(1, invocation.id);
        if (head.Step()) {
            RunContext& c = invocation.context;
            c.version = head.Text(0);
            c.cpu = head.Text(1);
            c.logicalProcessors = Within<uint32_t>(head.Int(2));
            c.os = head.Text(3);
            c.compiler = head.Text(4);
            c.buildType = head.Text(5);
            c.flags = head.Text(6);
            c.bits = Within<int>(head.Int(7));
            c.date = head.Text(8);
            invocation.commandLine = head.Text(9);
            invocation.label = head.Text(10);
            if (processorColumns) ReadProcessors(head, c.processors);
            const int sensors = processorColumns ? 21 : 11;
            if (sensorColumns && !head.IsNull(sensors)) {
                c.sensors = SensorsOf(nlohmann::json::parse(head.Text(sensors), nullptr, false));
            }
        }
        const bool fleetColumns = HasFleetColumns();
        const std::string runColumns =
            std::string("task, primes, threads, seconds, last_prime, verdict, status, fault") +
            (fleetColumns ? ", host, rank" : ", NULL, NULL") +
            (sensorColumns ? ", clock_min_mhz, clock_median_mhz, clock_max_mhz, clock_offered_mhz, temperature_max_c, "
                             "hottest, throttle_events, other_load, steal, energy_joules, processor"
                           : "");
        Statement runs(db, ("SELECT " + runColumns + " FROM run WHERE invocation_id = ?1 ORDER BY seq").c_str(),
                       OnError());
        runs.Bind(1, invocation.id);
        while (runs.Step()) {
            StoredRun r;
            r.task = runs.Text(0);
            r.primes = Within<uint32_t>(runs.Int(1));
            r.threads = Within<uint16_t>(runs.Int(2));
            if (!runs.IsNull(3)) r.seconds = runs.Real(3);
            if (!runs.IsNull(4)) r.lastPrime = Within<uint32_t>(runs.Int(4));
            r.status = RunStatusNamed(runs.Text(6)).value_or(RunStatus::Failed);
            r.fault = runs.Text(7);
            if (fleetColumns) {
                r.host = runs.Text(8);
                if (!runs.IsNull(9)) r.rank = Within<int>(runs.Int(9));
            }
            if (sensorColumns) {
                r.machine = MachineColumns(runs, 10);
                if (!runs.IsNull(20)) r.processor = Within<uint32_t>(runs.Int(20));
            }
            invocation.runs.push_back(std::move(r));
        }
        Exec("COMMIT");
        return invocation;
    } catch (...) {
        sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
        throw;
    }
}
