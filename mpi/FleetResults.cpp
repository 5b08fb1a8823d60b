#include "mpi/FleetResults.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <map>

#include "cli/ResultStore.h"
#include "engine/TaskTable.h"

namespace {

using Json = nlohmann::json;

Json ContextJson(const RunContext& c) {
    return {{"version", c.version}, {"cpu", c.cpu},           {"logical_processors", c.logicalProcessors},
            {"os", c.os},           {"compiler", c.compiler}, {"build_type", c.buildType},
            {"flags", c.flags},     {"bits", c.bits},         {"date", c.date}};
}

RunContext ContextOf(const Json& j) {
    RunContext c;
    c.version = j.at("version").get<std::string>();
    c.cpu = j.at("cpu").get<std::string>();
    c.logicalProcessors = j.at("logical_processors").get<uint32_t>();
    c.os = j.at("os").get<std::string>();
    c.compiler = j.at("compiler").get<std::string>();
    c.buildType = j.at("build_type").get<std::string>();
    c.flags = j.at("flags").get<std::string>();
    c.bits = j.at("bits").get<int>();
    c.date = j.at("date").get<std::string>();
    return c;
}

RunStatus StatusNamed(const std::string& name) {
    for (RunStatus status : {RunStatus::Finished, RunStatus::Stopped, RunStatus::Wrong, RunStatus::Failed}) {
        if (name == RunStatusName(status)) return status;
    }
    return RunStatus::Failed;
}

}  // namespace

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

FleetSetting SummarizeFleetSetting(int taskIndex, uint16_t threads, const std::vector<RankSetting>& ranks, int repeat,
                                   double outlierPercent) {
    FleetSetting setting;
    setting.taskIndex = taskIndex;
    setting.threads = threads;
    std::vector<double> verified;
    for (const RankSetting& part : ranks) {
        if (part.runs.empty()) continue;
        FleetRow row;
        row.rank = part.rank;
        row.runs = part.runs;
        // A rank's first run that did not finish ended its setting, as in the runner.
        row.status = part.runs.back().status;
        if (row.status == RunStatus::Finished) {
            row.result = SummarizeSetting(part.runs, repeat);
            row.seconds = row.result.medianSeconds;
            verified.push_back(*row.seconds);
        } else {
            row.result.row = part.runs.back();
            row.result.repeats = repeat;
            for (const RunRecord& run : part.runs) {
                if (run.status == RunStatus::Finished) row.result.runSeconds.push_back(run.seconds);
            }
        }
        setting.rows.push_back(std::move(row));
    }
    std::sort(setting.rows.begin(), setting.rows.end(), [](const FleetRow& a, const FleetRow& b) { return a.rank < b.rank; });
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

void FleetTally::Add(const FleetSetting& setting) {
    ++settings;
    for (const FleetRow& row : setting.rows) {
        if (row.status == RunStatus::Wrong || row.status == RunStatus::Failed) {
            failures.push_back({row.rank, row.result.row, TaskTable::lastPrimes[setting.taskIndex]});
        }
        if (row.status == RunStatus::Stopped) stopped = true;
        if (row.outlier) ++outliers;
    }
}

int FleetTally::ExitCode(bool failOnOutlier) const {
    if (!failures.empty() || (failOnOutlier && outliers > 0)) return 1;
    return stopped ? 130 : 0;
}

std::string RankInfoText(const RankInfo& info) {
    return Json{{"rank", info.rank}, {"host", info.host}, {"node", info.node}, {"context", ContextJson(info.context)}}.dump();
}

RankInfo RankInfoFromText(const std::string& text) {
    const Json j = Json::parse(text);
    RankInfo info;
    info.rank = j.at("rank").get<int>();
    info.host = j.at("host").get<std::string>();
    info.node = j.at("node").get<int>();
    info.context = ContextOf(j.at("context"));
    return info;
}

std::string RankSettingText(const RankSetting& setting) {
    Json runs = Json::array();
    for (const RunRecord& r : setting.runs) {
        runs.push_back({{"task", r.taskIndex}, {"threads", r.threads}, {"prime_text", r.primeText},
                        {"time_text", r.timeText}, {"progressed", r.progressed}, {"index", r.index},
                        {"prime", r.prime}, {"seconds", r.seconds}, {"status", RunStatusName(r.status)},
                        {"fault", r.fault}, {"verdict", r.verdict}});
    }
    return Json{{"rank", setting.rank}, {"runs", std::move(runs)}}.dump();
}

RankSetting RankSettingFromText(const std::string& text) {
    const Json j = Json::parse(text);
    RankSetting setting;
    setting.rank = j.at("rank").get<int>();
    for (const Json& r : j.at("runs")) {
        RunRecord run = NewRunRecord(r.at("task").get<int>(), r.at("threads").get<uint16_t>());
        run.primeText = r.at("prime_text").get<std::string>();
        run.timeText = r.at("time_text").get<std::string>();
        run.progressed = r.at("progressed").get<bool>();
        run.index = r.at("index").get<uint32_t>();
        run.prime = r.at("prime").get<uint32_t>();
        run.seconds = r.at("seconds").get<double>();
        run.status = StatusNamed(r.at("status").get<std::string>());
        run.fault = r.at("fault").get<std::string>();
        run.verdict = r.at("verdict").get<std::string>();
        setting.runs.push_back(std::move(run));
    }
    return setting;
}

std::string StoreFleet(const std::string& path, const RunContext& context, const std::string& commandLine,
                       const std::string& label, const std::vector<RankInfo>& ranks,
                       const std::vector<FleetSetting>& settings) {
    StoredInvocation invocation;
    invocation.context = context;
    invocation.commandLine = commandLine;
    invocation.label = label;
    for (const FleetSetting& setting : settings) {
        for (const FleetRow& row : setting.rows) {
            for (const RunRecord& run : row.runs) {
                StoredRun stored = StoredRunOf(run);
                stored.host = ranks[size_t(row.rank)].host;
                stored.rank = row.rank;
                invocation.runs.push_back(std::move(stored));
            }
        }
    }
    try {
        ResultStore store(path, ResultStore::Access::Append);
        store.Append(invocation);
    } catch (const StoreError& e) {
        return e.what();
    }
    return {};
}
