// The processors this process may use and the machine's shape, read from the
// system, and the placement of a run's worker threads on them. What differs
// between the systems is in ProcessorsLinux.cpp (the affinity mask, the
// cgroup CPU quota, hwloc) and ProcessorsWindows.cpp (every processor group),
// chosen by CMake.
#pragma once

#include <string>

#include "engine/PrimeFinder.h"
#include "machine/ProcessorFacts.h"

// The facts of this process now. Never fails: what cannot be read is left
// out (the shape, with one line saying why), and at least one processor is
// usable. The first call loads the machine's topology, which takes
// milliseconds on most machines and seconds for one of thousands of cores
// under a single package (docs/benchmarks.md): only what runs calls it.
ProcessorFacts ReadProcessorFacts();

// What each worker thread runs as it starts so that the workers land as
// `mode` asks; empty when nothing is to be done. On Windows, workers are
// spread over the processor groups in proportion to their sizes whatever the
// mode. When the mode cannot be honoured (the shape is unknown, the
// topology is not this machine's, the system refuses), `problem` says so on
// one line and the workers run where the system puts them. `facts` are the
// processors ReadProcessorFacts gave, the ones the report states.
WorkerStartHook WorkerPlacement(BindMode mode, const ProcessorFacts& facts, std::string& problem);

// What a worker thread runs as it starts so that it runs on `processor`
// alone (a burn-in of each core in turn); empty, with `problem` set to one
// line, when no worker can be placed on this machine.
WorkerStartHook PinnedWorker(uint32_t processor, std::string& problem);
