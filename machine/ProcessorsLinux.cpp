// The processors of this process on Linux: its affinity mask (taskset,
// numactl, MPI's and Slurm's binding, a container's CPU set), capped by its
// cgroup's CPU quota, on the machine hwloc describes; and the processor
// model as /proc/cpuinfo names it.
#include "machine/Processors.h"

#include <sched.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <memory>
#include <sstream>

#include "engine/Text.h"
#include "machine/ArmCpu.h"
#include "machine/CgroupQuota.h"
#include "machine/CpuModel.h"
#include "machine/ProcessorsLinux.h"

namespace {

// This machine's topology, loaded once: the placement hook uses it on the
// worker threads for the life of the process, and only reads it.
struct LoadedTopology {
    std::unique_ptr<HwlocTopology> topology;
    std::string problem;
};

const LoadedTopology& ThisMachine() {
    static const LoadedTopology loaded = [] {
        LoadedTopology result;
        result.topology = HwlocTopology::Load({}, result.problem);
        return result;
    }();
    return loaded;
}

}  // namespace

std::vector<uint32_t> AffinityProcessors() {
    // A mask of the configured size first; larger ones while the kernel's is larger.
    for (long size = std::max(sysconf(_SC_NPROCESSORS_CONF), 1L) * 2; size <= 1L << 20; size *= 2) {
        cpu_set_t* mask = CPU_ALLOC(size_t(size));
        if (mask == nullptr) break;
        const size_t bytes = CPU_ALLOC_SIZE(size_t(size));
        if (sched_getaffinity(0, bytes, mask) != 0) {
            CPU_FREE(mask);
            continue;
        }
        std::vector<uint32_t> processors;
        for (long i = 0; i < size; ++i) {
            if (CPU_ISSET_S(size_t(i), bytes, mask)) processors.push_back(uint32_t(i));
        }
        CPU_FREE(mask);
        return processors;
    }
    return {};
}

ProcessorFacts ComposeProcessorFacts(std::vector<uint32_t> cpuSet, std::optional<double> quota,
                                     const HwlocTopology* topology, const std::string& topologyProblem,
                                     uint32_t onlineProcessors) {
    ProcessorFacts facts;
    facts.machine = std::max<uint32_t>(onlineProcessors, 1);
    if (topology != nullptr) {
        const std::vector<uint32_t> all = topology->Processors();
        const std::vector<uint32_t> allowed = topology->AllowedProcessors();
        facts.machine = std::max<uint32_t>(uint32_t(all.size()), 1);
        std::sort(cpuSet.begin(), cpuSet.end());
        std::vector<uint32_t> inBoth;
        std::set_intersection(cpuSet.begin(), cpuSet.end(), allowed.begin(), allowed.end(), std::back_inserter(inBoth));
        cpuSet = std::move(inBoth);
        facts.shape = topology->ShapeOf(cpuSet);
        facts.foreignTopology = topology->Foreign();
    } else {
        facts.shapeProblem = topologyProblem;
    }
    facts.inCpuSet = std::max<uint32_t>(uint32_t(cpuSet.size()), 1);
    facts.cpuSet = CpuListText(cpuSet);
    facts.quota = quota.value_or(0.0);
    facts.usable = UsableUnderQuota(facts.inCpuSet, facts.quota);
    return facts;
}

std::string CpuModelOfSystem() {
    std::ifstream file("/proc/cpuinfo");
    std::stringstream cpuinfo;
    cpuinfo << file.rdbuf();
    // ARM names no model: the codes of each core's maker and design.
    std::string arm = ArmCpuName(cpuinfo.str());
    if (!arm.empty()) return arm;
    std::string line;
    while (std::getline(cpuinfo, line)) {
        // "model name" on x86, "Model" or "Hardware" elsewhere.
        for (const char* key : {"model name", "Model", "Hardware"}) {
            if (line.compare(0, std::strlen(key), key) == 0) {
                const size_t colon = line.find(':');
                if (colon != std::string::npos) return Trimmed(line.substr(colon + 1));
            }
        }
    }
    return {};
}

ProcessorFacts ReadProcessorFacts() {
    const LoadedTopology& loaded = ThisMachine();
    const HwlocTopology* topology = loaded.topology.get();
    const uint32_t online = uint32_t(std::max(sysconf(_SC_NPROCESSORS_ONLN), 1L));
    // Another machine, described to hwloc, is taken as it is described: this
    // process's mask and quota say nothing about it.
    if (topology != nullptr && !topology->Foreign().empty()) {
        return ComposeProcessorFacts(topology->AllowedProcessors(), std::nullopt, topology, {}, online);
    }
    ProcessorFacts facts = ComposeProcessorFacts(AffinityProcessors(), CgroupCpuQuota(), topology, loaded.problem, online);
    if (topology != nullptr) facts.unusedTopology = topology->UnusedDescription();
    return facts;
}

WorkerStartHook WorkerPlacement(BindMode mode, const ProcessorFacts& facts, std::string& problem) {
    if (mode == BindMode::None) return {};
    const LoadedTopology& loaded = ThisMachine();
    const HwlocTopology* topology = loaded.topology.get();
    const std::string asked = std::string("--bind ") + BindModeName(mode);
    if (topology == nullptr) {
        problem = asked + " cannot place the workers: " + loaded.problem;
        return {};
    }
    if (!topology->Foreign().empty()) {
        problem = asked + " cannot place the workers: the topology is not this machine's (" + topology->Foreign() + ")";
        return {};
    }
    if (!facts.shape) {
        problem = asked + " cannot place the workers: " + facts.shapeProblem;
        return {};
    }
    const std::vector<uint32_t> order = PlacementOrder(*facts.shape, mode);
    if (order.empty()) {
        problem = asked + " cannot place the workers: no usable processor";
        return {};
    }
    return [topology, order](uint16_t worker, uint16_t) {
        // A refusal leaves the worker where the system put it; the run goes on.
        topology->BindThisThread(order[worker % order.size()]);
    };
}

WorkerStartHook PinnedWorker(uint32_t processor, std::string& problem) {
    const LoadedTopology& loaded = ThisMachine();
    const HwlocTopology* topology = loaded.topology.get();
    if (topology == nullptr) {
        problem = loaded.problem;
        return {};
    }
    if (!topology->Foreign().empty()) {
        problem = "the topology is not this machine's (" + topology->Foreign() + ")";
        return {};
    }
    return [topology, processor](uint16_t, uint16_t) { topology->BindThisThread(processor); };
}
