// How vantrel-cli.exe reads the machine's shape, given the system's answer
// apart so that tests describe machines this one is not.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <type_traits>

#include "machine/ProcessorFacts.h"

// A core's efficiency class, the byte after its flags (Windows 10 on;
// MinGW's headers still call it Reserved[0]): higher is more performant.
template <class Relationship>
auto& EfficiencyClassOf(Relationship& processor) {
    return reinterpret_cast<std::conditional_t<std::is_const_v<Relationship>, const uint8_t, uint8_t>*>(&processor)[1];
}

// The shape GetLogicalProcessorInformationEx(RelationAll) gives in `buffer`:
// its packages, NUMA nodes and cores (each core's processors numbered 64 *
// group + bit), and the kinds of cores where their efficiency classes
// differ. Nothing when it names no core.
std::optional<MachineShape> ShapeFromProcessorInformation(const uint8_t* buffer, size_t size);
