// How ReadProcessorFacts puts the facts together on Linux, given each source
// apart so that tests describe machines this one is not.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "machine/HwlocTopology.h"
#include "machine/ProcessorFacts.h"

// The facts of a process whose CPU set is `cpuSet` (processor numbers) under
// a CPU quota of `quota` processors, on the machine `topology` describes;
// without a topology (hwloc failed, for `topologyProblem`) on a machine of
// `onlineProcessors`, shape unknown. The CPU set counts only where the
// topology allows it.
ProcessorFacts ComposeProcessorFacts(std::vector<uint32_t> cpuSet, std::optional<double> quota,
                                     const HwlocTopology* topology, const std::string& topologyProblem,
                                     uint32_t onlineProcessors);

// The processors this process's affinity mask holds (sched_getaffinity).
std::vector<uint32_t> AffinityProcessors();
