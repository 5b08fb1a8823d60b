// The result store: an SQLite database that keeps every invocation of the
// runner given --db (its context block, command line and label) with all of
// its runs, for history and compare.
//
// Any number of runners may append to one store at once: the database is in
// WAL mode and a writer waits for another's transaction to end. An
// invocation is appended in one transaction, so a runner killed while
// appending leaves either its whole invocation or nothing. Anyone who may
// read the file reads it without creating any file or needing any space.
//
// Builds without SQLite (the Windows cross build) have the same interface;
// there every store cannot be opened and says that this build has none.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "runner/RunContext.h"
#include "runner/RunRecord.h"

// What the store keeps of one run.
struct StoredRun {
    std::string task;                  // "1M"
    uint32_t primes = 0;               // N of the task
    uint16_t threads = 0;
    std::optional<double> seconds;     // at the last notification; none before any progress
    std::optional<uint32_t> lastPrime; // the last prime reported; none before any progress
    RunStatus status = RunStatus::Failed;  // its column holds RunStatusName, its verdict StoredVerdictName
    std::string fault;                 // why a run is wrong or failed; else empty
    std::string host;        // the machine it ran on; empty: not known (runs stored before version 3)
    std::optional<int> rank; // a fleet run's rank (vantrel-mpi); none for the runner's
    SampleSummary machine;   // what the machine did while it ran; empty before version 5
    std::optional<uint32_t> processor;  // where its one worker was placed (--each-core)
};

// One invocation of the runner.
struct StoredInvocation {
    int64_t id = 0;  // given by the store
    RunContext context;
    std::string commandLine;
    std::string label;
    std::vector<StoredRun> runs;  // in the order they ran
    // How the invocation ended: empty when it ran to its end; else a line
    // ("stopped by Ctrl-C before all 4 runs were done", a fleet's FAIL);
    // none when the store did not record it (before store version 5).
    std::optional<std::string> ended = std::string();
};

// One line of history: the runs of one (invocation, task, threads).
struct HistoryLine {
    int64_t invocation = 0;
    std::string date;
    std::string label;
    std::string cpu;
    std::string task;
    uint16_t threads = 0;
    int runs = 0;                        // runs made
    int finishedRuns = 0;                // of which finished and verified
    std::optional<double> medianSeconds; // of the finished runs
    RunStatus verdict = RunStatus::Finished;  // Finished when every run was verified, else the worst run's status
    std::vector<std::string> hosts;      // where its runs ran, sorted; empty when not known
    SampleSummary machine;               // its runs' readings (CombineSummaries); empty before version 5
    std::optional<std::string> ended;    // of its invocation (see StoredInvocation)
};

struct HistoryQuery {
    std::string task;                // only this task; empty: every task
    std::optional<uint16_t> threads; // only this thread count
    int last = 0;                    // only the latest N invocations that match; 0: all
};

// One line naming the store's file and what went wrong.
class StoreError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

class ResultStore {
public:
    enum class Access {
        Append,  // created on first use; needs write access
        Read,    // the file must exist; nothing is written in it, and no file made beside it
    };

    // Opens the store, creating it for Append. `path` is a file's name as
    // given, never an SQLite URI. Throws StoreError for ":memory:", a file
    // that is not an SQLite database, a database of another program, a store
    // of a newer version, a read-only file opened for Append, or a file that
    // cannot be opened.
    ResultStore(const std::string& path, Access access);
    ~ResultStore();
    ResultStore(const ResultStore&) = delete;
    ResultStore& operator=(const ResultStore&) = delete;

    // Appends the invocation and its runs in one transaction; returns its id.
    int64_t Append(const StoredInvocation& invocation);

    // The same in steps, for runs that come in over a long time (a fleet's
    // settings): Begin stores the invocation alone (not its runs) and returns
    // its id; each AppendRuns stores runs of it and brings the summaries of
    // their settings up to date, in one transaction, numbered on from the
    // runs before. A writer killed between steps leaves the steps it made.
    int64_t Begin(const StoredInvocation& head);
    void AppendRuns(int64_t invocation, const std::vector<StoredRun>& runs);
    // Records how the invocation begun with Begin ended (see
    // StoredInvocation::ended), once its end is known.
    void SetEnded(int64_t invocation, const std::string& ended);

    // Newest first (in the order they were stored), one line per
    // (invocation, task, threads), in the order each invocation ran them.
    std::vector<HistoryLine> History(const HistoryQuery& query);

    // An invocation by "ID", "last" or "last~K" (K invocations before the last).
    StoredInvocation Load(const std::string& which);

    // For tests: called inside the append's transaction after each stored
    // run, with the number of runs of that call stored so far.
    void SetAppendHook(std::function<void(size_t)> hook);

private:
    struct Impl;
    std::unique_ptr<Impl> impl;
};

// A run's verdict as the store's column holds it: "verified", "wrong", or
// "not checked" (stopped or failed).
const char* StoredVerdictName(RunStatus status);

// A setting's verdict as the store's column and history's CSV and JSON give
// it: "verified" when every run was, else the worst run's status ("wrong",
// then "failed", then "stopped"); and back.
const char* SettingVerdictName(RunStatus verdict);
RunStatus SettingVerdictNamed(const std::string& name);

// False in a build without SQLite (the Windows cross build), where no store opens.
bool ResultStoreAvailable();

// The store's format version, kept in the file (PRAGMA user_version): 2
// since runs have a host and a rank, 3 since invocation ids are never given
// twice and an invocation's runs and settings are deleted with it, 4 since
// an invocation keeps the processors it could use and the machine's shape, 5
// since a run keeps what the machine did while it ran.
// A store of an older version is brought up to this one when it is next
// written to, and read as it is.
constexpr int kStoreVersion = 5;

// The store's file: --db if given, else the environment variable VANTREL_DB,
// else empty (nothing is stored).
std::string StorePathFrom(const std::string& dbOption);

// Why the store named by VANTREL_DB cannot be used, checked before anything
// runs as --db's value is: SQLite's ":memory:" would keep nothing. Empty when
// it can (or when --db is given, or nothing is named).
std::string StoreVariableProblem(const std::string& dbOption);

// A run as the store keeps it; its host is left to the caller.
StoredRun StoredRunOf(const RunRecord& run);

// The command line as one text: the arguments separated by spaces, each one
// that holds a space, a quote or nothing in double quotes.
std::string CommandLineText(const std::vector<std::string>& args);

// Why the store at dbPath cannot be written, found before any run: its folder
// missing or no folder, or the file a folder, FIFO or device. One line, as
// StoreInvocation says it; empty when none of these (whatever else the
// store itself may refuse is found when it is opened).
std::string StoreTargetProblem(const std::string& dbPath);

// Appends one invocation of the runner, its runs made on this machine, to the
// store at dbPath. Returns an empty string, or one line naming the file and
// the reason it could not.
std::string StoreInvocation(const std::string& dbPath, const RunContext& context, const std::string& commandLine,
                            const std::string& label, const std::vector<RunRecord>& runs,
                            const std::string& ended = {});
