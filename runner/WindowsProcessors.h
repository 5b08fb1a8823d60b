// How vantrel-cli.exe reads the machine's shape, given the system's answer
// apart so that tests describe machines this one is not.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>

#include "runner/ProcessorFacts.h"

// The shape GetLogicalProcessorInformationEx(RelationAll) gives in `buffer`:
// its packages, NUMA nodes and cores (each core's processors numbered 64 *
// group + bit), and the kinds of cores where their efficiency classes
// differ. Nothing when it names no core.
std::optional<MachineShape> ShapeFromProcessorInformation(const uint8_t* buffer, size_t size);
