// What the runner hands the result store, and the store's words for
// verdicts: the parts that do not touch the database, shared by builds with
// and without SQLite.
#include <cstdlib>
#include <filesystem>
#include <system_error>

#include "engine/Text.h"
#include "results/ResultStore.h"
#include "runner/Platform.h"
#include "runner/SaveFileName.h"

std::string StorePathFrom(const std::string& dbOption) {
    if (!dbOption.empty()) return dbOption;
    const char* fromEnvironment = std::getenv("VANTREL_DB");
    return fromEnvironment != nullptr ? fromEnvironment : "";
}

std::string StoreVariableProblem(const std::string& dbOption) {
    if (!dbOption.empty() || StorePathFrom(dbOption) != ":memory:") return {};
    return "VANTREL_DB cannot name \":memory:\", SQLite's name for a database in memory, which keeps nothing; valid: "
           "a file name (the store is created on first use)";
}

StoredRun StoredRunOf(const RunRecord& run) {
    StoredRun stored;
    stored.task = run.task;
    stored.primes = run.targetCount;
    stored.threads = run.threads;
    if (run.progressed) {
        stored.seconds = run.seconds;
        stored.lastPrime = run.prime;
    }
    stored.status = run.status;
    stored.fault = run.fault;
    stored.machine = run.machine;
    stored.processor = run.processor;
    return stored;
}

const char* StoredVerdictName(RunStatus status) {
    return status == RunStatus::Finished ? "verified" : status == RunStatus::Wrong ? "wrong" : "not checked";
}

const char* SettingVerdictName(RunStatus verdict) {
    return verdict == RunStatus::Finished ? "verified" : RunStatusName(verdict);
}

RunStatus SettingVerdictNamed(const std::string& name) {
    if (name == "verified") return RunStatus::Finished;
    return RunStatusNamed(name).value_or(RunStatus::Failed);
}

std::string CommandLineText(const std::vector<std::string>& args) {
    std::string text;
    for (const std::string& arg : args) {
        if (!text.empty()) text += ' ';
        if (!arg.empty() && arg.find_first_of(" \t\r\n\"'\\") == std::string::npos) {
            text += arg;
            continue;
        }
        text += '"';
        for (char c : arg) {
            if (c == '"' || c == '\\') text += '\\';
            text += c;
        }
        text += '"';
    }
    return text;
}

std::string StoreTargetProblem(const std::string& dbPath) {
    namespace fs = std::filesystem;
    const fs::path file = FilePathOf(dbPath);
    const fs::path folder = file.parent_path().empty() ? fs::path(".") : file.parent_path();
    std::error_code error;
    const fs::file_status status = fs::status(folder, error);
    std::string why;
    if (!fs::exists(status)) {
        why = "its folder \"" + OneLine(folder.string()) + "\" does not exist";
    } else if (!fs::is_directory(status)) {
        why = "\"" + OneLine(folder.string()) + "\" is not a folder";
    } else {
        why = NotARegularFile(file);
    }
    return why.empty() ? why : "Could not store the results in \"" + OneLine(dbPath) + "\": " + why;
}

std::string StoreInvocation(const std::string& dbPath, const RunContext& context, const std::string& commandLine,
                            const std::string& label, const std::vector<RunRecord>& runs, const std::string& ended) {
    StoredInvocation invocation;
    invocation.ended = ended;
    invocation.context = context;
    invocation.commandLine = commandLine;
    invocation.label = label;
    const std::string host = platform::HostName();
    for (const RunRecord& run : runs) {
        invocation.runs.push_back(StoredRunOf(run));
        invocation.runs.back().host = host;
    }
    try {
        ResultStore store(dbPath, ResultStore::Access::Append);
        store.Append(invocation);
    } catch (const StoreError& e) {
        return e.what();
    }
    return {};
}
