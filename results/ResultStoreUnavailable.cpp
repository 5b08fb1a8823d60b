// The result store of a build without SQLite: every store cannot be opened.
#include "results/ResultStore.h"
#include "engine/Text.h"

bool ResultStoreAvailable() { return false; }

struct ResultStore::Impl {};

ResultStore::ResultStore(const std::string& path, Access access) {
    throw StoreError(std::string("Could not ") + (access == Access::Append ? "store the results in" : "read") + " \"" +
                     OneLine(path) + "\": this build of vantrel-cli has no result store (it was built without SQLite)");
}

ResultStore::~ResultStore() = default;

int64_t ResultStore::Append(const StoredInvocation&) { return 0; }

int64_t ResultStore::Begin(const StoredInvocation&) { return 0; }

void ResultStore::AppendRuns(int64_t, const std::vector<StoredRun>&) {}

std::vector<HistoryLine> ResultStore::History(const HistoryQuery&) { return {}; }

StoredInvocation ResultStore::Load(const std::string&) { return {}; }

void ResultStore::SetAppendHook(std::function<void(size_t)>) {}
