#include "results/ResultStore.h"

#include <sqlite3.h>

#include <algorithm>
#include <charconv>
#include <chrono>
#include <thread>
#include <utility>

#include "export/TextEncoding.h"
#include "runner/SettingGroups.h"
#include "runner/Statistics.h"
#include "runner/Text.h"

namespace {

// "VTRL": marks the file as this program's store (PRAGMA application_id), so
// that another program's SQLite database is told apart from an empty one.
constexpr int32_t kApplicationId = 0x5654524C;

// How long a writer waits for another runner's transaction to end.
constexpr int kBusyTimeoutMs = 15000;

const char* const kSchema = R"sql(
CREATE TABLE invocation (
  id INTEGER PRIMARY KEY,
  version TEXT NOT NULL,
  cpu TEXT NOT NULL,
  logical_processors INTEGER NOT NULL,
  os TEXT NOT NULL,
  compiler TEXT NOT NULL,
  build_type TEXT NOT NULL,
  flags TEXT NOT NULL,
  bits INTEGER NOT NULL,
  date TEXT NOT NULL,
  command_line TEXT NOT NULL,
  label TEXT NOT NULL
);
CREATE TABLE run (
  id INTEGER PRIMARY KEY,
  invocation_id INTEGER NOT NULL REFERENCES invocation(id),
  seq INTEGER NOT NULL,
  task TEXT NOT NULL,
  primes INTEGER NOT NULL,
  threads INTEGER NOT NULL,
  seconds REAL,
  last_prime INTEGER,
  verdict TEXT NOT NULL,
  status TEXT NOT NULL,
  fault TEXT NOT NULL,
  host TEXT,
  rank INTEGER
);
CREATE INDEX run_by_invocation ON run(invocation_id, seq);
CREATE TABLE setting (
  invocation_id INTEGER NOT NULL REFERENCES invocation(id),
  seq INTEGER NOT NULL,
  task TEXT NOT NULL,
  threads INTEGER NOT NULL,
  runs INTEGER NOT NULL,
  finished_runs INTEGER NOT NULL,
  median_seconds REAL,
  verdict TEXT NOT NULL,
  PRIMARY KEY (invocation_id, seq)
) WITHOUT ROWID;
)sql";

// The runs of one (task, threads) of an invocation, as history shows them.
struct SettingSummary {
    std::string task;
    uint16_t threads = 0;
    int runs = 0;
    std::vector<double> finishedSeconds;
    RunStatus verdict = RunStatus::Finished;  // the worst status of its runs
};

// How bad a run's end is for its setting's verdict: wrong, then failed, then stopped.
int Severity(RunStatus status) {
    switch (status) {
        case RunStatus::Finished: return 0;
        case RunStatus::Stopped: return 1;
        case RunStatus::Failed: return 2;
        case RunStatus::Wrong: return 3;
    }
    return 2;
}

std::vector<SettingSummary> Summaries(const std::vector<StoredRun>& runs) {
    std::vector<SettingSummary> settings;
    for (const std::vector<const StoredRun*>& group : GroupBySetting(runs)) {
        SettingSummary summary{group.front()->task, group.front()->threads, int(group.size()), {}, RunStatus::Finished};
        for (const StoredRun* run : group) {
            if (run->status == RunStatus::Finished && run->seconds) summary.finishedSeconds.push_back(*run->seconds);
            if (Severity(run->status) > Severity(summary.verdict)) summary.verdict = run->status;
        }
        settings.push_back(std::move(summary));
    }
    return settings;
}

