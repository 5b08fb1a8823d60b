#include "runner/EachCore.h"

#include "engine/RunText.h"
#include "engine/Text.h"
#include "machine/Processors.h"
#include "runner/MachineWords.h"
#include "runner/Statistics.h"

std::vector<CoreTarget> EachCoreTargets(const MachineShape& shape, BindMode bind) {
    std::vector<CoreTarget> targets;
    for (size_t core = 0; core < shape.cores.size(); ++core) {
        const std::string name = CoreName(shape, core);
        const std::vector<uint32_t>& processors = shape.cores[core];
        if (bind != BindMode::Pus || processors.size() == 1) {
            targets.push_back({processors.front(), name});
            continue;
        }
        for (uint32_t processor : processors) {
            targets.push_back({processor, "processor " + std::to_string(processor) + " of " + name});
        }
    }
    return targets;
}

std::string EachCoreProblem(const ProcessorFacts& facts, BindMode bind, std::vector<CoreTarget>& targets) {
    if (!facts.shape) return "--each-core needs the machine's cores: " + ShapePhrase(facts);
    targets = EachCoreTargets(*facts.shape, bind);
    if (targets.empty()) return "--each-core found no usable core";
    std::string problem;
    PinnedWorker(targets.front().processor, problem);
    return problem.empty() ? std::string() : "--each-core cannot place its worker: " + problem;
}

std::string GroupedNumber(uint64_t number) {
    const std::string digits = std::to_string(number);
    std::string grouped;
    for (size_t i = 0; i < digits.size(); ++i) {
        if (i > 0 && (digits.size() - i) % 3 == 0) grouped += ' ';
        grouped += digits[i];
    }
    return grouped;
}

CoreTally::CoreTally(std::vector<CoreTarget> targets_, bool perProcessor_)
    : targets(std::move(targets_)), perProcessor(perProcessor_), rows(targets.size()), seconds(targets.size()) {
    for (size_t i = 0; i < targets.size(); ++i) {
        rows[i].name = targets[i].name;
        rows[i].processor = targets[i].processor;
    }
}

void CoreTally::Add(size_t target, uint64_t number, const RunRecord& run) {
    if (target >= rows.size() || run.status == RunStatus::Stopped) return;
    Row& row = rows[target];
    ++row.runs;
    if (run.status == RunStatus::Finished) {
        seconds[target].push_back(run.seconds);
        return;
    }
    ++row.errors;
    if (run.status != RunStatus::Wrong) return;
    ++row.wrong;
    if (!row.firstWrongRun) {
        row.firstWrongRun = number;
        row.firstWrongSlot = run.wrongSlot;
    }
}

std::vector<CoreTally::Row> CoreTally::Rows() const {
    std::vector<Row> result = rows;
    for (size_t i = 0; i < result.size(); ++i) {
        if (!seconds[i].empty()) result[i].medianSeconds = MedianOf(seconds[i]);
    }
    for (size_t i = 0; i < result.size(); ++i) {
        std::vector<double> others;
        for (size_t j = 0; j < result.size(); ++j) {
            if (j != i && result[j].medianSeconds) others.push_back(*result[j].medianSeconds);
        }
        if (result[i].medianSeconds && !others.empty()) {
            result[i].againstOthers = *result[i].medianSeconds / MedianOf(others) - 1.0;
        }
    }
    return result;
}

std::vector<std::string> CoreTally::Findings() const {
    std::vector<std::string> lines;
    const char* others = perProcessor ? "processors" : "cores";
    for (const Row& row : Rows()) {
        if (row.wrong > 0) {
            std::string line = row.name + ": " + std::to_string(row.wrong) + " of " + std::to_string(row.runs) +
                               (row.runs == 1 ? " run" : " runs") + " wrong, first ";
            line += row.firstWrongSlot ? "at slot " + GroupedNumber(*row.firstWrongSlot)
                                       : "in run " + std::to_string(*row.firstWrongRun);
            lines.push_back(line);
        }
        if (row.againstOthers && *row.againstOthers >= kSlowCore) {
            lines.push_back(row.name + ": median " + SecondsText(*row.medianSeconds) + ", " +
                            ShareText(*row.againstOthers) + " slower than the other " + others);
        }
    }
    return lines;
}
