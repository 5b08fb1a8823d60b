#include "results/ResultSets.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <stdexcept>

#include "results/ResultStore.h"
#include "runner/JsonForms.h"
#include "runner/SaveFileName.h"
#include "runner/SettingGroups.h"
#include "runner/Text.h"

namespace {

using Json = nlohmann::ordered_json;

std::runtime_error Unreadable(const std::string& source, const std::string& reason) {
    return std::runtime_error("Could not read \"" + OneLine(source) + "\": " + reason);
}

// One result row of a report, or one stored run: its setting, its finished
// runs' seconds and how it ended.
struct Row {
    std::string task;
    uint16_t threads = 0;
    std::vector<double> seconds;
    RunStatus status = RunStatus::Finished;
};

// The rows pooled by setting, in the order each setting first ran.
std::vector<ResultSetting> Pooled(const std::vector<Row>& rows) {
    std::vector<ResultSetting> settings;
    for (const std::vector<const Row*>& group : GroupBySetting(rows)) {
        ResultSetting setting{group.front()->task, group.front()->threads, {}, RunStatus::Finished};
        for (const Row* row : group) {
            setting.seconds.insert(setting.seconds.end(), row->seconds.begin(), row->seconds.end());
            if (row->status != RunStatus::Finished) setting.status = row->status;
        }
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
    std::vector<Row> rows;
    for (const StoredRun& run : invocation.runs) {
        Row row{run.task, run.threads, {}, run.status};
        if (run.status == RunStatus::Finished && run.seconds) row.seconds.push_back(*run.seconds);
        rows.push_back(std::move(row));
    }
    set.settings = Pooled(rows);
    return set;
}

// A result of a report: task, threads and run_seconds it must have; a status
// it may (a missing one is "finished", as in reports of the first version).
Row RowOf(const Json& item, const std::string& source) {
    const auto runs = item.is_object() ? item.find("run_seconds") : item.end();
    const bool valid = item.is_object() && item.contains("task") && item["task"].is_string() &&
                       item.contains("threads") && item["threads"].is_number_unsigned() &&
                       item["threads"].get<uint64_t>() <= 0xFFFF && runs != item.end() && runs->is_array() &&
                       std::all_of(runs->begin(), runs->end(), [](const Json& v) { return v.is_number(); });
    if (!valid) {
        throw Unreadable(source, "the file is not a JSON report of vantrel-cli (a result without task, threads or "
                                 "run_seconds)");
    }
    Row row{item["task"].get<std::string>(), item["threads"].get<uint16_t>(), runs->get<std::vector<double>>(),
            RunStatus::Finished};
    if (const auto status = item.find("status"); status != item.end() && status->is_string()) {
        // A status this version does not know counts as not finished.
        row.status = RunStatusNamed(status->get<std::string>()).value_or(RunStatus::Failed);
    }
    return row;
}

ResultSet LoadFromReport(const std::string& source) {
    std::ifstream in(FilePathOf(source), std::ios::binary);
    if (!in) {
        std::error_code ignored;
        throw Unreadable(source, std::filesystem::exists(FilePathOf(source), ignored) ? "the file cannot be opened"
                                                                                      : "no such file");
    }
    Json document = Json::parse(in, nullptr, false);
    if (document.is_discarded()) throw Unreadable(source, "the file is not JSON");
    const auto results = document.is_object() ? document.find("results") : document.end();
    if (!document.is_object() || results == document.end() || !results->is_array()) {
        throw Unreadable(source, "the file is not a JSON report of vantrel-cli (no \"results\" list)");
    }
    ResultSet set;
    set.source = source;
    if (const auto context = document.find("context"); context != document.end()) set.context = context->get<RunContext>();
    std::vector<Row> rows;
    for (const Json& item : *results) rows.push_back(RowOf(item, source));
    set.settings = Pooled(rows);
    return set;
}

}  // namespace

ResultSet LoadResultSet(const std::string& source) {
    if (source.compare(0, 3, "db:") == 0) return LoadFromStore(source);
    return LoadFromReport(source);
}
