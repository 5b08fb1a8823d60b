// A context's processors with every field set, for the places that keep
// them (the JSON context, the store) to read back.
#pragma once

#include "runner/RunContext.h"

// 6 processors of a hybrid machine, given by a CPU set, placed on cores.
inline ProcessorContext BoundHybridProcessors() {
    ProcessorContext p;
    p.usable = 6;
    p.reason = "CPU set 0-5";
    p.shape = "1 package, 4 cores, 1 to 2 per core, 1 NUMA node: 2 performance cores, 2 efficiency cores";
    p.packages = 1;
    p.numaNodes = 1;
    p.cores = 4;
    p.pusPerCore = 2;
    p.kinds = {{"performance", 2, 4}, {"efficiency", 2, 2}};
    p.topologySource = "HWLOC_XMLFILE=hybrid.xml";
    p.bind = "cores";
    return p;
}
