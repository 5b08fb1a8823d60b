#include "results/ResultSets.h"

#include <new>
#include <stdexcept>

#include "engine/RunText.h"
#include "engine/Text.h"
#include "results/JsonReport.h"
#include "results/ResultStore.h"
#include "runner/MachineWords.h"
#include "runner/SaveFileName.h"
#include "runner/SettingGroups.h"

namespace {

// Thrown with the whole line: the source and why it cannot be read.
class Unreadable : public std::runtime_error {
public:
    Unreadable(const std::string& source, const std::string& reason)
        : std::runtime_error("Could not read \"" + OneLine(source) + "\": " + reason) {}
};

// A run time no run can take: none, or beyond the clock's resolution either
// way, which would make the ratio of two medians infinite.
constexpr double kMinRunSeconds = 1e-9;
constexpr double kMaxRunSeconds = 1e9;

void CheckTimes(const std::string& source, const ReportResult& result) {
    for (double seconds : result.seconds) {
        if (seconds >= kMinRunSeconds && seconds <= kMaxRunSeconds) continue;
        throw Unreadable(source, "task " + OneLine(result.task) + " on " + ThreadCountText(result.threads) +
                                     " has a run time of " + FullPrecision(seconds) +
                                     " seconds, which no run takes; valid: run times from " +
                                     FullPrecision(kMinRunSeconds) + " to " + FullPrecision(kMaxRunSeconds) +
                                     " seconds");
    }
}

// The results pooled by setting, in the order each setting first ran.
std::vector<ResultSetting> Pooled(const std::string& source, std::vector<ReportResult>& results) {
    for (const ReportResult& result : results) CheckTimes(source, result);
    std::vector<ResultSetting> settings;
    for (const std::vector<const ReportResult*>& group : GroupBySetting(results)) {
        ResultSetting setting{group.front()->task, group.front()->threads, {}, RunStatus::Finished, {}};
        std::vector<SampleSummary> machine;
        for (const ReportResult* member : group) {
            machine.push_back(member->machine);
            // Moved, not copied: a report's run times may be most of the memory used.
            ReportResult& result = results[size_t(member - results.data())];
            if (setting.seconds.empty()) {
                setting.seconds = std::move(result.seconds);
            } else {
                setting.seconds.insert(setting.seconds.end(), result.seconds.begin(), result.seconds.end());
            }
            if (result.status != RunStatus::Finished) setting.status = result.status;
        }
        setting.machine = CombineSummaries(machine);
        settings.push_back(std::move(setting));
    }
    return settings;
}

ResultSet LoadFromStore(const std::string& source) {
    const std::string rest = source.substr(3);
    const size_t colon = rest.rfind(':');
    if (colon == std::string::npos || colon == 0 || colon + 1 == rest.size()) {
        throw std::runtime_error("\"" + OneLine(source) +
                                 "\" names no stored invocation (valid: db:FILE:ID, db:FILE:last, db:FILE:last~K)");
    }
    ResultStore store(rest.substr(0, colon), ResultStore::Access::Read);
    const StoredInvocation invocation = store.Load(rest.substr(colon + 1));
    ResultSet set;
    set.source = source;
    set.id = std::to_string(invocation.id);
    set.context = invocation.context;
    set.label = invocation.label;
    std::vector<ReportResult> results;
    for (const StoredRun& run : invocation.runs) {
        ReportResult result{run.task, run.threads, {}, run.status, run.machine};
        if (run.status == RunStatus::Finished && run.seconds) result.seconds.push_back(*run.seconds);
        results.push_back(std::move(result));
    }
    set.settings = Pooled(source, results);
    return set;
}

ResultSet LoadFromReport(const std::string& source, const std::atomic<bool>* stop) {
    ReportContents contents;
    try {
        contents = ReadJsonReport(FilePathOf(source), stop);
    } catch (const ReportError& e) {
        throw Unreadable(source, e.what());
    }
    ResultSet set;
    set.source = source;
    set.context = std::move(contents.context);
    set.settings = Pooled(source, contents.results);
    return set;
}

}  // namespace

ResultSet LoadResultSet(const std::string& source, const std::atomic<bool>* stop) {
    try {
        if (source.compare(0, 3, "db:") == 0) return LoadFromStore(source);
        return LoadFromReport(source, stop);
    } catch (const std::bad_alloc&) {
        throw Unreadable(source, "there is not enough memory to read it");
    }
}
