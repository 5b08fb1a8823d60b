#include "runner/RunRecord.h"

#include <algorithm>

#include "engine/RunText.h"
#include "engine/TaskTable.h"
#include "runner/MachineWords.h"
#include "runner/Statistics.h"

const char* RunStatusName(RunStatus status) {
    switch (status) {
        case RunStatus::Finished: return "finished";
        case RunStatus::Stopped: return "stopped";
        case RunStatus::Wrong: return "wrong";
        case RunStatus::Failed: return "failed";
    }
    return "failed";
}

std::optional<RunStatus> RunStatusNamed(const std::string& name) {
    for (RunStatus status : {RunStatus::Finished, RunStatus::Stopped, RunStatus::Wrong, RunStatus::Failed}) {
        if (name == RunStatusName(status)) return status;
    }
    return std::nullopt;
}

const char* StatusLabel(RunStatus status) {
    switch (status) {
        case RunStatus::Finished: return "verified";
        case RunStatus::Stopped: return "stopped";
        case RunStatus::Wrong: return "WRONG RESULT";
        case RunStatus::Failed: return "FAILED";
    }
    return "FAILED";
}

RunRecord NewRunRecord(int taskIndex, uint16_t threads) {
    RunRecord record;
    record.taskIndex = taskIndex;
    record.targetCount = TaskTable::taskSizes[taskIndex];
    record.threads = threads;
    record.task = TaskTable::Label(taskIndex);
    record.threadText = ThreadCountText(threads);
    return record;
}

std::string FaultLine(const RunRecord& run, uint64_t number) {
    const std::string name = "task " + run.task + " on " + run.threadText +
                             (number > 0 ? " (run " + std::to_string(number) + ")" : "");
    if (run.status == RunStatus::Wrong) return "WRONG RESULT for " + name + ": " + run.fault;
    return "the run of " + name + " failed: " + run.fault;
}

void SetRunCells(RunRecord& record, bool finished) {
    if (!record.progressed) {
        // Like a grid row of a run stopped before its first progress message.
        record.primeText.clear();
        record.timeText.clear();
        return;
    }
    record.primeText = finished ? FinishedPrimeText(record.prime)
                                : ProgressPrimeText(record.prime, record.index, record.targetCount);
    record.timeText = TimeText(record.seconds);
}

SettingResult SummarizeSetting(const std::vector<RunRecord>& runs, int repeats) {
    SettingResult result;
    result.repeats = repeats;
    size_t fastest = 0;
    std::vector<SampleSummary> machine;
    for (size_t i = 0; i < runs.size(); ++i) {
        result.runSeconds.push_back(runs[i].seconds);
        machine.push_back(runs[i].machine);
        if (runs[i].seconds < runs[fastest].seconds) fastest = i;
    }
    result.machine = CombineSummaries(machine);
    result.row = runs[fastest];
    result.minSeconds = runs[fastest].seconds;
    result.medianSeconds = MedianOf(result.runSeconds);
    return result;
}

std::optional<double> RowSeconds(const SettingResult& result) {
    if (!result.runSeconds.empty()) return result.minSeconds;
    return result.row.progressed ? std::optional<double>(result.row.seconds) : std::nullopt;
}

std::optional<double> RowMedianSeconds(const SettingResult& result) {
    if (result.runSeconds.empty() || result.row.status == RunStatus::Stopped) return std::nullopt;
    return result.medianSeconds;
}

void SetSpeedup(SettingResult& result, double oneThreadSeconds) {
    if (result.minSeconds <= 0.0 || result.row.threads == 0) return;
    result.speedup = oneThreadSeconds / result.minSeconds;
    result.efficiency = *result.speedup / double(result.row.threads);
}
