#include "mpi/FleetResults.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <map>
#include <tuple>

#include "engine/TaskTable.h"
#include "engine/Text.h"
#include "runner/JsonForms.h"
#include "runner/MachineWords.h"
#include "runner/Statistics.h"

using Json = nlohmann::json;

FleetHosts FindSharedHosts(const std::vector<RankInfo>& ranks) {
    std::map<int, std::vector<int>> byNode;
    for (const RankInfo& info : ranks) byNode[info.node].push_back(info.rank);
    FleetHosts hosts;
    hosts.distinctHosts = int(byNode.size());
    hosts.sharesHost.assign(ranks.size(), false);
    for (const auto& [node, members] : byNode) {
        if (members.size() < 2) continue;
        hosts.sharedGroups.push_back(members);
        for (int rank : members) hosts.sharesHost[size_t(rank)] = true;
    }
    return hosts;
}

namespace {

// A rank's row of its runs of a setting. A rank's first run that did not
// finish ended its setting, as in the runner; a stop after finished runs
// leaves those as the row, as they were verified.
FleetRow RowOf(const RankSetting& part, int repeat) {
    FleetRow row;
    row.rank = part.rank;
    row.runs = part.runs;
    std::vector<RunRecord> finished;
    for (const RunRecord& run : part.runs) {
        if (run.status == RunStatus::Finished) finished.push_back(run);
    }
    std::vector<SampleSummary> machine;
    for (const RunRecord& run : part.runs) machine.push_back(run.machine);
    row.findings = part.findings;
    // The first run that did not finish ended a rank's setting, except when
    // it runs each of its cores in turn: that first one decides the row then.
    const auto decisive = std::find_if(part.runs.begin(), part.runs.end(), [](const RunRecord& run) {
        return run.status == RunStatus::Wrong || run.status == RunStatus::Failed;
    });
    const RunRecord& last = decisive != part.runs.end() ? *decisive : part.runs.back();
    row.stoppedAfter = last.status == RunStatus::Stopped && !finished.empty();
    row.status = row.stoppedAfter ? RunStatus::Finished : last.status;
    if (row.status == RunStatus::Finished) {
        row.result = SummarizeSetting(finished, repeat);
        row.seconds = row.result.medianSeconds;
    } else {
        row.result.row = last;
        row.result.repeats = repeat;
        for (const RunRecord& run : finished) row.result.runSeconds.push_back(run.seconds);
    }
    row.result.machine = CombineSummaries(machine);
    return row;
}

// Names the nodes that ran hot against the others, were throttled, or
// shared their processors with other programs or the hypervisor.
void NoteMachines(std::vector<FleetRow>& rows, const std::vector<bool>& sharesHost) {
    std::vector<double> temperatures;
    for (const FleetRow& row : rows) {
        if (row.result.machine.temperatureMaxC) temperatures.push_back(*row.result.machine.temperatureMaxC);
    }
    const std::optional<double> median = temperatures.size() > 1 ? std::optional<double>(MedianOf(temperatures))
                                                                  : std::nullopt;
    for (FleetRow& row : rows) {
        SampleSummary m = row.result.machine;
        if (size_t(row.rank) < sharesHost.size() && sharesHost[size_t(row.rank)]) m.otherLoad.reset();
        std::string note;
        if (median && m.temperatureMaxC && *m.temperatureMaxC >= *median + kHotterThanFleet) {
            note = "hot: " + TemperatureText(*m.temperatureMaxC) + ", fleet median " + TemperatureText(*median);
        }
        const std::string disturbed = DisturbanceText(m);
        if (!disturbed.empty()) note += (note.empty() ? "" : "; ") + disturbed;
        row.machineNote = note;
    }
}

}  // namespace

