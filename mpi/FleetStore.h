// The fleet's invocation in the result store, written by rank 0 setting by
// setting as each is gathered, so that a job that ends early (a rank lost,
// the deadline past) keeps every setting gathered before it. Each step is
// one transaction of the store (results/ResultStore.h: Begin, AppendRuns).
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "mpi/FleetResults.h"
#include "results/ResultStore.h"

class FleetStore {
public:
    // head: rank 0's context, the command line and the label; no runs.
    FleetStore(std::string path, StoredInvocation head);
    ~FleetStore();

    // Stores every rank's runs of `setting`, each with its host and rank;
    // the invocation first, with the first setting that has runs. After a
    // failure it tries nothing more. Returns an empty string, or one line
    // naming the file and why it could not.
    std::string Add(const FleetSetting& setting, const std::vector<RankInfo>& ranks);

    // Records how the job ended: empty when it ran to its end, else the
    // verdict that says how it ended early. Until then the invocation is
    // stored as one whose end never came (rank 0 killed with the job).
    // Returns as Add does.
    std::string End(const std::string& how);

    // Whether any run is stored.
    bool Stored() const { return storedRuns > 0; }
    const std::string& Path() const { return path; }

private:
    std::string path;
    StoredInvocation head;
    std::unique_ptr<ResultStore> store;
    int64_t invocation = 0;
    size_t storedRuns = 0;
    bool failed = false;
};
