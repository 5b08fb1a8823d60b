// Ranks of a fleet without MPI, for the fleet's tests: their places and
// their runs of task 100K on one thread, as the ranks would send them.
#pragma once

#include <string>
#include <vector>

#include "engine/TaskTable.h"
#include "mpi/FleetResults.h"

constexpr int kFleetTask = 0;  // 100K

// One run of rank `rank`: finished in `seconds`, or stopped, wrong or failed.
inline RankSetting Ran(int rank, double seconds, RunStatus status = RunStatus::Finished) {
    RunRecord run = NewRunRecord(kFleetTask, 1);
    run.progressed = status != RunStatus::Failed;
    run.seconds = seconds;
    run.prime = status == RunStatus::Wrong ? TaskTable::lastPrimes[kFleetTask] + 2 : TaskTable::lastPrimes[kFleetTask];
    run.index = TaskTable::taskSizes[kFleetTask] - 1;
    SetRunCells(run, status != RunStatus::Stopped);
    run.status = status;
    if (status == RunStatus::Wrong) run.fault = "prime number 100000 is 1299709, the search reported 1299711";
    if (status == RunStatus::Failed) run.fault = "thread count \"128\" is not offered";
    if (status == RunStatus::Finished) run.verdict = "verified: last prime + digest";
    return {rank, {run}};
}

// `count` ranks, `perNode` to a host "nodeK", each on a "Test CPU" of 8 logical processors.
inline std::vector<RankInfo> Ranks(int count, int perNode) {
    std::vector<RankInfo> ranks;
    for (int rank = 0; rank < count; ++rank) {
        RankInfo info;
        info.rank = rank;
        info.node = rank - rank % perNode;
        info.host = "node" + std::to_string(info.node / perNode);
        info.context.cpu = "Test CPU";
        info.context.logicalProcessors = 8;
        ranks.push_back(info);
    }
    return ranks;
}
