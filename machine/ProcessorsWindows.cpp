// The processors of vantrel-cli.exe: every active processor of every
// processor group, and the machine's shape from
// GetLogicalProcessorInformationEx. A processor is numbered 64 * group + its
// bit in the group's mask.
#include "machine/Processors.h"

#define WIN32_LEAN_AND_MEAN
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <algorithm>
#include <cstddef>
#include <map>
#include <vector>

#include "engine/ProcessorGroups.h"
#include "machine/CpuModel.h"
#include "machine/ProcessorsWindows.h"

namespace {

constexpr uint32_t kGroupWidth = 64;

std::vector<uint32_t> GroupSizes() {
    std::vector<uint32_t> groups;
    const WORD count = GetActiveProcessorGroupCount();
    for (WORD group = 0; group < count; ++group) groups.push_back(uint32_t(GetActiveProcessorCount(group)));
    return groups;
}

std::vector<uint8_t> ProcessorRecords() {
    DWORD bytes = 0;
    GetLogicalProcessorInformationEx(RelationAll, nullptr, &bytes);
    std::vector<uint8_t> buffer(bytes);
    if (bytes == 0 ||
        !GetLogicalProcessorInformationEx(
            RelationAll, reinterpret_cast<SYSTEM_LOGICAL_PROCESSOR_INFORMATION_EX*>(buffer.data()), &bytes)) {
        return {};
    }
    buffer.resize(bytes);
    return buffer;
}

struct Core {
    std::vector<uint32_t> processors;
    int efficiencyClass = 0;
    uint32_t number = 0;
};

// The processors of a relationship's group masks, numbered 64 * group + bit.
std::vector<uint32_t> MaskProcessors(const PROCESSOR_RELATIONSHIP& relation) {
    std::vector<uint32_t> processors;
    for (WORD g = 0; g < relation.GroupCount; ++g) {
        const GROUP_AFFINITY& mask = relation.GroupMask[g];
        for (uint32_t bit = 0; bit < sizeof(KAFFINITY) * 8; ++bit) {
            if ((mask.Mask >> bit) & 1) processors.push_back(mask.Group * kGroupWidth + bit);
        }
    }
    return processors;
}

void PlaceOn(uint32_t processor) {
    GROUP_AFFINITY affinity = {};
    affinity.Group = WORD(processor / kGroupWidth);
    affinity.Mask = KAFFINITY(1) << (processor % kGroupWidth);
    SetThreadGroupAffinity(GetCurrentThread(), &affinity, nullptr);
}

void PlaceInGroup(uint16_t group, uint32_t size) {
    GROUP_AFFINITY affinity = {};
    affinity.Group = group;
    affinity.Mask = size >= sizeof(KAFFINITY) * 8 ? ~KAFFINITY(0) : (KAFFINITY(1) << size) - 1;
    SetThreadGroupAffinity(GetCurrentThread(), &affinity, nullptr);
}

}  // namespace

std::optional<MachineShape> ShapeFromProcessorInformation(const uint8_t* buffer, size_t size) {
    MachineShape shape;
    std::vector<Core> cores;
    std::vector<std::vector<uint32_t>> packages;
    for (size_t at = 0; at + offsetof(SYSTEM_LOGICAL_PROCESSOR_INFORMATION_EX, Processor) <= size;) {
        const auto* item = reinterpret_cast<const SYSTEM_LOGICAL_PROCESSOR_INFORMATION_EX*>(buffer + at);
        if (item->Size == 0 || at + item->Size > size) break;
        switch (item->Relationship) {
            case RelationProcessorCore: {
                Core core;
                core.efficiencyClass = EfficiencyClassOf(item->Processor);
                core.processors = MaskProcessors(item->Processor);
                core.number = uint32_t(cores.size());
                if (!core.processors.empty()) cores.push_back(core);
                break;
            }
            case RelationProcessorPackage:
                ++shape.packages;
                packages.push_back(MaskProcessors(item->Processor));
                break;
            case RelationNumaNode: ++shape.numaNodes; break;
            default: break;
        }
        at += item->Size;
    }
    if (cores.empty()) return std::nullopt;
    shape.packages = std::max<uint32_t>(shape.packages, 1);
    shape.numaNodes = std::max<uint32_t>(shape.numaNodes, 1);
    // A higher efficiency class is the more performant core; the most
    // performant come first, as hwloc's kinds are listed on Linux.
    std::stable_sort(cores.begin(), cores.end(),
                     [](const Core& a, const Core& b) { return a.efficiencyClass > b.efficiencyClass; });
    std::map<int, CpuKind, std::greater<int>> kinds;
    for (const Core& core : cores) {
        CpuKind& kind = kinds[core.efficiencyClass];
        ++kind.cores;
        kind.processors += uint32_t(core.processors.size());
        shape.cores.push_back(core.processors);
        shape.coreNumbers.push_back(core.number);
        uint32_t package = 0;
        for (uint32_t p = 0; p < packages.size(); ++p) {
            const std::vector<uint32_t>& in = packages[p];
            if (std::find(in.begin(), in.end(), core.processors.front()) != in.end()) package = p;
        }
        shape.corePackages.push_back(package);
    }
    if (kinds.size() > 1) {
        for (auto& [efficiencyClass, kind] : kinds) {
            kind.name = kinds.size() == 2 ? (&kind == &kinds.begin()->second ? "performance" : "efficiency")
                                          : "class " + std::to_string(efficiencyClass);
            shape.kinds.push_back(kind);
        }
    }
    return shape;
}

// The processors name themselves (CPUID).
std::string CpuModelOfSystem() { return {}; }

ProcessorFacts ReadProcessorFacts() {
    ProcessorFacts facts(uint32_t(GetActiveProcessorCount(ALL_PROCESSOR_GROUPS)));
    const std::vector<uint8_t> information = ProcessorRecords();
    facts.shape = ShapeFromProcessorInformation(information.data(), information.size());
    if (!facts.shape) facts.shapeProblem = "the system did not describe its processors (GetLogicalProcessorInformationEx)";
    return facts;
}

WorkerStartHook WorkerPlacement(BindMode mode, const ProcessorFacts& facts, std::string& problem) {
    if (mode == BindMode::None) {
        const std::vector<uint32_t> groups = GroupSizes();
        if (groups.size() <= 1) return {};
        return [groups](uint16_t worker, uint16_t threads) {
            const uint16_t group = WorkerGroup(worker, threads, groups);
            PlaceInGroup(group, groups[group]);
        };
    }
    const std::vector<uint32_t> order = facts.shape ? PlacementOrder(*facts.shape, mode) : std::vector<uint32_t>{};
    if (order.empty()) {
        problem = std::string("--bind ") + BindModeName(mode) + " cannot place the workers: " + facts.shapeProblem;
        return {};
    }
    return [order](uint16_t worker, uint16_t) { PlaceOn(order[worker % order.size()]); };
}

WorkerStartHook PinnedWorker(uint32_t processor, std::string&) {
    return [processor](uint16_t, uint16_t) { PlaceOn(processor); };
}
