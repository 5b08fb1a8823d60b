#include "mpi/FleetStore.h"

FleetStore::FleetStore(std::string path_, StoredInvocation head_) : path(std::move(path_)), head(std::move(head_)) {
    head.ended = "the job ended before its verdict";
}

FleetStore::~FleetStore() = default;

std::string FleetStore::Add(const FleetSetting& setting, const std::vector<RankInfo>& ranks) {
    if (failed) return {};
    std::vector<StoredRun> runs;
    for (const FleetRow& row : setting.rows) {
        for (const RunRecord& run : row.runs) {
            StoredRun stored = StoredRunOf(run);
            stored.host = ranks[size_t(row.rank)].host;
            stored.rank = row.rank;
            runs.push_back(std::move(stored));
        }
    }
    if (runs.empty()) return {};
    try {
        if (!store) {
            store = std::make_unique<ResultStore>(path, ResultStore::Access::Append);
            invocation = store->Begin(head);
        }
        store->AppendRuns(invocation, runs);
        storedRuns += runs.size();
    } catch (const StoreError& e) {
        failed = true;
        return e.what();
    }
    return {};
}

std::string FleetStore::End(const std::string& how) {
    if (failed || !store) return {};
    try {
        store->SetEnded(invocation, how);
    } catch (const StoreError& e) {
        failed = true;
        return e.what();
    }
    return {};
}
