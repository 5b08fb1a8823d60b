#include "machine/HwlocTopology.h"

#include <hwloc.h>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace {

// A bitmap of hwloc's, freed with its owner.
struct Bitmap {
    Bitmap() : set(hwloc_bitmap_alloc()) {}
    ~Bitmap() { hwloc_bitmap_free(set); }
    Bitmap(const Bitmap&) = delete;
    Bitmap& operator=(const Bitmap&) = delete;
    hwloc_bitmap_t set;
};

std::vector<uint32_t> Members(hwloc_const_bitmap_t set) {
    std::vector<uint32_t> members;
    if (set == nullptr || hwloc_bitmap_iszero(set)) return members;
    for (int i = hwloc_bitmap_first(set); i >= 0; i = hwloc_bitmap_next(set, i)) members.push_back(uint32_t(i));
    return members;
}

// The objects of `type` that hold a usable processor; a machine without
// such a level (no package or NUMA node reported) counts as one.
uint32_t CountHolding(hwloc_topology_t topology, hwloc_obj_type_t type, hwloc_const_bitmap_t usable) {
    const int total = hwloc_get_nbobjs_by_type(topology, type);
    if (total <= 0) return hwloc_bitmap_iszero(usable) ? 0 : 1;
    uint32_t count = 0;
    for (int i = 0; i < total; ++i) {
        hwloc_obj_t object = hwloc_get_obj_by_type(topology, type, unsigned(i));
        if (object != nullptr && hwloc_bitmap_intersects(object->cpuset, usable)) ++count;
    }
    return count;
}

const char* InfoOf(const hwloc_info_s* infos, unsigned count, const char* name) {
    for (unsigned i = 0; i < count; ++i) {
        if (std::strcmp(infos[i].name, name) == 0) return infos[i].value;
    }
    return nullptr;
}

// One kind of core as hwloc ranks them, lowest efficiency first.
struct Kind {
    Bitmap processors;
    int efficiency = -1;
    std::string coreType;
};

// The cores holding usable processors, each with those processors, and
// the index of their kind (-1 where the kinds are unknown).
struct UsableCore {
    std::vector<uint32_t> processors;
    int kind = -1;
    uint32_t number = 0;   // the core's logical index in the machine
    uint32_t package = 0;  // its package's
};

std::vector<UsableCore> UsableCores(hwloc_topology_t topology, hwloc_const_bitmap_t usable) {
    std::vector<UsableCore> cores;
    Bitmap inCore;
    const hwloc_obj_type_t type =
        hwloc_get_nbobjs_by_type(topology, HWLOC_OBJ_CORE) > 0 ? HWLOC_OBJ_CORE : HWLOC_OBJ_PU;
    for (hwloc_obj_t core = hwloc_get_next_obj_by_type(topology, type, nullptr); core != nullptr;
         core = hwloc_get_next_obj_by_type(topology, type, core)) {
        hwloc_bitmap_and(inCore.set, core->cpuset, usable);
        if (hwloc_bitmap_iszero(inCore.set)) continue;
        const hwloc_obj_t package = hwloc_get_ancestor_obj_by_type(topology, HWLOC_OBJ_PACKAGE, core);
        cores.push_back({Members(inCore.set), hwloc_cpukinds_get_by_cpuset(topology, core->cpuset, 0),
                         core->logical_index, package != nullptr ? package->logical_index : 0});
    }
    return cores;
}

std::vector<CpuKind> KindsOf(hwloc_topology_t topology, std::vector<UsableCore>& cores) {
    const int count = hwloc_cpukinds_get_nr(topology, 0);
    if (count < 2) return {};
    std::vector<Kind> kinds(static_cast<size_t>(count));
    bool ranked = true;
    for (int i = 0; i < count; ++i) {
        unsigned infoCount = 0;
        hwloc_info_s* infos = nullptr;
        hwloc_cpukinds_get_info(topology, unsigned(i), kinds[i].processors.set, &kinds[i].efficiency, &infoCount,
                                &infos, 0);
        const char* coreType = InfoOf(infos, infoCount, "CoreType");
        kinds[i].coreType = coreType != nullptr ? coreType : "";
        ranked = ranked && kinds[i].efficiency >= 0;
    }
    std::vector<CpuKind> found;
    std::vector<int> indexes;
    // hwloc lists the most efficient kind first; the reports name the most performant first.
    for (int i = count - 1; i >= 0; --i) {
        CpuKind kind;
        for (const UsableCore& core : cores) {
            if (core.kind != i) continue;
            ++kind.cores;
            kind.processors += uint32_t(core.processors.size());
        }
        if (kind.cores == 0) continue;
        kind.name = !kinds[i].coreType.empty() ? kinds[i].coreType : "kind " + std::to_string(i + 1);
        found.push_back(kind);
        indexes.push_back(i);
    }
    if (found.size() < 2) return {};
    if (ranked && found.size() == 2) {
        found[0].name = "performance";
        found[1].name = "efficiency";
    }
    if (ranked) {
        std::stable_sort(cores.begin(), cores.end(), [](const UsableCore& a, const UsableCore& b) { return a.kind > b.kind; });
    }
    return found;
}

