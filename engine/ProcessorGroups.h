// Windows keeps up to 64 logical processors in a processor group, and before
// Windows 11 a process's threads stay in one group unless each is placed.
// The Windows program and vantrel-cli.exe place their workers by this rule;
// it is arithmetic only, so it lives in the portable core beside the thread
// list.
#pragma once

#include <cstdint>
#include <vector>

// The group of worker k of `threads` on a machine whose groups hold
// `groupSizes` active processors: the group holding the processor at
// (k + 1/2) * total / threads, the processors of all groups laid end to end.
// Each group so gets its share of the workers in proportion to its size,
// rounded, in one block of consecutive workers. 0 without groups.
uint16_t WorkerGroup(uint32_t worker, uint32_t threads, const std::vector<uint32_t>& groupSizes);
