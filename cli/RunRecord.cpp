#include "cli/RunRecord.h"

#include <algorithm>

#include "engine/RunText.h"
#include "engine/TaskTable.h"
#include "tools/PrimeSieve.h"

const char* RunStatusName(RunStatus status) {
    switch (status) {
        case RunStatus::Finished: return "finished";
        case RunStatus::Stopped: return "stopped";
        case RunStatus::Wrong: return "wrong";
        case RunStatus::Failed: return "failed";
    }
    return "failed";
}

RunRecord NewRunRecord(int taskIndex, uint16_t threads) {
    RunRecord record;
    record.taskIndex = taskIndex;
    record.targetCount = TaskTable::taskSizes[taskIndex];
    record.threads = threads;
    record.task = TaskTable::Label(taskIndex);
    record.threadText = ThreadCountText(threads);
    return record;
}

void SetRunCells(RunRecord& record, bool finished) {
    if (!record.progressed) {
        // Like a grid row of a run stopped before its first progress message.
        record.primeText.clear();
        record.timeText.clear();
        return;
    }
    record.primeText = finished ? FinishedPrimeText(record.prime)
                                : ProgressPrimeText(record.prime, record.index, record.targetCount);
    record.timeText = TimeText(record.seconds);
}

double MedianOf(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    if (n % 2 == 1) return values[n / 2];
    return (values[n / 2 - 1] + values[n / 2]) / 2.0;
}

SettingResult SummarizeSetting(const std::vector<RunRecord>& runs, int repeats) {
    SettingResult result;
    result.repeats = repeats;
    size_t fastest = 0;
    for (size_t i = 0; i < runs.size(); ++i) {
        result.runSeconds.push_back(runs[i].seconds);
        if (runs[i].seconds < runs[fastest].seconds) fastest = i;
    }
    result.row = runs[fastest];
    result.minSeconds = runs[fastest].seconds;
    result.medianSeconds = MedianOf(result.runSeconds);
    return result;
}

void SetSpeedup(SettingResult& result, double oneThreadSeconds) {
    if (result.minSeconds <= 0.0 || result.row.threads == 0) return;
    result.speedup = oneThreadSeconds / result.minSeconds;
    result.efficiency = *result.speedup / double(result.row.threads);
}

std::string VerifyRun(uint32_t targetCount, uint32_t expectedPrime, uint64_t expectedDigest, uint32_t finishedIndex,
                      uint32_t finishedPrime, const uint32_t* primes, uint32_t lastIndex) {
    const std::string n = std::to_string(targetCount);
    if (finishedPrime != expectedPrime) {
        return "prime number " + n + " is " + std::to_string(expectedPrime) + ", the search reported " +
               std::to_string(finishedPrime);
    }
    if (finishedIndex != targetCount - 1) {
        return "the search finished at index " + std::to_string(finishedIndex) + " instead of " +
               std::to_string(targetCount - 1);
    }
    if (primes == nullptr || lastIndex != targetCount) {
        return "the primes table holds " + std::to_string(primes == nullptr ? 0 : lastIndex) + " primes instead of " + n;
    }
    if (PrimesDigest(primes, targetCount) == expectedDigest) return {};
    const std::string wrong = FirstWrongSlot(primes, targetCount);
    // Every slot right and still another digest: the known digest is wrong.
    return wrong.empty() ? "the digest of the primes table differs from the known one, yet a sieve finds every slot right"
                         : wrong;
}

std::string FirstWrongSlot(const uint32_t* primes, uint32_t count) {
    PrimeSieve sieve;
    uint32_t slot = 0;
    while (slot < count) {
        const std::vector<uint32_t>& expected = sieve.NextSegment();
        if (expected.empty()) return "slot " + std::to_string(slot) + " is beyond the primes below 2^32";
        for (size_t i = 0; i < expected.size() && slot < count; ++i, ++slot) {
            if (primes[slot] == expected[i]) continue;
            return "slot " + std::to_string(slot) + ": prime number " + std::to_string(uint64_t{slot} + 1) + " is " +
                   std::to_string(expected[i]) + ", the table holds " + std::to_string(primes[slot]);
        }
    }
    return {};
}
