// Where a report was made: machine, system, build and date, so that results
// from different machines can be told apart.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "machine/ProcessorFacts.h"
#include "machine/Sensors.h"

// The processors a run may use and the machine's shape, as the context block
// states them (ProcessorFacts reads them; this is what reports and the store
// keep of them).
struct ProcessorContext {
    uint32_t usable = 0;   // 0: not stated (a report or store made before it was)
    std::string reason;    // why fewer are usable than the machine has, "CPU set 0-3"; empty when all are
    std::string shape;     // "2 packages, 64 cores, 2 per core, 1 NUMA node", or why it is unknown
    std::optional<uint32_t> packages, numaNodes, cores, pusPerCore;  // none when the shape is unknown
    std::vector<CpuKind> kinds;  // of a machine with cores of more than one kind, most performant first
    std::string topologySource;  // where a topology that is not this machine's came from; empty for this one
    std::string bind = "none";   // where the workers were placed: none, cores, pus
    bool operator==(const ProcessorContext&) const = default;
};

// What the context block keeps of `facts`, with the workers placed as `bind` asks.
ProcessorContext ProcessorContextOf(const ProcessorFacts& facts, BindMode bind);

struct RunContext {
    std::string version;         // "2.0"
    std::string cpu;             // processor model, "unknown" if it cannot be read
    uint32_t logicalProcessors = 1;  // the machine's
    ProcessorContext processors;     // those the run may use, and the machine's shape
    SensorSources sensors;           // what the runs' sampler read, or why not; empty: not stated
    std::string os;              // "Linux 6.1.0-18-amd64 x86_64 (Debian GNU/Linux 12 (bookworm))"
    std::string compiler;        // "GCC 12.2.0 for x86_64-linux-gnu"
    std::string buildType;       // "Release"
    std::string flags;           // compiler flags of this build
    int bits = 0;                // 32 or 64
    std::string date;            // UTC, ISO 8601: "2026-12-07T05:51:04Z"
};

// Reads the context of this process and machine now; `facts` are its
// processors (ReadProcessorFacts), `bind` the placement of its workers.
RunContext CollectRunContext(const ProcessorFacts& facts, BindMode bind);

// The processor part of the context block's line: "16 logical processors, 4
// usable (CPU set 0-3); 1 package, 8 cores, 2 per core, 1 NUMA node" and,
// when placed, "; workers bound to cores".
std::string ProcessorsLine(const RunContext& context);

// This build's version, "2.0".
std::string VantrelVersion();
