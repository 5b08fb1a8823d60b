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
    // With --each-core: the rank's cores that were wrong or markedly slow, in
    // the rank's own words ("core 5 (processors 5 and 37, package 0): ...").
    std::vector<std::string> findings = {};
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
    bool stoppedAfter = false;  // verified runs, then one stopped: the row is the verified ones
    std::vector<RunRecord> runs;  // every run, for the store
    // What took the node's machine during its runs, where something did:
    // "hot: 96 °C, fleet median 70 °C; thermal throttling (214 throttle events)".
    std::string machineNote;
    std::vector<std::string> findings;  // RankSetting's
};

// A node this much hotter than the fleet's median is named hot.
constexpr double kHotterThanFleet = 10.0;

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
// finished runs, also when a stop ended its last), the fleet's min, median,
// max and spread, and the ranks slower than the fleet median by more than
// outlierPercent.
// Each row notes what took its node's machine: hotter than the fleet by
// kHotterThanFleet, throttled, the hypervisor's steal, and other programs'
// load, except on a node the rank shares (`sharesHost`, by rank), where the
// other ranks are those programs.
FleetSetting SummarizeFleetSetting(int taskIndex, uint16_t threads, const std::vector<RankSetting>& ranks, int repeat,
                                   double outlierPercent, const std::vector<bool>& sharesHost = {});

// A rank whose run is wrong or failed, as the report names it.
struct FleetFailure {
    int rank = 0;
    RunRecord run;
    uint32_t expectedPrime = 0;
};

// The setting's wrong and failed rows, in rank order.
std::vector<FleetFailure> FailuresOf(const FleetSetting& setting);

// Ranks whose runs failed alike (the same status, setting and fault): a
// fleet of identical nodes fails identically, and is named once.
struct FailureGroup {
    std::vector<int> ranks;  // in rank order
    FleetFailure first;      // the lowest rank's
};

std::vector<FailureGroup> GroupFailures(const std::vector<FleetFailure>& failures);

// Ranks that did not arrive at a step within the deadline: stopped, hung or
// gone. Rank 0 names them and ends the job.
struct FleetLoss {
    std::vector<int> ranks;  // in rank order
    std::string step;        // where rank 0 waited: "the end of run 2 of 3 of 10M on 4 cores"
    int64_t seconds = 0;     // how long it waited
    bool afterStop = false;  // it waited only briefly: a stop signal had come (the job being ended)
};

// What the whole run came to, gathered setting by setting on rank 0.
struct FleetTally {
    std::vector<FleetFailure> failures;
    int outliers = 0;
    bool stopped = false;
    int settings = 0;
    int runs = 0;  // by every rank
    int verifiedRuns = 0;
    int stoppedRuns = 0;
    std::optional<FleetLoss> loss;
    std::string gatherFailure;  // one line: the results of a setting were too large to gather
    std::string ungathered;     // which: "the ranks' results of 10M on 4 cores"
    std::string storeFailure;   // one line: the store could not be written
    // The cost of gathering on rank 0: every gather's bytes and seconds.
    uint64_t gatheredBytes = 0;
    double gatherSeconds = 0.0;

    void Add(const FleetSetting& setting);
};

// "0-3, 7, 9-10": ranks in rank order, runs of consecutive ones as ranges.
std::string RankRanges(const std::vector<int>& ranks);

// The wire forms, one JSON text each.
std::string RankInfoText(const RankInfo& info);
RankInfo RankInfoFromText(const std::string& text);
std::string RankSettingText(const RankSetting& setting);
RankSetting RankSettingFromText(const std::string& text);
