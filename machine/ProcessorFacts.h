// The processors a run may use and the shape of the machine they belong to,
// as the reports state them: the facts themselves (Processors.h reads them
// for this process), their texts and JSON fields, the order in which
// workers are placed on them, and the thread counts they decide. Portable:
// nothing here asks the system.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// Where the worker threads run: wherever the system puts them (none), one
// per physical core first and the cores' further processors only once every
// core has a worker (cores), or the processors in the machine's order (pus).
enum class BindMode { None, Cores, Pus };

// Cores of one kind on a machine of several (performance and efficiency
// cores), counted within the usable processors.
struct CpuKind {
    std::string name;         // "performance", "efficiency", or "kind 1" ... where a machine has more than two
    uint32_t cores = 0;
    uint32_t processors = 0;  // logical processors of those cores
    bool operator==(const CpuKind&) const = default;
};

// The machine's shape within the usable processors.
struct MachineShape {
    uint32_t packages = 0;
    uint32_t numaNodes = 0;
    // Each core that holds a usable processor, with those processors (the
    // system's numbers): the most performant kind first, else in the
    // machine's order.
    std::vector<std::vector<uint32_t>> cores;
    // Each core's number in the machine and its package's (counted from 0
    // across the machine), in the order of `cores`; empty where not known.
    std::vector<uint32_t> coreNumbers;
    std::vector<uint32_t> corePackages;
    std::vector<CpuKind> kinds;  // most performant first; empty unless the cores are of more than one kind

    uint32_t Processors() const;  // of all the cores
    uint32_t MostPerCore() const;
    uint32_t FewestPerCore() const;
};

struct ProcessorFacts {
    ProcessorFacts() = default;
    // A machine of `processors` logical processors, all usable, shape
    // unknown: all that a count says, for callers that have only the count.
    ProcessorFacts(uint32_t processors);  // NOLINT(google-explicit-constructor): a count converts on purpose

    uint32_t machine = 1;  // the machine's logical processors (online)
    uint32_t usable = 1;   // those this process may use: its CPU set, capped by its CPU quota
    uint32_t inCpuSet = 1; // the processors of its CPU set (affinity)
    std::string cpuSet;    // those processors' numbers, "0-3,8"
    double quota = 0.0;  // the CPU quota in processors (cgroup cpu.max, cfs_quota_us); 0: none
    std::optional<MachineShape> shape;  // empty when it could not be read
    std::string shapeProblem;           // why not, one line
    // Where the topology came from when it is not this machine's
    // ("HWLOC_SYNTHETIC pack:2 core:32 pu:2"); empty for this machine.
    std::string foreignTopology;
    // Another machine described to hwloc that hwloc did not take, and why,
    // as one line to be said once; empty when none was described or it was
    // taken.
    std::string unusedTopology;
};

// The usable count of a CPU set of `setSize` processors under a CPU quota
// (0: none), which is rounded up: a quota of 2.5 processors lets 3 threads
// run at once, each part of the time.
uint32_t UsableUnderQuota(uint32_t setSize, double quota);

// What limits the processors a run may use: "CPU set 0-3", "CPU quota 2.5",
// both ("CPU set 0-3, CPU quota 2.5") or nothing. A quota below the set is
// named even where it rounds up to the set's count.
std::string UsableReason(const ProcessorFacts& facts);

// The context block's processor phrase: "16 logical processors, 4 usable
// (CPU set 0-3)", "2 logical processors, 2 usable (CPU quota 1.5)", or "16
// logical processors" when all are usable and nothing limits them.
std::string ProcessorPhrase(const ProcessorFacts& facts);
// The same of the counts and the reason alone.
std::string ProcessorPhrase(uint32_t machine, uint32_t usable, const std::string& reason);

// The machine's shape: "2 packages, 64 cores, 2 per core, 1 NUMA node";
// hybrid cores are named ("..., 1 or 2 per core, 1 NUMA node: 8 performance
// cores, 16 efficiency cores"), a topology that is not this machine's is
// said to be so, and an unknown shape says why.
std::string ShapePhrase(const ProcessorFacts& facts);

// The first of `counts` (ascending) that has more threads than the usable
// physical cores, where the further threads share a core with another; 0
// when none does or the shape is unknown.
uint16_t FirstCountBeyondCores(const std::vector<uint16_t>& counts, const ProcessorFacts& facts);

// The processor of each worker in turn (worker k takes entry k modulo the
// size): empty for BindMode::None.
std::vector<uint32_t> PlacementOrder(const MachineShape& shape, BindMode mode);

// The processors a run may use, the system's numbers in the machine's order:
// those of the shape, else none (not known).
std::vector<uint32_t> UsableProcessors(const ProcessorFacts& facts);

// Which of shape.cores holds `processor`; none when no usable core does.
std::optional<size_t> CoreHolding(const MachineShape& shape, uint32_t processor);

// Core `core` of shape.cores as a burn-in names it, with its processors and
// package: "core 5 (processors 5 and 37, package 0)".
std::string CoreName(const MachineShape& shape, size_t core);

// Processor numbers, ascending, as Linux lists a CPU set: "0-3,8,10-11".
std::string CpuListText(const std::vector<uint32_t>& processors);

// The option words of the modes, "none cores pus", and each with its mode.
std::vector<std::pair<std::string, BindMode>> BindChoices();
const char* BindModeName(BindMode mode);
