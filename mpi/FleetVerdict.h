// The one line every fleet report ends with, in every format the same words,
// and the exit code that goes with it: whoever reads either learns the same.
#pragma once

#include <string>
#include <vector>

#include "mpi/FleetOptions.h"
#include "mpi/FleetResults.h"

struct FleetVerdict {
    bool pass = false;
    int exitCode = 0;  // 0 or 130 (stopped) for a pass; 1, or 130 for a stop before any run finished
    std::string text;  // "PASS: ..." or "FAIL: ...", plain words
};

FleetVerdict JudgeFleet(const FleetTally& tally, const std::vector<RankInfo>& ranks, const FleetOptions& options);

// "rank 3 on node7", "ranks 0-63 on node1", "12 ranks (0-3, 8-15)": who a
// verdict or a detail line is about.
std::string RanksText(const std::vector<int>& ranks, const std::vector<RankInfo>& infos);

// "90s", "10m", "1h": a duration as --deadline takes it.
std::string DurationText(int64_t seconds);

// How long rank 0 waited for the ranks of `loss`: "within 90s (--deadline)",
// or "once the job was being stopped".
std::string WaitedText(const FleetLoss& loss);
