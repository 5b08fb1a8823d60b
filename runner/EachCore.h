// A burn-in of each core on its own (--stress --each-core): the task runs on
// one worker placed on each usable core in turn, or on each logical
// processor in turn with --bind pus, so that a wrong result or a slow run
// names the core that computed it.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "machine/ProcessorFacts.h"
#include "runner/RunRecord.h"

// One place a run's worker is put, and its name in the report: "core 5
// (processors 5 and 37, package 0)", or with --bind pus "processor 37 of
// core 5 (processors 5 and 37, package 0)".
struct CoreTarget {
    uint32_t processor = 0;
    std::string name;
};

// The places in the order the runs take them: each core's first processor,
// the performance cores first; with BindMode::Pus every processor of each core.
std::vector<CoreTarget> EachCoreTargets(const MachineShape& shape, BindMode bind);

// The places of `facts` for `bind` in `targets`; or, when there are none or
// no worker can be placed on this machine, why, one line ("--each-core
// cannot place the worker: ...").
std::string EachCoreProblem(const ProcessorFacts& facts, BindMode bind, std::vector<CoreTarget>& targets);

// A core markedly slower than the others: its median time this much above theirs.
constexpr double kSlowCore = 0.10;

// "1 204 311": digits in groups of three, as a slot is named.
std::string GroupedNumber(uint64_t number);

// The runs of each place, as they end.
class CoreTally {
public:
    // perProcessor: the targets are logical processors (--bind pus), not cores.
    CoreTally(std::vector<CoreTarget> targets, bool perProcessor);

    const std::vector<CoreTarget>& Targets() const { return targets; }
    void Add(size_t target, uint64_t number, const RunRecord& run);

    struct Row {
        std::string name;
        uint32_t processor = 0;
        uint64_t runs = 0;
        uint64_t wrong = 0;   // runs that computed a wrong prime
        uint64_t errors = 0;  // wrong and failed runs
        std::optional<double> medianSeconds;  // of its verified runs
        std::optional<double> againstOthers;  // its median over the median of the other places' medians, minus 1
        std::optional<uint64_t> firstWrongRun;
        std::optional<uint32_t> firstWrongSlot;
    };
    std::vector<Row> Rows() const;

    // The places that computed a wrong prime ("core 5 (processors 5 and 37,
    // package 0): 3 of 40 runs wrong, first at slot 1 204 311") and those
    // markedly slower than the others ("...: median 1.32 sec, 17 % slower
    // than the other cores"), one line each.
    std::vector<std::string> Findings() const;

private:
    std::vector<CoreTarget> targets;
    bool perProcessor = false;
    std::vector<Row> rows;
    std::vector<std::vector<double>> seconds;
};
