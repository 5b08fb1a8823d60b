// The names of 64-bit ARM processors. Linux's /proc/cpuinfo on arm64 has no
// model name: each processor shows the codes of its maker ("CPU implementer")
// and of its design ("CPU part"), which are named here from one table.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

// The processor design of maker `implementer` and part `part`, as a person
// knows it: "ARM Neoverse-N1", "Ampere-1a"; else the codes themselves, "ARM
// implementer 0x41 part 0xd0c".
std::string ArmCoreName(uint32_t implementer, uint32_t part);

// The processors that /proc/cpuinfo's text describes, named: "ARM
// Neoverse-V2"; on a machine of several kinds of core each with its count,
// the bigger first, "4 x ARM Cortex-A76 + 4 x ARM Cortex-A55"; with the
// board's own name where the text has one, "ARM Cortex-A72 (Raspberry Pi 4
// Model B Rev 1.4)". Empty for a text without ARM's codes (x86, say).
std::string ArmCpuName(std::string_view cpuinfo);