FleetSetting SummarizeFleetSetting(int taskIndex, uint16_t threads, const std::vector<RankSetting>& ranks, int repeat,
                                   double outlierPercent, const std::vector<bool>& sharesHost) {
    FleetSetting setting;
    setting.taskIndex = taskIndex;
    setting.threads = threads;
    std::vector<double> verified;
    for (const RankSetting& part : ranks) {
        if (part.runs.empty()) continue;
        setting.rows.push_back(RowOf(part, repeat));
        if (setting.rows.back().seconds) verified.push_back(*setting.rows.back().seconds);
    }
    std::sort(setting.rows.begin(), setting.rows.end(), [](const FleetRow& a, const FleetRow& b) { return a.rank < b.rank; });
    NoteMachines(setting.rows, sharesHost);
    setting.verified = int(verified.size());
    if (verified.empty()) return setting;

    setting.minSeconds = *std::min_element(verified.begin(), verified.end());
    setting.maxSeconds = *std::max_element(verified.begin(), verified.end());
    setting.medianSeconds = MedianOf(verified);
    if (setting.medianSeconds <= 0.0) return setting;  // too fast to tell ranks apart
    setting.spreadPercent = (setting.maxSeconds - setting.minSeconds) / setting.medianSeconds * 100.0;
    for (FleetRow& row : setting.rows) {
        if (!row.seconds) continue;
        row.slowerPercent = (*row.seconds - setting.medianSeconds) / setting.medianSeconds * 100.0;
        row.outlier = *row.slowerPercent > outlierPercent;
    }
    return setting;
}

std::vector<FleetFailure> FailuresOf(const FleetSetting& setting) {
    std::vector<FleetFailure> failures;
    for (const FleetRow& row : setting.rows) {
        if (row.status == RunStatus::Wrong || row.status == RunStatus::Failed) {
            failures.push_back({row.rank, row.result.row, TaskTable::lastPrimes[setting.taskIndex]});
        }
    }
    return failures;
}

void FleetTally::Add(const FleetSetting& setting) {
    ++settings;
    for (const FleetFailure& failure : FailuresOf(setting)) failures.push_back(failure);
    for (const FleetRow& row : setting.rows) {
        for (const RunRecord& run : row.runs) {
            ++runs;
            verifiedRuns += run.status == RunStatus::Finished ? 1 : 0;
            stoppedRuns += run.status == RunStatus::Stopped ? 1 : 0;
        }
        if (row.status == RunStatus::Stopped || row.stoppedAfter) stopped = true;
        if (row.outlier) ++outliers;
    }
}

std::vector<FailureGroup> GroupFailures(const std::vector<FleetFailure>& failures) {
    std::vector<FailureGroup> groups;
    std::map<std::tuple<RunStatus, int, uint16_t, std::string, uint32_t>, size_t> index;
    for (const FleetFailure& failure : failures) {
        const RunRecord& run = failure.run;
        const auto key = std::make_tuple(run.status, run.taskIndex, run.threads, run.fault, run.progressed ? run.prime : 0);
        const auto [at, added] = index.try_emplace(key, groups.size());
        if (added) groups.push_back({{}, failure});
        groups[at->second].ranks.push_back(failure.rank);
    }
    for (FailureGroup& group : groups) std::sort(group.ranks.begin(), group.ranks.end());
    return groups;
}

std::string RankRanges(const std::vector<int>& ranks) { return RangesText(ranks, ", "); }

std::string RankInfoText(const RankInfo& info) {
    return Json{{"rank", info.rank}, {"host", info.host}, {"node", info.node}, {"context", info.context}}.dump();
}

RankInfo RankInfoFromText(const std::string& text) {
    const Json j = Json::parse(text);
    RankInfo info;
    info.rank = j.at("rank").get<int>();
    info.host = j.at("host").get<std::string>();
    info.node = j.at("node").get<int>();
    info.context = j.at("context").get<RunContext>();
    return info;
}

std::string RankSettingText(const RankSetting& setting) {
    return Json{{"rank", setting.rank}, {"runs", setting.runs}, {"findings", setting.findings}}.dump();
}

RankSetting RankSettingFromText(const std::string& text) {
    const Json j = Json::parse(text);
    RankSetting setting;
    setting.rank = j.at("rank").get<int>();
    setting.runs = j.at("runs").get<std::vector<RunRecord>>();
    setting.findings = j.at("findings").get<std::vector<std::string>>();
    return setting;
}