std::string ReasonFor(sqlite3* db, int code) {
    const int errorNumber = db != nullptr ? sqlite3_system_errno(db) : 0;
    const std::string system = errorNumber != 0 ? ": " + SystemReason(errorNumber) : std::string();
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
    std::string doing;  // "store the results in" or "read"
    sqlite3* db = nullptr;
    std::function<void(size_t)> appendHook;

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
    // either since the first look.
    void CreateOrMigrate() {
        Exec("BEGIN IMMEDIATE");
        try {
            const std::optional<int64_t> version = CheckFormat();
            if (!version) {
                Exec(kSchema);
                Exec(("PRAGMA application_id = " + std::to_string(kApplicationId)).c_str());
            } else if (*version < 2 && !HasFleetColumns()) {
                // Version 2: the run's host and rank, which fleet runs fill.
                Exec("ALTER TABLE run ADD COLUMN host TEXT");
                Exec("ALTER TABLE run ADD COLUMN rank INTEGER");
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
    // the new store open.
    void UseWal() {
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(kBusyTimeoutMs);
        for (;;) {
            {
                Statement mode(db, "PRAGMA journal_mode", OnError());
                if (mode.Step() && mode.Text(0) == "wal") return;
            }
            const int code = sqlite3_exec(db, "PRAGMA journal_mode = WAL", nullptr, nullptr, nullptr);
            if (code == SQLITE_OK) return;
            if ((code & 0xff) != SQLITE_BUSY || std::chrono::steady_clock::now() > end) Fail(code);
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
    }

    // Whether the run table has the host and rank of fleet runs: stores of
    // version 1 made before them lack the columns until written to again.
    bool HasFleetColumns() {
        Statement columns(db, "SELECT count(*) FROM pragma_table_info('run') WHERE name IN ('host', 'rank')", OnError());
        return columns.Step() && columns.Int(0) == 2;
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
};

ResultStore::ResultStore(const std::string& path, Access access) : impl(std::make_unique<Impl>()) {
    impl->path = path;
    impl->doing = access == Access::Append ? "store the results in" : "read";
    const int flags = access == Access::Append ? SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE : SQLITE_OPEN_READONLY;
    const int code = sqlite3_open_v2(path.c_str(), &impl->db, flags | SQLITE_OPEN_NOMUTEX, nullptr);
    if (code != SQLITE_OK) {
        const std::string reason = ReasonFor(impl->db, code);
        sqlite3_close(impl->db);
        impl->db = nullptr;
        impl->Fail(reason);
    }
    try {
        sqlite3_extended_result_codes(impl->db, 1);
        sqlite3_busy_timeout(impl->db, kBusyTimeoutMs);
        const std::optional<int64_t> version = impl->CheckFormat();
        if (access == Access::Append) {
            // A file the user may not write is opened read-only without a word.
            if (sqlite3_db_readonly(impl->db, "main") == 1) impl->Fail(SQLITE_READONLY);
            if (version != kStoreVersion) impl->CreateOrMigrate();
            impl->UseWal();
        } else if (!version) {
            impl->Fail("the file holds no stored results");
        }
    } catch (...) {
        sqlite3_close(impl->db);
        impl->db = nullptr;
        throw;
    }
}

ResultStore::~ResultStore() {
    if (impl && impl->db != nullptr) sqlite3_close(impl->db);
}

void ResultStore::SetAppendHook(std::function<void(size_t)> hook) { impl->appendHook = std::move(hook); }

int64_t ResultStore::Append(const StoredInvocation& invocation) {
    impl->Exec("BEGIN IMMEDIATE");
    try {
        const RunContext& c = invocation.context;
        Statement insert(impl->db,
                         "INSERT INTO invocation (version, cpu, logical_processors, os, compiler, build_type, flags, "
                         "bits, date, command_line, label) VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9, ?10, ?11)",
                         impl->OnError());
        insert.Bind(1, c.version).Bind(2, c.cpu).Bind(3, int64_t(c.logicalProcessors)).Bind(4, c.os);
        insert.Bind(5, c.compiler).Bind(6, c.buildType).Bind(7, c.flags).Bind(8, int64_t(c.bits)).Bind(9, c.date);
        insert.Bind(10, invocation.commandLine).Bind(11, invocation.label);
        insert.Run();
        const int64_t id = sqlite3_last_insert_rowid(impl->db);

        Statement run(impl->db,
                      "INSERT INTO run (invocation_id, seq, task, primes, threads, seconds, last_prime, verdict, status, "
                      "fault, host, rank) VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9, ?10, ?11, ?12)",
                      impl->OnError());
        for (size_t i = 0; i < invocation.runs.size(); ++i) {
            const StoredRun& r = invocation.runs[i];
            run.Bind(1, id).Bind(2, int64_t(i)).Bind(3, r.task).Bind(4, int64_t(r.primes)).Bind(5, int64_t(r.threads));
            run.Bind(6, r.seconds);
            run.BindOptional(7, r.lastPrime ? std::optional<int64_t>(*r.lastPrime) : std::nullopt);
            run.Bind(8, std::string(StoredVerdictName(r.status))).Bind(9, std::string(RunStatusName(r.status))).Bind(10, r.fault);
            // A runner's run leaves both NULL.
            if (r.rank) {
                run.Bind(11, r.host).Bind(12, int64_t(*r.rank));
            } else {
                run.BindOptional(11, std::nullopt).BindOptional(12, std::nullopt);
            }
            run.Run();
            if (impl->appendHook) impl->appendHook(i + 1);
        }

        Statement setting(impl->db,
                          "INSERT INTO setting (invocation_id, seq, task, threads, runs, finished_runs, median_seconds, "
                          "verdict) VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8)",
                          impl->OnError());
        const std::vector<SettingSummary> settings = Summaries(invocation.runs);
        for (size_t i = 0; i < settings.size(); ++i) {
            const SettingSummary& s = settings[i];
            setting.Bind(1, id).Bind(2, int64_t(i)).Bind(3, s.task).Bind(4, int64_t(s.threads));
            setting.Bind(5, int64_t(s.runs)).Bind(6, int64_t(s.finishedSeconds.size()));
            setting.Bind(7, s.finishedSeconds.empty() ? std::nullopt : std::optional<double>(MedianOf(s.finishedSeconds)));
            setting.Bind(8, std::string(SettingVerdictName(s.verdict)));
            setting.Run();
        }
        impl->Exec("COMMIT");
        return id;
    } catch (...) {
        sqlite3_exec(impl->db, "ROLLBACK", nullptr, nullptr, nullptr);
        throw;
    }
}

std::vector<HistoryLine> ResultStore::History(const HistoryQuery& query) {
    // The invocations newest first, each with its matching settings in the
    // order they ran: the primary keys give that order, so nothing is sorted.
    Statement select(impl->db, R"sql(
        SELECT i.id, i.date, i.label, i.cpu, s.task, s.threads, s.runs, s.finished_runs, s.median_seconds, s.verdict
        FROM invocation AS i JOIN setting AS s ON s.invocation_id = i.id
        WHERE i.id IN (
            SELECT id FROM invocation AS c
            WHERE (?1 IS NULL AND ?2 IS NULL) OR EXISTS (
              SELECT 1 FROM setting AS e WHERE e.invocation_id = c.id
                AND (?1 IS NULL OR e.task = ?1) AND (?2 IS NULL OR e.threads = ?2))
            ORDER BY id DESC LIMIT ?3)
          AND (?1 IS NULL OR s.task = ?1) AND (?2 IS NULL OR s.threads = ?2)
        ORDER BY i.id DESC, s.seq)sql",
                     impl->OnError());
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
        line.threads = uint16_t(select.Int(5));
        line.runs = int(select.Int(6));
        line.finishedRuns = int(select.Int(7));
        if (!select.IsNull(8)) line.medianSeconds = select.Real(8);
        line.verdict = SettingVerdictNamed(select.Text(9));
        lines.push_back(std::move(line));
    }
    return lines;
}

StoredInvocation ResultStore::Load(const std::string& which) {
    StoredInvocation invocation;
    invocation.id = impl->IdOf(which);
    Statement head(impl->db,
                   "SELECT version, cpu, logical_processors, os, compiler, build_type, flags, bits, date, command_line, "
                   "label FROM invocation WHERE id = ?1",
                   impl->OnError());
    head.Bind(1, invocation.id);
    if (head.Step()) {
        RunContext& c = invocation.context;
        c.version = head.Text(0);
        c.cpu = head.Text(1);
        c.logicalProcessors = uint32_t(head.Int(2));
        c.os = head.Text(3);
        c.compiler = head.Text(4);
        c.buildType = head.Text(5);
        c.flags = head.Text(6);
        c.bits = int(head.Int(7));
        c.date = head.Text(8);
        invocation.commandLine = head.Text(9);
        invocation.label = head.Text(10);
    }
    const bool fleetColumns = impl->HasFleetColumns();
    Statement runs(impl->db,
                   fleetColumns ? "SELECT task, primes, threads, seconds, last_prime, verdict, status, fault, host, rank "
                                  "FROM run WHERE invocation_id = ?1 ORDER BY seq"
                                : "SELECT task, primes, threads, seconds, last_prime, verdict, status, fault FROM run "
                                  "WHERE invocation_id = ?1 ORDER BY seq",
                   impl->OnError());
    runs.Bind(1, invocation.id);
    while (runs.Step()) {
        StoredRun r;
        r.task = runs.Text(0);
        r.primes = uint32_t(runs.Int(1));
        r.threads = uint16_t(runs.Int(2));
        if (!runs.IsNull(3)) r.seconds = runs.Real(3);
        if (!runs.IsNull(4)) r.lastPrime = uint32_t(runs.Int(4));
        r.status = RunStatusNamed(runs.Text(6)).value_or(RunStatus::Failed);
        r.fault = runs.Text(7);
        if (fleetColumns && !runs.IsNull(9)) {
            r.host = runs.Text(8);
            r.rank = int(runs.Int(9));
        }
        invocation.runs.push_back(std::move(r));
    }
    return invocation;
}
