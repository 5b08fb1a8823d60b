// The machine as hwloc sees it (Linux): its processors, the shape of a set
// of them, and the binding of a thread to one. Loading filters out what the
// runner does not need (I/O devices, caches, distances), so that it takes a
// few milliseconds.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "machine/ProcessorFacts.h"

struct hwloc_topology;

// Which machine to load: this one, unless hwloc's own HWLOC_SYNTHETIC or
// HWLOC_XMLFILE describes another; or a synthetic description ("pack:2
// core:32 pu:2") or an XML file given here.
struct TopologySource {
    std::string synthetic;
    std::string xmlFile;
};

class HwlocTopology {
public:
    // The loaded topology, or null with `problem` set to one line.
    static std::unique_ptr<HwlocTopology> Load(const TopologySource& source, std::string& problem);
    ~HwlocTopology();
    HwlocTopology(const HwlocTopology&) = delete;
    HwlocTopology& operator=(const HwlocTopology&) = delete;

    // Empty for this machine; else where the topology came from
    // ("HWLOC_SYNTHETIC=pack:2 core:32 pu:2", "synthetic pack:2 ...").
    const std::string& Foreign() const { return foreign; }

    // When hwloc's own HWLOC_SYNTHETIC or HWLOC_XMLFILE described another
    // machine and hwloc loaded this one instead (it says nothing when it
    // cannot take the description), one line saying which and why; else
    // empty.
    const std::string& UnusedDescription() const { return unusedDescription; }

    std::vector<uint32_t> Processors() const;         // every online processor, allowed or not
    std::vector<uint32_t> AllowedProcessors() const;  // those the system lets this process use (cgroup cpuset)

    // The shape of the machine within `usable` (processor numbers).
    MachineShape ShapeOf(const std::vector<uint32_t>& usable) const;

    // Binds the calling thread to processor `processor`; false when it could not.
    bool BindThisThread(uint32_t processor) const;

private:
    explicit HwlocTopology(hwloc_topology* topology_) : topology(topology_) {}
    hwloc_topology* topology;
    std::string foreign;
    std::string unusedDescription;
};
