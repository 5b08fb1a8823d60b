// Times what the runner adds at its start to learn its processors: loading
// hwloc's topology as the runner loads it (I/O devices, caches, distances
// filtered out), against hwloc's default load with the I/O devices it finds
// important; and the whole reading of the facts (affinity, cgroup quota,
// topology, shape). The median of R loads each.
//
//   topology_bench [--reps R]      (default 50)
#include <hwloc.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "machine/CgroupQuota.h"
#include "machine/HwlocTopology.h"
#include "machine/ProcessorsLinux.h"

namespace {

using Clock = std::chrono::steady_clock;

double MedianMilliseconds(int reps, const std::function<void()>& work) {
    std::vector<double> times;
    for (int i = 0; i < reps; ++i) {
        const Clock::time_point start = Clock::now();
        work();
        times.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
    }
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

void DefaultLoad() {
    hwloc_topology_t topology = nullptr;
    hwloc_topology_init(&topology);
    hwloc_topology_set_io_types_filter(topology, HWLOC_TYPE_FILTER_KEEP_IMPORTANT);
    hwloc_topology_load(topology);
    hwloc_topology_destroy(topology);
}

}  // namespace

int main(int argc, char** argv) {
    int reps = 50;
    for (int i = 1; i + 1 < argc; ++i) {
        if (std::strcmp(argv[i], "--reps") == 0) reps = std::max(1, std::atoi(argv[i + 1]));
    }
    std::string problem;
    const double filtered = MedianMilliseconds(reps, [&] { HwlocTopology::Load({}, problem); });
    const double unfiltered = MedianMilliseconds(reps, DefaultLoad);
    const double facts = MedianMilliseconds(reps, [&] {
        const auto topology = HwlocTopology::Load({}, problem);
        ComposeProcessorFacts(AffinityProcessors(), CgroupCpuQuota(), topology.get(), problem, 1);
    });
    const double synthetic = MedianMilliseconds(reps, [&] {
        const auto topology = HwlocTopology::Load({"pack:2 core:32 pu:2", ""}, problem);
        ComposeProcessorFacts(topology->Processors(), std::nullopt, topology.get(), problem, 1);
    });
    std::printf("medians of %d, milliseconds\n", reps);
    std::printf("%-58s %8.2f\n", "topology as the runner loads it (no I/O, caches, distances)", filtered);
    std::printf("%-58s %8.2f\n", "topology with hwloc's important I/O devices", unfiltered);
    std::printf("%-58s %8.2f\n", "the whole facts: affinity, cgroup quota, topology, shape", facts);
    std::printf("%-58s %8.2f\n", "the facts of a synthetic 2 x 32 x 2 (128 processors)", synthetic);
    return problem.empty() ? 0 : 1;
}
