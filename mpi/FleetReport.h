// The fleet report, written by rank 0 alone: one row per rank and setting,
// the fleet's figures per setting with its outliers, and the failures named.
// The table is for people (beyond a screenful of ranks it shows the failures
// and outliers in full and the rest as a distribution); CSV and JSON carry
// every row with each rank's context, for tools.
#pragma once

#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "mpi/FleetOptions.h"
#include "mpi/FleetResults.h"

struct FleetHeader {
    FleetOptions options;
    std::vector<RankInfo> ranks;  // by rank
    FleetHosts hosts;
    std::string date;  // rank 0's
};

// Every format puts each setting out (and flushes it) as soon as it is
// gathered, so that a job ended by a lost rank leaves every setting before
// it complete: the table's rows and figures, CSV's rows, and JSON's rows in
// a document that End closes. End writes the failures, the figures of the
// whole fleet and, last, the verdict (mpi/FleetVerdict.h).
class FleetReportWriter {
public:
    virtual ~FleetReportWriter() = default;
    virtual void Begin(const FleetHeader& header) = 0;
    virtual void Setting(const FleetSetting& setting) = 0;
    virtual void End(const FleetTally& tally) = 0;
};

// Up to this many ranks the table shows every row.
constexpr size_t kScreenfulRanks = 40;

std::unique_ptr<FleetReportWriter> MakeFleetReportWriter(ReportFormat format, std::ostream& out);

// "node7, rank 12"
std::string RankName(const RankInfo& info);
