// What the ranks of a fleet run tell rank 0, and what rank 0 makes of it:
// every rank's setting, the fleet's figures per setting, its outliers and
// its failures. Nothing here knows MPI: the ranks' parts travel as JSON text.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "runner/RunContext.h"
#include "runner/RunRecord.h"

// Where a rank runs, as rank 0 learns it before the first run.
struct RankInfo {
    int rank = 0;
    std::string host;  // the MPI processor name: the node's host name
    int node = 0;      // the lowest rank on the same node: ranks of one node share it
    RunContext context;
};

// One rank's runs of one setting, in order; a setting the rank could not run
// at all holds one Failed run that says why.
struct RankSetting {
    int rank = 0;
    std::vector<RunRecord> runs;
};

// The co-located ranks of a fleet: ranks on one node compete for its cores,
// so their times are not a node's.
struct FleetHosts {
    int distinctHosts = 0;
    std::vector<bool> sharesHost;                // by rank
    std::vector<std::vector<int>> sharedGroups;  // the ranks of each node that runs more than one, by lowest rank
};

FleetHosts FindSharedHosts(const std::vector<RankInfo>& ranks);

// One rank's row of a setting.
struct FleetRow {
    int rank = 0;
    SettingResult result;  // the runner's summary; result.row is the run shown
    RunStatus status = RunStatus::Failed;
    std::optional<double> seconds;        // verified: the median of its runs
    std::optional<double> slowerPercent;  // verified: against the fleet median, negative when faster
    bool outlier = false;
    std::vector<RunRecord> runs;  // every run, for the store
};

// A setting across the fleet. The figures cover the verified rows only.
struct FleetSetting {
    int taskIndex = 0;
    uint16_t threads = 0;
    std::vector<FleetRow> rows;  // in rank order
    int verified = 0;
    double minSeconds = 0.0;
    double medianSeconds = 0.0;
    double maxSeconds = 0.0;
    double spreadPercent = 0.0;  // (max - min) / median
};

// The fleet's view of one setting: each rank's summary (the median of its
// finished runs), the fleet's min, median, max and spread, and the ranks
// slower than the fleet median by more than outlierPercent.
FleetSetting SummarizeFleetSetting(int taskIndex, uint16_t threads, const std::vector<RankSetting>& ranks, int repeat,
                                   double outlierPercent);

// A rank whose run is wrong or failed, as the report names it.
struct FleetFailure {
    int rank = 0;
    RunRecord run;
    uint32_t expectedPrime = 0;
};

// What the whole run came to, gathered setting by setting on rank 0.
struct FleetTally {
    std::vector<FleetFailure> failures;
    int outliers = 0;
    bool stopped = false;
    int settings = 0;
    // The cost of gathering on rank 0: every gather's bytes and seconds.
    uint64_t gatheredBytes = 0;
    double gatherSeconds = 0.0;

    void Add(const FleetSetting& setting);
    // 1 for a failure (or an outlier with failOnOutlier), else 130 when
    // stopped, else 0.
    int ExitCode(bool failOnOutlier) const;
};

// The wire forms, one JSON text each.
std::string RankInfoText(const RankInfo& info);
RankInfo RankInfoFromText(const std::string& text);
std::string RankSettingText(const RankSetting& setting);
RankSetting RankSettingFromText(const std::string& text);

// Keeps the fleet's invocation in the result store at path: rank 0's context,
// the command line and label, and every rank's runs, setting by setting,
// each with its host and rank. Returns an empty string, or one line naming
// the file and the reason it could not.
std::string StoreFleet(const std::string& path, const RunContext& context, const std::string& commandLine,
                       const std::string& label, const std::vector<RankInfo>& ranks,
                       const std::vector<FleetSetting>& settings);
