#include "machine/ProcessorFacts.h"

#include <algorithm>
#include <cmath>

#include "engine/Text.h"

namespace {

std::string PerCore(const MachineShape& shape) {
    const uint32_t fewest = shape.FewestPerCore();
    const uint32_t most = shape.MostPerCore();
    if (fewest == most) return std::to_string(most) + " per core";
    return std::to_string(fewest) + " to " + std::to_string(most) + " per core";
}

}  // namespace

ProcessorFacts::ProcessorFacts(uint32_t processors)
    : machine(std::max<uint32_t>(processors, 1)), usable(machine), inCpuSet(machine) {}

uint32_t MachineShape::Processors() const {
    uint32_t total = 0;
    for (const std::vector<uint32_t>& core : cores) total += uint32_t(core.size());
    return total;
}

uint32_t MachineShape::MostPerCore() const {
    size_t most = 0;
    for (const std::vector<uint32_t>& core : cores) most = std::max(most, core.size());
    return uint32_t(most);
}

uint32_t MachineShape::FewestPerCore() const {
    if (cores.empty()) return 0;
    size_t fewest = cores.front().size();
    for (const std::vector<uint32_t>& core : cores) fewest = std::min(fewest, core.size());
    return uint32_t(fewest);
}

uint32_t UsableUnderQuota(uint32_t setSize, double quota) {
    if (!(quota > 0.0) || quota >= double(setSize)) return std::max<uint32_t>(setSize, 1);
    return std::max<uint32_t>(uint32_t(std::ceil(quota)), 1);
}

std::string UsableReason(const ProcessorFacts& facts) {
    std::string reason;
    if (facts.inCpuSet < facts.machine && !facts.cpuSet.empty()) reason = "CPU set " + facts.cpuSet;
    // A quota below the set limits the run even where it rounds up to the
    // set's count: 1.5 processors' time on 2 lets two threads run, each
    // three quarters of the time.
    if (facts.quota > 0.0 && facts.quota < double(facts.inCpuSet)) {
        reason += (reason.empty() ? "CPU quota " : ", CPU quota ") + FullPrecision(facts.quota);
    }
    return reason;
}

std::string ProcessorPhrase(const ProcessorFacts& facts) {
    return ProcessorPhrase(facts.machine, facts.usable, UsableReason(facts));
}

std::string ProcessorPhrase(uint32_t machine, uint32_t usable, const std::string& reason) {
    std::string phrase = Plural(machine, "logical processor", "logical processors");
    if (usable >= machine && reason.empty()) return phrase;
    phrase += ", " + std::to_string(usable) + " usable";
    return reason.empty() ? phrase : phrase + " (" + reason + ")";
}

std::string ShapePhrase(const ProcessorFacts& facts) {
    if (!facts.shape) return "shape unknown: " + facts.shapeProblem;
    const MachineShape& shape = *facts.shape;
    std::string phrase = Plural(shape.packages, "package", "packages") + ", " +
                         Plural(shape.cores.size(), "core", "cores") + ", " + PerCore(shape) + ", " +
                         Plural(shape.numaNodes, "NUMA node", "NUMA nodes");
    for (const CpuKind& kind : shape.kinds) {
        phrase += (&kind == &shape.kinds.front() ? ": " : ", ") + Plural(kind.cores, kind.name + " core", kind.name + " cores");
    }
    if (!facts.foreignTopology.empty()) phrase += " (from " + facts.foreignTopology + ", not this machine)";
    return phrase;
}

uint16_t FirstCountBeyondCores(const std::vector<uint16_t>& counts, const ProcessorFacts& facts) {
    if (!facts.shape) return 0;
    for (uint16_t count : counts) {
        if (count > facts.shape->cores.size()) return count;
    }
    return 0;
}

std::vector<uint32_t> PlacementOrder(const MachineShape& shape, BindMode mode) {
    std::vector<uint32_t> order;
    if (mode == BindMode::Pus) {
        for (const std::vector<uint32_t>& core : shape.cores) order.insert(order.end(), core.begin(), core.end());
    } else if (mode == BindMode::Cores) {
        // The j-th processor of every core before the (j+1)-th of any.
        for (uint32_t j = 0; j < shape.MostPerCore(); ++j) {
            for (const std::vector<uint32_t>& core : shape.cores) {
                if (j < core.size()) order.push_back(core[j]);
            }
        }
    }
    return order;
}

std::vector<uint32_t> UsableProcessors(const ProcessorFacts& facts) {
    std::vector<uint32_t> processors;
    if (!facts.shape) return processors;
    for (const std::vector<uint32_t>& core : facts.shape->cores) processors.insert(processors.end(), core.begin(), core.end());
    return processors;
}

std::optional<size_t> CoreHolding(const MachineShape& shape, uint32_t processor) {
    for (size_t core = 0; core < shape.cores.size(); ++core) {
        const std::vector<uint32_t>& pus = shape.cores[core];
        if (std::find(pus.begin(), pus.end(), processor) != pus.end()) return core;
    }
    return std::nullopt;
}

std::string CoreName(const MachineShape& shape, size_t core) {
    const std::vector<uint32_t>& pus = shape.cores.at(core);
    std::string processors;
    for (size_t i = 0; i < pus.size(); ++i) {
        processors += (i == 0 ? "" : i + 1 == pus.size() ? " and " : ", ") + std::to_string(pus[i]);
    }
    const uint32_t number = core < shape.coreNumbers.size() ? shape.coreNumbers[core] : uint32_t(core);
    std::string name = "core " + std::to_string(number) + " (" + (pus.size() == 1 ? "processor " : "processors ") + processors;
    if (core < shape.corePackages.size()) name += ", package " + std::to_string(shape.corePackages[core]);
    return name + ")";
}

std::string CpuListText(const std::vector<uint32_t>& processors) { return RangesText(processors, ","); }

std::vector<std::pair<std::string, BindMode>> BindChoices() {
    return {{"none", BindMode::None}, {"cores", BindMode::Cores}, {"pus", BindMode::Pus}};
}

const char* BindModeName(BindMode mode) {
    switch (mode) {
        case BindMode::None: return "none";
        case BindMode::Cores: return "cores";
        case BindMode::Pus: return "pus";
    }
    return "none";
}