// Why hwloc would not take `description` of another machine (it falls back
// to this machine without a word). hwloc is asked again only where a look
// at the file does not tell, so that a large file is not read twice.
std::string WhyNotTaken(bool synthetic, const char* description) {
    if (!synthetic) {
        struct stat file {};
        if (stat(description, &file) != 0 || access(description, R_OK) != 0) return std::strerror(errno);
        if (S_ISDIR(file.st_mode)) return "it is a folder";
        if (!S_ISREG(file.st_mode)) return "it is not a regular file";
        if (file.st_size == 0) return "the file is empty";
    }
    hwloc_topology_t scratch = nullptr;
    if (hwloc_topology_init(&scratch) != 0) return "hwloc did not take it";
    const int taken = synthetic ? hwloc_topology_set_synthetic(scratch, description)
                                : hwloc_topology_set_xml(scratch, description);
    hwloc_topology_destroy(scratch);
    if (taken == 0) return "hwloc did not take it";
    return synthetic ? "hwloc does not take it as a synthetic description" : "hwloc cannot read it as a topology";
}

}  // namespace

std::unique_ptr<HwlocTopology> HwlocTopology::Load(const TopologySource& source, std::string& problem) {
    hwloc_topology_t topology = nullptr;
    if (hwloc_topology_init(&topology) != 0) {
        problem = "hwloc could not start: " + std::string(std::strerror(errno));
        return nullptr;
    }
    std::unique_ptr<HwlocTopology> loaded(new HwlocTopology(topology));
    // Every processor, also those a cgroup leaves out: the machine's count is
    // theirs, and the usable ones are told apart from the allowed set.
    hwloc_topology_set_flags(topology, HWLOC_TOPOLOGY_FLAG_INCLUDE_DISALLOWED | HWLOC_TOPOLOGY_FLAG_NO_DISTANCES |
                                           HWLOC_TOPOLOGY_FLAG_NO_MEMATTRS);
    hwloc_topology_set_io_types_filter(topology, HWLOC_TYPE_FILTER_KEEP_NONE);
    hwloc_topology_set_cache_types_filter(topology, HWLOC_TYPE_FILTER_KEEP_NONE);
    hwloc_topology_set_icache_types_filter(topology, HWLOC_TYPE_FILTER_KEEP_NONE);
    hwloc_topology_set_type_filter(topology, HWLOC_OBJ_MISC, HWLOC_TYPE_FILTER_KEEP_NONE);
    int given = 0;
    if (!source.synthetic.empty()) {
        given = hwloc_topology_set_synthetic(topology, source.synthetic.c_str());
        loaded->foreign = "synthetic topology \"" + source.synthetic + "\"";
    } else if (!source.xmlFile.empty()) {
        given = hwloc_topology_set_xml(topology, source.xmlFile.c_str());
        loaded->foreign = "topology file \"" + source.xmlFile + "\"";
    }
    if (given != 0 || hwloc_topology_load(topology) != 0) {
        problem = "hwloc could not load the " + (loaded->foreign.empty() ? std::string("machine's topology") : loaded->foreign) +
                  ": " + std::strerror(errno);
        return nullptr;
    }
    if (loaded->foreign.empty() && hwloc_topology_is_thissystem(topology)) {
        // hwloc tries each that is set, in this order, until one loads.
        std::string unused;
        for (const bool synthetic : {true, false}) {
            const char* variable = synthetic ? "HWLOC_SYNTHETIC" : "HWLOC_XMLFILE";
            const char* value = std::getenv(variable);
            if (value == nullptr || *value == '\0') continue;
            unused += std::string(unused.empty() ? "" : ", nor ") + variable + "=\"" + value + "\"" +
                      (unused.empty() ? " was not used" : "") + " (" + WhyNotTaken(synthetic, value) + ")";
        }
        if (!unused.empty()) loaded->unusedDescription = unused + ": the processors and the shape are this machine's";
    } else if (loaded->foreign.empty()) {
        // hwloc took another machine from its own environment variables.
        for (const char* variable : {"HWLOC_SYNTHETIC", "HWLOC_XMLFILE"}) {
            const char* value = std::getenv(variable);
            if (value != nullptr && loaded->foreign.empty()) loaded->foreign = std::string(variable) + "=" + value;
        }
        if (loaded->foreign.empty()) loaded->foreign = "a topology hwloc was given";
    }
    return loaded;
}

HwlocTopology::~HwlocTopology() { hwloc_topology_destroy(topology); }

std::vector<uint32_t> HwlocTopology::Processors() const { return Members(hwloc_topology_get_topology_cpuset(topology)); }

std::vector<uint32_t> HwlocTopology::AllowedProcessors() const {
    return Members(hwloc_topology_get_allowed_cpuset(topology));
}

MachineShape HwlocTopology::ShapeOf(const std::vector<uint32_t>& usable) const {
    Bitmap set;
    for (uint32_t processor : usable) hwloc_bitmap_set(set.set, processor);
    hwloc_bitmap_and(set.set, set.set, hwloc_topology_get_topology_cpuset(topology));
    MachineShape shape;
    shape.packages = CountHolding(topology, HWLOC_OBJ_PACKAGE, set.set);
    shape.numaNodes = CountHolding(topology, HWLOC_OBJ_NUMANODE, set.set);
    std::vector<UsableCore> cores = UsableCores(topology, set.set);
    shape.kinds = KindsOf(topology, cores);
    for (UsableCore& core : cores) {
        shape.cores.push_back(std::move(core.processors));
        shape.coreNumbers.push_back(core.number);
        shape.corePackages.push_back(core.package);
    }
    return shape;
}

bool HwlocTopology::BindThisThread(uint32_t processor) const {
    Bitmap set;
    hwloc_bitmap_only(set.set, processor);
    return hwloc_set_cpubind(topology, set.set, HWLOC_CPUBIND_THREAD) == 0;
}
